#pragma once

// The printf interpreter of the log facade.
//
// Formats `format` with `arguments` into `buffer` of `capacity` bytes (at least one), cut at
// capacity - 1 bytes and always zero-terminated. The conversions are printf's, except that:
// - %ls, %lc, %S and %C render wide text as UTF-8 (the C runtimes go through the locale's code
//   page, which loses every character outside it); their precision counts bytes of that UTF-8
//   text and never cuts a character in two;
// - a control character (0x00-0x1F, 0x7F) that a string or character argument brings (%s, %c
//   and their wide forms) is written as an escape: \r, \n, \t, otherwise \xNN with two
//   lowercase hex digits, so that no argument can end the line it is logged in; the format's
//   own text is written as it stands, and the width counts the escaped text;
// - a null string argument is written "(null)", %n writes nothing, and an unknown conversion or
//   a format that ends inside one is written as it stands.
// Throws what std::string throws when memory runs out; touches no global state.

#include "core/logfacade/FormatChecks.h"

#include <cstdarg>
#include <cstddef>

namespace OrvaneClient {

void FormatLogLine(char* buffer, size_t capacity, const char* format, va_list arguments)
    ORVANE_PRINTF_FORMAT(3, 0);

}  // namespace OrvaneClient
