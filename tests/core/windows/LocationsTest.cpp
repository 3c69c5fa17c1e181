#include "core/windows/Locations.h"
#include "tests/core/util/ScopedEnvironmentVariable.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace OrvaneClient {
namespace {

using Testing::ScopedEnvironmentVariable;

TEST(SystemDrive, EndsWithABackslash) {
    const struct {
        std::optional<std::string> value;
        const char* expected;
    } cases[] = {{"C:", "C:\\"}, {"", "C:\\"}, {std::nullopt, "C:\\"}, {"D:\\", "D:\\"}};
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.value.value_or("(unset)"));
        const ScopedEnvironmentVariable systemDrive("SystemDrive", entry.value);
        EXPECT_EQ(GetSystemDrive(), entry.expected);
    }
}

}  // namespace
}  // namespace OrvaneClient
