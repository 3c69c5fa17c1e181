#include "core/logfacade/LineFormat.h"
#include "core/logfacade/LogFacade.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstddef>
#include <cwchar>
#include <string>

namespace OrvaneClient {
namespace {

// Each conversion the interpreter formats itself, against the text printf gives for it.
struct ConversionCase {
    const char* name;
    std::string (*format)();
    std::string expected;
};

class LineFormatConversion : public ::testing::TestWithParam<ConversionCase> {};

std::string Formatted(const char* format, ...) {
    char buffer[LogLineMaxCharacters + 1];
    va_list arguments;
    va_start(arguments, format);
    ORVANE_FORWARDED_FORMAT_BEGIN
    FormatLogLine(buffer, sizeof(buffer), format, arguments);
    ORVANE_FORWARDED_FORMAT_END
    va_end(arguments);
    return buffer;
}

TEST_P(LineFormatConversion, RendersAsPrintfWouldWithWideTextAsUtf8) {
    EXPECT_EQ(GetParam().format(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Conversions,
    LineFormatConversion,
    ::testing::Values(
        ConversionCase{"Integers",
                       [] {
                           return Formatted("%d %i %u %hu %ld %lld %zu",
                                            -5,
                                            7,
                                            4000000000u,
                                            static_cast<unsigned short>(65535),
                                            -9L,
                                            -(1LL << 40),
                                            static_cast<size_t>(12));
                       },
                       "-5 7 4000000000 65535 -9 -1099511627776 12"},
        ConversionCase{
            "FlagsWidthAndStar",
            [] { return Formatted("[%-4d][%04x][%+d][%*d][%#o]", 7, 255u, 3, 5, 42, 8u); },
            "[7   ][00ff][+3][   42][010]"},
        ConversionCase{"NarrowPrecisionAndNull",
                       [] {
                           const char* volatile none = nullptr;
                           return Formatted("%.3s|%5s|%s", "abcdef", "ab", none);
                       },
                       "abc|   ab|(null)"},
        ConversionCase{
            "PercentAndTrailingPercent", [] { return Formatted("100%% done %"); }, "100% done %"},
        ConversionCase{"UnknownConversionStaysAsWritten",
                       [] { return Formatted("%y then %d", 4); },
                       "%y then 4"},
        ConversionCase{"WideCharacterAndNullWideString",
                       [] {
                           const wchar_t* volatile none = nullptr;
                           return Formatted(
                               "%lc|%ls|%S|%d", static_cast<wint_t>(L'\u00fc'), none, L"\u00fc", 5);
                       },
                       "\xC3\xBC|(null)|\xC3\xBC|5"},
        ConversionCase{"WidePrecisionKeepsWholeCharacters",
                       [] { return Formatted("[%.2ls][%6ls]", L"\u00fc\u00fc", L"\u00fcb"); },
                       "[\xC3\xBC][   \xC3\xBC"
                       "b]"},
        ConversionCase{
            "FloatingPoint", [] { return Formatted("%.2f %g", 2.5, 0.125); }, "2.50 0.125"}),
    [](const ::testing::TestParamInfo<ConversionCase>& info) { return info.param.name; });

// Control characters that arguments bring are escaped; the format's own are not. Each row
// stands for a name or path a caller sent.
class LineFormatEscape : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(LineFormatEscape, ArgumentsCannotStartALine) {
    const std::string text = GetParam().format();
    EXPECT_EQ(text, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    ControlCharacters,
    LineFormatEscape,
    ::testing::Values(
        ConversionCase{"ForgedEntryStaysInItsLine",
                       [] {
                           return Formatted(
                               "Setting directory permissions for %s OK",
                               "C:\\x\n2026-12-09 21:09:14 [orvane_service][Information]: Setting "
                               "directory permissions for C:\\Games\\Mine OK");
                       },
                       "Setting directory permissions for C:\\x\\n2026-12-09 21:09:14 "
                       "[orvane_service][Information]: Setting directory permissions for "
                       "C:\\Games\\Mine OK OK"},
        ConversionCase{"NamedAndHexEscapes",
                       [] { return Formatted("%s", "a\r\n\tb\x01\x1b\x1f\x7f c\x80"); },
                       "a\\r\\n\\tb\\x01\\x1b\\x1f\\x7f c\x80"},
        ConversionCase{"FormatTextIsWrittenAsItStands",
                       [] { return Formatted("one\ntwo %s\r\n", "x\ny"); },
                       "one\ntwo x\\ny\r\n"},
        ConversionCase{"NarrowAndWideCharacters",
                       [] {
                           return Formatted("%c|%c|%lc|%C|%3c",
                                            '\n',
                                            '\0',
                                            static_cast<wint_t>(L'\t'),
                                            static_cast<wint_t>(L'\x7f'),
                                            '\r');
                       },
                       "\\n|\\x00|\\t|\\x7f| \\r"},
        ConversionCase{"WideStrings",
                       [] { return Formatted("%ls|%S|%ls", L"C:\\a\nb", L"\r", L"\u00fc\x1b"); },
                       "C:\\a\\nb|\\r|\xC3\xBC\\x1b"},
        ConversionCase{"PrecisionCountsTheArgumentWidthTheEscapedText",
                       [] {
                           const char unterminated[2] = {'\n', '\n'};
                           return Formatted(
                               "[%.1s][%.*s][%5s][%-4ls]", "\tx", 2, unterminated, "\n", L"\t");
                       },
                       "[\\t][\\n\\n][   \\n][\\t  ]"}),
    [](const ::testing::TestParamInfo<ConversionCase>& info) { return info.param.name; });

}  // namespace
}  // namespace OrvaneClient
