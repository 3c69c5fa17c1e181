#include "core/util/JoinPath.h"

#include <Poco/Exception.h>
#include <gtest/gtest.h>

#include <string>

namespace OrvaneClient {
namespace {

TEST(JoinPath, JoinsInWindowsNotation) {
    const struct {
        const char* directory;
        const char* relative;
        const char* expected;
    } cases[] = {
        {"C:\\ProgramData\\", "OrvaneClient", "C:\\ProgramData\\OrvaneClient"},
        {"C:\\a", "b\\c.txt", "C:\\a\\b\\c.txt"},
        {"C:/a/b", "c/d.txt", "C:\\a\\b\\c\\d.txt"},
        {"C:\\a", "D:\\b\\c.txt", "C:\\a\\b\\c.txt"},
        {"C:\\a\\", "b\\", "C:\\a\\b\\"},
        {"\\\\server\\share\\dir", "file.txt", "\\\\server\\share\\dir\\file.txt"},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(std::string(entry.directory) + " + " + entry.relative);
        EXPECT_EQ(JoinPath(entry.directory, entry.relative), entry.expected);
    }
    EXPECT_THROW(JoinPath("C:foo", "bar"), Poco::PathSyntaxException);
}

}  // namespace
}  // namespace OrvaneClient
