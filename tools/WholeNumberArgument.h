#pragma once

// The numeric arguments of the command-line tools: whole decimal numbers within bounds, or an
// explanation that names the argument, for the tool's usage error.

#include <cerrno>
#include <cstdlib>
#include <string>

namespace OrvaneTools {

// Empty when `text` is a whole decimal number from `low` to `high` (stored in `value`);
// otherwise "<name> must be a whole number from <low> to <high>, not '<text>'".
inline std::string ParseWholeNumber(
    const std::string& name, const std::string& text, long low, long high, long& value) {
    // Digits only: strtol would also take leading blanks, a sign, or stop at the first non-digit.
    const bool digits = !text.empty() && text.size() <= 12 &&
                        text.find_first_not_of("0123456789") == std::string::npos;
    errno = 0;
    const long parsed = digits ? std::strtol(text.c_str(), nullptr, 10) : 0;
    if (!digits || errno != 0 || parsed < low || parsed > high) {
        return name + " must be a whole number from " + std::to_string(low) + " to " +
               std::to_string(high) + ", not '" + text + "'";
    }
    value = parsed;
    return std::string();
}

}  // namespace OrvaneTools
