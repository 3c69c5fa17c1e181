#include "core/logfacade/LineFormat.h"

#include "core/logfacade/LogFacade.h"
#include "core/util/WideString.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <type_traits>

namespace OrvaneClient {
namespace {

// Appends to a fixed, always terminated buffer and cuts at its end, as vsnprintf does.
class LineWriter {
public:
    LineWriter(char* buffer, size_t capacity) : buffer(buffer), capacity(capacity) {
        buffer[0] = '\0';
    }

    void append(const char* text, size_t length) {
        const size_t room = capacity - 1 - used;
        const size_t taken = length < room ? length : room;
        std::memcpy(buffer + used, text, taken);
        used += taken;
        buffer[used] = '\0';
    }

    template <typename Value>
    void appendFormatted(const char* conversion, Value value) {
        if (used + 1 >= capacity) {
            return;
        }
        // The conversion is one piece of a format the compiler checked at the log call.
        ORVANE_FORWARDED_FORMAT_BEGIN
        const int written = std::snprintf(buffer + used, capacity - used, conversion, value);
        ORVANE_FORWARDED_FORMAT_END
        if (written > 0) {
            const size_t room = capacity - 1 - used;
            used += static_cast<size_t>(written) < room ? static_cast<size_t>(written) : room;
        }
        buffer[used] = '\0';
    }

private:
    char* buffer;
    size_t capacity;
    size_t used = 0;
};

// One conversion of a format, rebuilt for a single snprintf call: the flags, the width and
// the precision (with '*' replaced by the argument's value), the length and the conversion.
struct Conversion {
    char text[64] = {'%'};
    size_t length = 1;

    void add(char character) {
        if (length + 1 < sizeof(text)) {
            text[length++] = character;
            text[length] = '\0';
        }
    }
    void addNumber(int number) {
        char digits[16];
        const int count = std::snprintf(digits, sizeof(digits), "%d", number);
        for (int index = 0; index < count; ++index) {
            add(digits[index]);
        }
    }
};

// Keeps at most `limit` bytes of UTF-8 text without cutting a character in two.
size_t Utf8Prefix(const std::string& text, int limit) {
    if (limit < 0 || static_cast<size_t>(limit) >= text.size()) {
        return text.size();
    }
    size_t length = static_cast<size_t>(limit);
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
        --length;
    }
    return length;
}

// A va_list of its own, so that the helpers below can take it by reference on every ABI (a
// va_list parameter may be an array that decayed to a pointer).
struct Arguments {
    explicit Arguments(va_list from) { va_copy(list, from); }
    ~Arguments() { va_end(list); }
    Arguments(const Arguments&) = delete;
    Arguments& operator=(const Arguments&) = delete;

