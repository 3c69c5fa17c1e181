// The SCM channel's line format: what orvane-sc and the emulated dispatcher exchange.

#include "Win32Emu/ScmLineBuffer.h"
#include "Win32Emu/ScmMessage.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Win32Emu::ScmLineBuffer;
using Win32Emu::ScmMessage;

TEST(ScmMessageTest, EveryKindSurvivesItsLine) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = SERVICE_STOPPED;
    status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = 0xFFFFFFFF;
    status.dwCheckPoint = 3;
    status.dwWaitHint = 4;
    const std::string statusLine = ScmMessage::status(status).toLine();
    EXPECT_EQ("status 16 1 0 1066 4294967295 3 4\n", statusLine);
    const auto parsed = ScmMessage::parse(statusLine.substr(0, statusLine.size() - 1));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(ScmMessage::Kind::Status, parsed->kind);
    EXPECT_EQ(0xFFFFFFFFu, parsed->statusReport.dwServiceSpecificExitCode);
    EXPECT_EQ(1066u, parsed->statusReport.dwWin32ExitCode);
    EXPECT_EQ(4u, parsed->statusReport.dwWaitHint);

    const auto connect = ScmMessage::parse("connect Orvane Client Service");
    ASSERT_TRUE(connect);
    EXPECT_EQ("Orvane Client Service", connect->serviceName);

    const auto done = ScmMessage::parse("done 1 1061");
    ASSERT_TRUE(done);
    EXPECT_EQ(ScmMessage::Kind::Done, done->kind);
    EXPECT_EQ(1u, done->code);
    EXPECT_EQ(1061u, done->result);

    EXPECT_EQ("control 4\n", ScmMessage::control(SERVICE_CONTROL_INTERROGATE).toLine());
}

TEST(ScmMessageTest, MalformedLinesAreRejected) {
    for (const char* line : {"",
                             "status",
                             "status 16 4 1 0 0 0",             // a field short
                             "status 16 4 1 0 0 0 0 0",         // a field too many
                             "status 16 4 1 0 0 0 -1",          // signed
                             "status 16 4 1 0 0 0 4294967296",  // past 32 bits
                             "status 16 4 0x1 0 0 0 0",         // hex
                             "status 16  4 1 0 0 0 0",          // double space
                             "control",
                             "control 1 2",
                             "control one",
                             "done 1",
                             "stop 1",
                             "CONTROL 1"}) {
        SCOPED_TRACE(line);
        EXPECT_FALSE(ScmMessage::parse(line));
    }
}

TEST(ScmMessageTest, ServiceNameCannotSplitTheLine) {
    const std::string line = ScmMessage::connect("Evil\ncontrol 1").toLine();
    EXPECT_EQ("connect Evil?control 1\n", line);
}

TEST(ScmLineBufferTest, LinesComeOutWholeHoweverTheBytesArrive) {
    const std::string stream = "status 16 2 0 0 0 1 3000\ncontrol 1\ndone 1 0\n";
    for (size_t piece = 1; piece <= stream.size(); ++piece) {
        SCOPED_TRACE(piece);
        ScmLineBuffer buffer;
        std::vector<std::string> lines;
        for (size_t offset = 0; offset < stream.size(); offset += piece) {
            const std::string bytes = stream.substr(offset, piece);
            buffer.append(bytes.data(), bytes.size());
            while (const auto line = buffer.nextLine()) {
                lines.push_back(*line);
            }
        }
        ASSERT_EQ(3u, lines.size());
        EXPECT_EQ("status 16 2 0 0 0 1 3000", lines[0]);
        EXPECT_EQ("control 1", lines[1]);
        EXPECT_EQ("done 1 0", lines[2]);
        EXPECT_FALSE(buffer.overflowed());
    }
}

TEST(ScmLineBufferTest, AnEndlessLineOverflows) {
    ScmLineBuffer buffer;
    const std::string junk(ScmMessage::kMaxLineLength + 1, 'x');
    buffer.append(junk.data(), junk.size());
    EXPECT_FALSE(buffer.nextLine());
    EXPECT_TRUE(buffer.overflowed());
}

}  // namespace
