#pragma once

// How the compilers check printf formats: ORVANE_PRINTF_FORMAT marks a function whose
// arguments follow a printf format (GCC/Clang), ORVANE_FORMAT_STRING marks the format parameter
// (MSVC). ORVANE_FORWARDED_FORMAT_BEGIN/END enclose a call that passes on a format which is not
// a literal there because the compiler checked it where it was written.

// clang-format off
#if defined(__GNUC__) || defined(__clang__)
#define ORVANE_PRINTF_FORMAT(formatIndex, firstArgument) \
    __attribute__((format(printf, formatIndex, firstArgument)))
#define ORVANE_FORMAT_STRING(parameter) parameter
#define ORVANE_FORWARDED_FORMAT_BEGIN                                \
    _Pragma("GCC diagnostic push")                                   \
    _Pragma("GCC diagnostic ignored \"-Wformat-nonliteral\"")        \
    _Pragma("GCC diagnostic ignored \"-Wformat-security\"")
#define ORVANE_FORWARDED_FORMAT_END _Pragma("GCC diagnostic pop")
#elif defined(_MSC_VER)
#include <sal.h>
#define ORVANE_PRINTF_FORMAT(formatIndex, firstArgument)
#define ORVANE_FORMAT_STRING(parameter) _Printf_format_string_ parameter
#define ORVANE_FORWARDED_FORMAT_BEGIN
#define ORVANE_FORWARDED_FORMAT_END
#else
#define ORVANE_PRINTF_FORMAT(formatIndex, firstArgument)
#define ORVANE_FORMAT_STRING(parameter) parameter
#define ORVANE_FORWARDED_FORMAT_BEGIN
#define ORVANE_FORWARDED_FORMAT_END
#endif
// clang-format on
