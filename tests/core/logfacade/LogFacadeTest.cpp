#include "core/logfacade/LogFacade.h"
#include "tests/support/LogCapture.h"

#include <Poco/Exception.h>
#include <Poco/Logger.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace OrvaneClient {
namespace {

using Testing::LogCapture;

TEST(LogFacade, LineOfExactlyTheLimitIsWrittenWholeAndLongerLinesAreCut) {
    LogCapture capture;
    const std::string exact(LogLineMaxCharacters, 'a');
    const std::string longer(20000, 'b');

    LogInfo("%s", exact.c_str());
    LogWarning("%s", longer.c_str());

    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, exact);
    EXPECT_EQ(lines[1].text, std::string(LogLineMaxCharacters, 'b'));
    EXPECT_EQ(lines[1].priority, Poco::Message::PRIO_WARNING);
}

TEST(LogFacade, EmptyTextIsWrittenAsAnEmptyLineAtItsLevel) {
    LogCapture capture;
    LogError("%s", "");
    ASSERT_EQ(capture.lines().size(), 1u);
    EXPECT_TRUE(capture.contains(Poco::Message::PRIO_ERROR, ""));
}

TEST(LogFacade, EachFunctionWritesAtItsPriorityAndTheLevelFilters) {
    LogCapture capture(Poco::Message::PRIO_INFORMATION);
    LogFatal("fatal %d", 1);
    LogError("error %u", 3u);
    LogWarning("warning %hu", static_cast<unsigned short>(4));
    LogInfo("info %s", "6");
    LogDebug("debug %d", 7);

    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 4u) << capture.dump();
    EXPECT_EQ(lines[0].priority, Poco::Message::PRIO_FATAL);
    EXPECT_EQ(lines[0].text, "fatal 1");
    EXPECT_EQ(lines[1].priority, Poco::Message::PRIO_ERROR);
    EXPECT_EQ(lines[1].text, "error 3");
    EXPECT_EQ(lines[2].priority, Poco::Message::PRIO_WARNING);
    EXPECT_EQ(lines[2].text, "warning 4");
    EXPECT_EQ(lines[3].priority, Poco::Message::PRIO_INFORMATION);
    EXPECT_EQ(lines[3].text, "info 6");
    EXPECT_EQ(lines[0].source, "orvane_test");
}

TEST(LogFacade, DebugIsWrittenWhenTheLevelAllowsIt) {
    LogCapture capture(Poco::Message::PRIO_DEBUG);
    LogDebug("debug %d", 7);
    EXPECT_TRUE(capture.contains(Poco::Message::PRIO_DEBUG, "debug 7"));
}

TEST(LogFacade, WideArgumentsRenderAsUtf8) {
    LogCapture capture;
    LogInfo("Directory: %ls", L"C:\\Spiele\\\u00dcberfl\u00fcgel \u6e38\u620f");
    EXPECT_TRUE(capture.contains(Poco::Message::PRIO_INFORMATION,
                                 "Directory: C:\\Spiele\\\xC3\x9C"
                                 "berfl\xC3\xBC"
                                 "gel \xE6\xB8\xB8\xE6\x88\x8F"))
        << capture.dump();
}

TEST(LogFacade, WithoutAChannelNothingIsWrittenAndNothingThrows) {
    // Before setup the default logger has no channel.
    Poco::Logger::setChannel("", nullptr);
    EXPECT_NO_THROW(LogInfo("nobody hears %s", "this"));
    EXPECT_NO_THROW(LogErrorTo("anything", "nor %s", "this"));
}

TEST(LogFacade, NamedFamilyWritesOnlyForAnEnabledNameMatchedExactly) {
    LogCapture capture;
    auto& state = GetLoggingState();
    const auto savedChannels = state.enabledChannels;
    state.enabledChannels.push_back({"Network", true});

    EXPECT_TRUE(IsLoggingChannelEnabled("Network"));
    EXPECT_FALSE(IsLoggingChannelEnabled("network"));
    EXPECT_FALSE(IsLoggingChannelEnabled("Network2"));
    EXPECT_FALSE(IsLoggingChannelEnabled("Net"));
    EXPECT_FALSE(IsLoggingChannelEnabled(nullptr));

    LogInfoTo("network", "case differs %d", 1);
    LogInfoTo("Network", "enabled %d", 2);
    LogDebugTo("Network", "debug %d", 3);
    LogFatalTo("Network", "fatal %d", 4);

    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 3u) << capture.dump();
    EXPECT_EQ(lines[0].text, "enabled 2");
    EXPECT_EQ(lines[0].source, "Network");
    EXPECT_EQ(lines[0].priority, Poco::Message::PRIO_INFORMATION);
    EXPECT_EQ(lines[1].priority, Poco::Message::PRIO_DEBUG);
    EXPECT_EQ(lines[2].priority, Poco::Message::PRIO_FATAL);
    state.enabledChannels = savedChannels;
}

class ThrowingChannel : public Poco::Channel {
public:
    void log(const Poco::Message&) override { throw Poco::IOException("disk gone"); }
};

class ThrowingStdChannel : public Poco::Channel {
public:
    void log(const Poco::Message&) override { throw std::runtime_error("anything else"); }
};

TEST(LogFacade, AChannelThatThrowsDoesNotReachTheCaller) {
    Poco::Logger::setLevel("", Poco::Message::PRIO_INFORMATION);
    Poco::Logger::setChannel("", new ThrowingChannel);
    EXPECT_NO_THROW(LogError("lost %d", 1));
    Poco::Logger::setChannel("", new ThrowingStdChannel);
    EXPECT_NO_THROW(LogWarning("lost %d", 2));
    Poco::Logger::setChannel("", nullptr);
}

}  // namespace
}  // namespace OrvaneClient
