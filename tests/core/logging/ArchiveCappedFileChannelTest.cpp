#include "core/logging/ArchiveCappedFileChannel.h"

#include <Poco/AutoPtr.h>
#include <Poco/DirectoryIterator.h>
#include <Poco/File.h>
#include <Poco/FileStream.h>
#include <Poco/Message.h>
#include <Poco/Path.h>
#include <Poco/TemporaryFile.h>
#include <Poco/Timestamp.h>
#include <gtest/gtest.h>

#include <set>
#include <string>

namespace OrvaneClient {
namespace {

class ArchiveCappedFileChannelTest : public ::testing::Test {
protected:
    void SetUp() override { Poco::File(directory).createDirectories(); }
    void TearDown() override { Poco::File(directory).remove(true); }

    // The channel as the service configures it, but rotating at 2 KiB instead of 5 MiB.
    Poco::AutoPtr<ArchiveCappedFileChannel> openChannel() {
        Poco::AutoPtr<ArchiveCappedFileChannel> channel(new ArchiveCappedFileChannel(logPath, 10));
        channel->setProperty("rotation", "2 K");
        channel->setProperty("purgeAge", "1 weeks");
        return channel;
    }

    std::set<std::string> fileNames() const {
        std::set<std::string> names;
        for (Poco::DirectoryIterator it(directory), end; it != end; ++it) {
            names.insert(it.name());
        }
        return names;
    }

    const std::string directory = Poco::TemporaryFile::tempName();
    const std::string logPath = Poco::Path(directory, "service.log").toString();
};

TEST_F(ArchiveCappedFileChannelTest, RotatingPastTheCapKeepsTenArchives) {
    auto channel = openChannel();
    // A rotation every third line: 13 of them.
    const std::string line(1000, 'x');
    for (int i = 0; i < 40; ++i) {
        channel->log(Poco::Message("test", line, Poco::Message::PRIO_INFORMATION));
    }
    channel->close();

    std::set<std::string> expected{"service.log"};
    for (int archive = 0; archive < 10; ++archive) {
        expected.insert("service.log." + std::to_string(archive));
    }
    EXPECT_EQ(fileNames(), expected);
}

TEST_F(ArchiveCappedFileChannelTest, ArchivesOlderThanAWeekAreStillPurged) {
    const std::string stale = logPath + ".0";
    {
        Poco::FileOutputStream out(stale);
        out << "from last month";
    }
    Poco::File(stale).setLastModified(Poco::Timestamp() - Poco::Timespan(30, 0, 0, 0, 0));

    auto channel = openChannel();
    const std::string line(1000, 'y');
    for (int i = 0; i < 4; ++i) {  // at least one rotation
        channel->log(Poco::Message("test", line, Poco::Message::PRIO_INFORMATION));
    }
    channel->close();

    const std::set<std::string> names = fileNames();
    EXPECT_TRUE(names.count("service.log.0") == 1) << "no rotation happened";
    // The stale archive, shifted to .1 by the rotation, is gone; nothing else was.
    EXPECT_EQ(names, (std::set<std::string>{"service.log", "service.log.0"}));
}

}  // namespace
}  // namespace OrvaneClient
