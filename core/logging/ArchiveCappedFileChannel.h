#pragma once

#include <Poco/FileChannel.h>
#include <Poco/Message.h>

#include <cstddef>
#include <string>

namespace OrvaneClient {

// A Poco::FileChannel (numbered archives, the library's default) that also keeps at most
// `maxArchives` of them, whatever purge its properties set: after every rotation it deletes
// the archives numbered `maxArchives` and above, the oldest. The service's files thus stay
// bounded on disk (the rotation size times maxArchives + 1) however fast it logs.
//
// The library keeps one purge strategy only: setting "purgeCount" would drop the one-week
// "purgeAge" the service sets, and its count purge picks the oldest by a modification time of
// whole seconds, which several rotations within one second share.
//
// Host path, as for Poco::FileChannel. Thread-safe as the library's channel; heap only.
class ArchiveCappedFileChannel : public Poco::FileChannel {
public:
    ArchiveCappedFileChannel(const std::string& path, std::size_t maxArchives);

    void log(const Poco::Message& message) override;

protected:
    ~ArchiveCappedFileChannel() override = default;

private:
    void purgeSurplusArchives();

    const std::size_t maxArchives;
};

}  // namespace OrvaneClient
