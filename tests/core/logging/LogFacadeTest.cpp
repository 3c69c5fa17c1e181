#include "core/logging/LogFacade.h"
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

// Each conversion the facade formats itself, against the text printf gives for it.
struct ConversionCase {
    const char* name;
    std::string (*format)();
    std::string expected;
};

class LogFacadeConversion : public ::testing::TestWithParam<ConversionCase> {};

template <typename... Arguments>
std::string Logged(const char* format, Arguments... arguments) {
    LogCapture capture;
#if defined(__GNUC__) || defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
#endif
    LogInfo(format, arguments...);
#if defined(__GNUC__) || defined(__clang__)
#pragma GCC diagnostic pop
#endif
    const auto lines = capture.lines();
    return lines.size() == 1 ? lines[0].text : "<" + std::to_string(lines.size()) + " lines>";
}

TEST_P(LogFacadeConversion, RendersAsPrintfWouldWithWideTextAsUtf8) {
    EXPECT_EQ(GetParam().format(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Conversions,
    LogFacadeConversion,
    ::testing::Values(
        ConversionCase{"Integers",
                       [] {
                           return Logged("%d %i %u %hu %ld %lld %zu",
                                         -5,
                                         7,
                                         4000000000u,
                                         static_cast<unsigned short>(65535),
                                         -9L,
                                         -(1LL << 40),
                                         static_cast<size_t>(12));
                       },
                       "-5 7 4000000000 65535 -9 -1099511627776 12"},
        ConversionCase{"FlagsWidthAndStar",
                       [] { return Logged("[%-4d][%04x][%+d][%*d][%#o]", 7, 255u, 3, 5, 42, 8u); },
                       "[7   ][00ff][+3][   42][010]"},
        ConversionCase{"NarrowPrecisionAndNull",
                       [] {
                           const char* volatile none = nullptr;
                           return Logged("%.3s|%5s|%s", "abcdef", "ab", none);
                       },
                       "abc|   ab|(null)"},
        ConversionCase{
            "PercentAndTrailingPercent", [] { return Logged("100%% done %"); }, "100% done %"},
        ConversionCase{
            "UnknownConversionStaysAsWritten", [] { return Logged("%y then %d", 4); }, "%y then 4"},
        ConversionCase{"WideCharacterAndNullWideString",
                       [] {
                           const wchar_t* volatile none = nullptr;
                           return Logged("%lc|%ls|%S|%d",
                                         static_cast<wint_t>(L'\u00fc'),
                                         none,
                                         L"\u00fc",
                                         5);
                       },
                       "\xC3\xBC|(null)|\xC3\xBC|5"},
        ConversionCase{"WidePrecisionKeepsWholeCharacters",
                       [] { return Logged("[%.2ls][%6ls]", L"\u00fc\u00fc", L"\u00fcb"); },
                       "[\xC3\xBC][   \xC3\xBC"
                       "b]"},
        ConversionCase{
            "FloatingPoint", [] { return Logged("%.2f %g", 2.5, 0.125); }, "2.50 0.125"}),
    [](const ::testing::TestParamInfo<ConversionCase>& info) { return info.param.name; });

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