    va_list list;
};

enum class Size { Default, Char, Short, Long, LongLong, IntMax, SizeT, PtrDiff, LongDouble };

// A conversion as the format spells it, with '*' replaced by the argument's value.
struct Directive {
    Conversion full;
    // The flags and the width alone, for text the interpreter renders itself.
    Conversion widthOnly;
    int precision = -1;
    Size size = Size::Default;
    // '\0' when the format ends inside the conversion.
    char type = '\0';
};

Size ParseSize(const char* cursor) {
    switch (cursor[0]) {
        case 'h':
            return cursor[1] == 'h' ? Size::Char : Size::Short;
        case 'l':
            return cursor[1] == 'l' ? Size::LongLong : Size::Long;
        case 'j':
            return Size::IntMax;
        case 'z':
            return Size::SizeT;
        case 't':
            return Size::PtrDiff;
        case 'L':
            return Size::LongDouble;
        default:
            return Size::Default;
    }
}

// Reads one conversion from just after its '%', taking the '*' arguments it names; returns
// where the format goes on.
const char* ParseDirective(const char* cursor, Arguments& arguments, Directive& directive) {
    Conversion& conversion = directive.full;
    while (*cursor != '\0' && std::strchr("-+ #0", *cursor) != nullptr) {
        conversion.add(*cursor++);
    }
    if (*cursor == '*') {
        conversion.addNumber(va_arg(arguments.list, int));
        ++cursor;
    } else {
        while (*cursor >= '0' && *cursor <= '9') {
            conversion.add(*cursor++);
        }
    }
    directive.widthOnly = conversion;
    if (*cursor == '.') {
        ++cursor;
        directive.precision = 0;
        if (*cursor == '*') {
            directive.precision = va_arg(arguments.list, int);
            ++cursor;
        } else {
            while (*cursor >= '0' && *cursor <= '9') {
                directive.precision = directive.precision * 10 + (*cursor++ - '0');
                if (directive.precision > static_cast<int>(LogLineMaxCharacters)) {
                    directive.precision = static_cast<int>(LogLineMaxCharacters);
                }
            }
        }
        if (directive.precision >= 0) {
            conversion.add('.');
            conversion.addNumber(directive.precision);
        }
    }

    directive.size = ParseSize(cursor);
    const int sizeLength = (directive.size == Size::Char || directive.size == Size::LongLong) ? 2
                           : directive.size == Size::Default                                  ? 0
                                                                                              : 1;
    for (int index = 0; index < sizeLength; ++index) {
        conversion.add(*cursor++);
    }
    directive.type = *cursor;
    if (directive.type == '\0') {
        return cursor;
    }
    conversion.add(directive.type);
    return cursor + 1;
}

template <typename Value>
void AppendValue(LineWriter& line, const Directive& directive, Arguments& arguments) {
    line.appendFormatted(directive.full.text, va_arg(arguments.list, Value));
}

template <typename SignedType, typename UnsignedType, bool Signed>
using SignedOrNot = typename std::conditional<Signed, SignedType, UnsignedType>::type;

template <bool Signed>
void AppendInteger(LineWriter& line, const Directive& directive, Arguments& arguments) {
    switch (directive.size) {
        case Size::Long:
            AppendValue<SignedOrNot<long, unsigned long, Signed>>(line, directive, arguments);
            break;
        case Size::LongLong:
            AppendValue<SignedOrNot<long long, unsigned long long, Signed>>(
                line, directive, arguments);
            break;
        case Size::IntMax:
            AppendValue<SignedOrNot<std::intmax_t, std::uintmax_t, Signed>>(
                line, directive, arguments);
            break;
        case Size::SizeT:
            AppendValue<SignedOrNot<std::make_signed<size_t>::type, size_t, Signed>>(
                line, directive, arguments);
            break;
        case Size::PtrDiff:
            AppendValue<std::ptrdiff_t>(line, directive, arguments);
            break;
        default:
            // char and short arrive promoted to int; the conversion's h or hh narrows them.
            AppendValue<SignedOrNot<int, unsigned, Signed>>(line, directive, arguments);
            break;
    }
}

// An argument's text with each control character written as an escape: a name or path that
// holds a line break must not end the entry and make a line of its own in the log.
std::string Escaped(const char* text, size_t length) {
    std::string escaped;
    escaped.reserve(length);
    for (size_t index = 0; index < length; ++index) {
        const auto byte = static_cast<unsigned char>(text[index]);
        if (byte >= 0x20 && byte != 0x7F) {
            escaped += static_cast<char>(byte);
        } else if (byte == '\r') {
            escaped += "\\r";
        } else if (byte == '\n') {
            escaped += "\\n";
        } else if (byte == '\t') {
            escaped += "\\t";
        } else {
            const char digits[] = "0123456789abcdef";
            escaped += "\\x";
            escaped += digits[byte >> 4];
            escaped += digits[byte & 0x0F];
        }
    }
    return escaped;
}

std::string Escaped(const std::string& text) {
    return Escaped(text.data(), text.size());
}

// Text the interpreter rendered itself, padded to the conversion's width.
void AppendText(LineWriter& line, const Directive& directive, const std::string& text) {
    Conversion conversion = directive.widthOnly;
    conversion.add('s');
    line.appendFormatted(conversion.text, text.c_str());
}

void AppendCharacter(LineWriter& line, const Directive& directive, Arguments& arguments) {
    if (directive.size == Size::Long || directive.type == 'C') {
        // wint_t is 16 bits on Windows and arrives promoted to int.
        using PromotedWint = std::conditional<(sizeof(wint_t) < sizeof(int)), int, wint_t>::type;
        const auto character = static_cast<wchar_t>(va_arg(arguments.list, PromotedWint));
        AppendText(line, directive, Escaped(WideToUtf8(std::wstring(1, character))));
    } else {
        const auto character = static_cast<char>(va_arg(arguments.list, int));
        AppendText(line, directive, Escaped(&character, 1));
    }
}

void AppendString(LineWriter& line, const Directive& directive, Arguments& arguments) {
    if (directive.size == Size::Long || directive.type == 'S') {
        const wchar_t* wide = va_arg(arguments.list, const wchar_t*);
        const std::string text = wide != nullptr ? WideToUtf8(wide) : "(null)";
        AppendText(line, directive, Escaped(text.data(), Utf8Prefix(text, directive.precision)));
    } else {
        const char* argument = va_arg(arguments.list, const char*);
        const char* text = argument != nullptr ? argument : "(null)";
        // The precision bounds what is read: the text need not be terminated within it.
        const size_t length = directive.precision >= 0
                                  ? strnlen(text, static_cast<size_t>(directive.precision))
                                  : std::strlen(text);
        AppendText(line, directive, Escaped(text, length));
    }
}

// Renders one conversion with its argument; false, having taken no argument, when the type is no
// conversion at all (a format that ends inside one gives '\0').
bool AppendConversion(LineWriter& line, const Directive& directive, Arguments& arguments) {
    switch (directive.type) {
        case 'd':
        case 'i':
            AppendInteger<true>(line, directive, arguments);
            return true;
        case 'u':
        case 'o':
        case 'x':
        case 'X':
            AppendInteger<false>(line, directive, arguments);
            return true;
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (directive.size == Size::LongDouble) {
                AppendValue<long double>(line, directive, arguments);
            } else {
                AppendValue<double>(line, directive, arguments);
            }
            return true;
        case 'p':
            AppendValue<void*>(line, directive, arguments);
            return true;
        case 'c':
        case 'C':  // %C and %S: the wide forms, as the C library knows them
            AppendCharacter(line, directive, arguments);
            return true;
        case 's':
        case 'S':
            AppendString(line, directive, arguments);
            return true;
        case 'n':
            // Nothing is ever written through a pointer taken from a log call.
            (void)va_arg(arguments.list, void*);
            return true;
        default:
            return false;
    }
}

}  // namespace

void FormatLogLine(char* buffer, size_t capacity, const char* format, va_list argumentList) {
    LineWriter line(buffer, capacity);
    Arguments arguments(argumentList);
    const char* cursor = format;
    while (*cursor != '\0') {
        if (*cursor != '%') {
            const char* start = cursor;
            while (*cursor != '\0' && *cursor != '%') {
                ++cursor;
            }
            line.append(start, static_cast<size_t>(cursor - start));
            continue;
        }
        const char* conversionStart = cursor++;
        if (*cursor == '%') {
            line.append("%", 1);
            ++cursor;
            continue;
        }
        Directive directive;
        cursor = ParseDirective(cursor, arguments, directive);
        if (!AppendConversion(line, directive, arguments)) {
            // Not a conversion, or the format ends inside one: written as it stands.
            line.append(conversionStart, static_cast<size_t>(cursor - conversionStart));
        }
    }
}

}  // namespace OrvaneClient
