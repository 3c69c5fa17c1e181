// The SCM channel's line format: what orvane-sc and the emulated dispatcher exchange.

#include "Win32Emu/ScmLineBuffer.h"
#include "Win32Emu/ScmMessage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

    const std::string openLine =
        ScmMessage::open(SERVICE_START | SERVICE_QUERY_STATUS, {"S-1-5-4", "S-1-1-0"}, "My Svc")
            .toLine();
    EXPECT_EQ("open 20 S-1-5-4,S-1-1-0 My Svc\n", openLine);
    const auto open = ScmMessage::parse(openLine.substr(0, openLine.size() - 1));
    ASSERT_TRUE(open);
    EXPECT_EQ(ScmMessage::Kind::Open, open->kind);
    EXPECT_EQ(20u, open->code);
    EXPECT_EQ((std::vector<std::string>{"S-1-5-4", "S-1-1-0"}), open->sids);
    EXPECT_EQ("My Svc", open->serviceName);

    const auto start = ScmMessage::parse("start Orvane Client Service");
    ASSERT_TRUE(start);
    EXPECT_EQ(ScmMessage::Kind::Start, start->kind);
    EXPECT_EQ("Orvane Client Service", start->serviceName);

    status.dwCurrentState = SERVICE_RUNNING;
    const std::string processLine = ScmMessage::process(4242, status).toLine();
    EXPECT_EQ("process 4242 16 4 0 1066 4294967295 3 4\n", processLine);
    const auto process = ScmMessage::parse(processLine.substr(0, processLine.size() - 1));
    ASSERT_TRUE(process);
    EXPECT_EQ(4242u, process->processId);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), process->statusReport.dwCurrentState);
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
                             "CONTROL 1",
                             "event",
                             "event ",
                             "event launch ",          // a space and no field
                             "event launch pid",       // no '='
                             "event launch =1",        // no key
                             "event launch a=\"x",     // quote not closed
                             "event launch a=\"%2\"",  // short escape
                             "event launch a=\"%zz\"",
                             "event launch a=\"x\"b=1",  // no space after the quote
                             "event launch a=1  b=2",
                             "event launch a=1 ",
                             "event launch a=",      // empty values are quoted
                             "event launch a=x%22",  // bare values carry no escapes
                             "event lau/nch a=1",
                             "start ",  // a request names its service
                             "query ",
                             "open 20 S-1-5-4",  // no service name
                             "open x S-1-5-4 Svc",
                             "open 20 S-1-5-4,,S-1-1-0 Svc",
                             "process 1 16 4 0 0 0 0"}) {  // a field short
        SCOPED_TRACE(line);
        EXPECT_FALSE(ScmMessage::parse(line));
    }
}

TEST(ScmMessageTest, EventValuesSurviveTheirLine) {
    const ScmMessage::EventFields fields = {
        {"directory", "C:\\My Games\\Title\\"},  // a trailing backslash before the quote
        {"command", "\"C:\\Program Files\\x.exe\" -n 100%"},
        {"empty", ""},
        {"newline", "a\nevent acl b"},
        {"name", "J\xc3\xb6rg"},
        {"pid", "4108"}};
    const std::string line = ScmMessage::event("launch", fields).toLine();
    EXPECT_EQ(
        "event launch directory=\"C:\\My Games\\Title\\\" command=\"%22C:\\Program "
        "Files\\x.exe%22 -n 100%25\" empty=\"\" newline=\"a%0Aevent acl b\" name=J\xc3\xb6rg "
        "pid=4108\n",
        line);
    const auto parsed = ScmMessage::parse(line.substr(0, line.size() - 1));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(ScmMessage::Kind::Event, parsed->kind);
    EXPECT_EQ("launch", parsed->eventKind);
    EXPECT_EQ(fields, parsed->eventFields);
    EXPECT_TRUE(ScmMessage::parse("event ping"));
    EXPECT_THROW(ScmMessage::event("la unch", {}), std::invalid_argument);
    EXPECT_THROW(ScmMessage::event("launch", {{"a b", "1"}}), std::invalid_argument);
}

TEST(ScmMessageTest, AnEventTooLongForALineIsShortenedToFit) {
    const std::string command(5000, 'c');
    const std::string directory(700, 'd');
    const std::string line =
        ScmMessage::event("launch", {{"pid", "1"}, {"command", command}, {"directory", directory}})
            .toLine();
    EXPECT_LE(line.size(), ScmMessage::kMaxLineLength);
    const auto parsed = ScmMessage::parse(line.substr(0, line.size() - 1));
    ASSERT_TRUE(parsed);
    ASSERT_EQ(3u, parsed->eventFields.size());
    EXPECT_EQ("1", parsed->eventFields[0].second);
    for (size_t i = 1; i < 3; ++i) {
        const std::string& value = parsed->eventFields[i].second;
        EXPECT_EQ("...", value.substr(value.size() - 3));
        EXPECT_GT(value.size(), 300u) << "only as much is cut as must be";
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
