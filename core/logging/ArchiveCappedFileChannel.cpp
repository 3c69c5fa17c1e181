#include "core/logging/ArchiveCappedFileChannel.h"

#include <Poco/DirectoryIterator.h>
#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/Path.h>

namespace OrvaneClient {

ArchiveCappedFileChannel::ArchiveCappedFileChannel(const std::string& path, std::size_t maxArchives)
    : Poco::FileChannel(path), maxArchives(maxArchives) {}

void ArchiveCappedFileChannel::log(const Poco::Message& message) {
    const Poco::UInt64 before = size();
    Poco::FileChannel::log(message);
    // A rotation leaves a file that holds only this line, shorter than before. The first line
    // (before == 0: nothing open yet) may have archived a file found full at opening.
    if (before == 0 || size() < before) {
        try {
            purgeSurplusArchives();
        } catch (const Poco::Exception&) {
            // As in the library's own purge: what cannot go now is tried at the next rotation.
        }
    }
}

void ArchiveCappedFileChannel::purgeSurplusArchives() {
    Poco::Path file(path());
    file.makeAbsolute();
    const std::string prefix = file.getFileName() + ".";
    for (Poco::DirectoryIterator it(file.parent()), end; it != end; ++it) {
        const std::string& name = it.name();
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) {
            continue;
        }
        const std::string number = name.substr(prefix.size());
        if (number.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        // More digits than any cap has: surplus, and too long to convert.
        if (number.size() > 9 || std::stoul(number) >= maxArchives) {
            Poco::File(it.path()).remove();
        }
    }
}

}  // namespace OrvaneClient
