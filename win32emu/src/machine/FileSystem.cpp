#include "machine/FileSystem.h"

#include "machine/ApiSupport.h"
#include "machine/MachineModel.h"

#include <Poco/DirectoryIterator.h>
#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/UTF8String.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <vector>

namespace Win32Emu {

namespace {

bool hasDrive(const std::string& path) {
    return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

enum class HostKind { None, File, Directory };

HostKind hostKind(const std::string& fullPath) {
    try {
        const Poco::File file(Model().drives.hostPath(fullPath));
        if (!file.exists()) {
            return HostKind::None;
        }
        return file.isDirectory() ? HostKind::Directory : HostKind::File;
    } catch (const Poco::Exception&) {
        // Whatever the host cannot tell (a dangling link, no permission) does not exist here.
        return HostKind::None;
    }
}

// Whether a listed file lies somewhere below the directory `key`.
bool listsBelow(const Configuration& configuration, const std::string& key) {
    const std::string prefix = key.back() == '\\' ? key : key + "\\";
    const auto next = configuration.files.lower_bound(prefix);
    return next != configuration.files.end() && next->first.compare(0, prefix.size(), prefix) == 0;
}

bool isDirectory(const std::string& fullPath) {
    if (hostKind(fullPath) == HostKind::Directory) {
        return true;
    }
    MachineModel& model = Model();
    std::lock_guard<std::mutex> guard(model.lock);
    return listsBelow(model.configuration, PathKey(fullPath));
}

}  // namespace

bool SharingConflict(const std::string& key, ACCESS_MASK access, DWORD shareMode) {
    for (const auto& open : Model().handles.entries()) {
        const auto file = std::dynamic_pointer_cast<FileObject>(open.second.object);
        if (!file || file->key != key) {
            continue;
        }
        // A handle without access to the data takes no part in its sharing, as on Windows.
        const ACCESS_MASK held = open.second.access;
        const bool readConflict =
            (access & FILE_READ_DATA) != 0 && (held & FILE_READ_DATA) != 0 &&
            ((shareMode & FILE_SHARE_READ) == 0 || (file->shareMode & FILE_SHARE_READ) == 0);
        const bool deleteConflict =
            ((access & DELETE) != 0 && (file->shareMode & FILE_SHARE_DELETE) == 0) ||
            ((held & DELETE) != 0 && (shareMode & FILE_SHARE_DELETE) == 0);
        if (readConflict || deleteConflict) {
            return true;
        }
    }
    return false;
}

std::string PathKey(const std::string& fullPath) {
    return Poco::UTF8::toLower(fullPath);
}

std::optional<std::string> FullWindowsPath(const std::string& text) {
    std::string path = text;
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    if (path.empty() || path.compare(0, 2, "\\\\") == 0) {
        return std::nullopt;
    }
    if (hasDrive(path)) {
        if (path.size() == 2 || path[2] != '\\') {
            return std::nullopt;
        }
    } else {
        std::wstring current;
        {
            std::lock_guard<std::mutex> guard(Model().lock);
            current = Model().configuration.currentDirectory;
        }
        const std::string directory = ToUtf8(current);
        if (!hasDrive(directory)) {
            return std::nullopt;
        }
        path = path[0] == '\\' ? directory.substr(0, 2) + path : directory + "\\" + path;
    }

    const std::vector<std::string> components = DriveComponents(path);

    std::string full(1, static_cast<char>(std::toupper(static_cast<unsigned char>(path[0]))));
    full += ":";
    for (const std::string& name : components) {
        full += "\\" + name;
    }
    return components.empty() ? full + "\\" : full;
}

PathLookup LookUpPath(const std::string& fullPath) {
    PathLookup lookup;
    {
        MachineModel& model = Model();
        std::lock_guard<std::mutex> guard(model.lock);
        const auto listed = model.configuration.files.find(PathKey(fullPath));
        if (listed != model.configuration.files.end()) {
            lookup.kind = PathKind::File;
            lookup.marks = listed->second.entry;
            return lookup;
        }
    }
    if (isDirectory(fullPath)) {
        lookup.kind = PathKind::Directory;
        return lookup;
    }
    if (hostKind(fullPath) == HostKind::File) {
        lookup.kind = PathKind::File;
        return lookup;
    }
    const std::string::size_type last = fullPath.find_last_of('\\');
    const bool atRoot = last == 2 && fullPath.size() == 3;  // "C:\" itself
    const std::string parent = fullPath.substr(0, last == 2 ? 3 : last);
    lookup.kind = !atRoot && isDirectory(parent) ? PathKind::Missing : PathKind::MissingFolder;
    return lookup;
}

std::string SpelledPath(const std::vector<std::string>& components, const std::string& hint) {
    const std::string upper = DrivePathOf(components);
    if (components.size() < 2) {
        return upper;
    }
    MachineModel& model = Model();
    const std::string& lookup = hint.empty() ? upper : hint;
    const std::string host = model.drives.hostPath(lookup);
    std::string spelled = upper.substr(0, 2) + host.substr(model.drives.root().size() + 2);
    std::replace(spelled.begin(), spelled.end(), '/', '\\');
    if (hostKind(lookup) != HostKind::None) {
        return spelled;
    }
    const std::string link = model.security.reparseSpelling(components);
    if (!link.empty()) {
        return link;
    }
    // A listed file at or below the path spells it as it was listed.
    std::lock_guard<std::mutex> guard(model.lock);
    const std::string key = PathKey(upper);
    const auto listed = model.configuration.files.lower_bound(key);
    if (listed != model.configuration.files.end() &&
        listed->first.compare(0, key.size(), key) == 0 &&
        (listed->first.size() == key.size() || listed->first[key.size()] == '\\') &&
        listed->second.path.size() >= key.size()) {
        return listed->second.path.substr(0, key.size());
    }
    return spelled;
}

WIN32_FIND_DATAW FindEntry(const std::string& name, DWORD attributes, DWORD tag) {
    WIN32_FIND_DATAW data = {};
    data.dwFileAttributes = attributes;
    data.dwReserved0 = tag;
    const std::wstring wide = ToWide(name);
    const size_t length = std::min<size_t>(wide.size(), MAX_PATH - 1);
    std::copy(wide.begin(), wide.begin() + static_cast<std::ptrdiff_t>(length), data.cFileName);
    return data;
}

std::map<std::string, WIN32_FIND_DATAW> FolderListing(const std::vector<std::string>& folder) {
    std::map<std::string, WIN32_FIND_DATAW> entries;
    const std::string path = DrivePathOf(folder);
    try {
        for (Poco::DirectoryIterator it(Model().drives.hostPath(path)), end; it != end; ++it) {
            const bool directory = it->isDirectory();
            entries.emplace(
                Poco::UTF8::toUpper(it.name()),
                FindEntry(
                    it.name(), directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE, 0));
        }
    } catch (const Poco::Exception&) {
        // Not on the host: only what the machine lists is there.
    }
    {
        MachineModel& model = Model();
        std::lock_guard<std::mutex> guard(model.lock);
        const std::string prefix = PathKey(folder.size() == 1 ? path : path + "\\");
        for (auto it = model.configuration.files.lower_bound(prefix);
             it != model.configuration.files.end() &&
             it->first.compare(0, prefix.size(), prefix) == 0;
             ++it) {
            const std::string rest = it->second.path.substr(prefix.size());
            const size_t separator = rest.find('\\');
            const std::string name = rest.substr(0, separator);
            entries.emplace(Poco::UTF8::toUpper(name),
                            FindEntry(name,
                                      separator == std::string::npos ? FILE_ATTRIBUTE_ARCHIVE
                                                                     : FILE_ATTRIBUTE_DIRECTORY,
                                      0));
        }
    }
    for (const std::string& name : Model().security.hardLinksIn(folder)) {
        entries.emplace(Poco::UTF8::toUpper(name), FindEntry(name, FILE_ATTRIBUTE_ARCHIVE, 0));
    }
    // Tags that are not links mark the object as it is.
    for (const auto& [upper, tag] : Model().security.tagsIn(folder)) {
        const auto found = entries.find(upper);
        if (found != entries.end()) {
            found->second.dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
            found->second.dwReserved0 = tag;
        }
    }
    for (const auto& [name, tag] : Model().security.reparsePointsIn(folder)) {
        entries[Poco::UTF8::toUpper(name)] =
            FindEntry(name, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, tag);
    }
    return entries;
}

}  // namespace Win32Emu
