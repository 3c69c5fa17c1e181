#include "core/logging/LineFormat.h"

#include "core/logging/LogFacade.h"
#include "core/windows/WideString.h"

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

}  // namespace

void FormatLogLine(char* buffer, size_t capacity, const char* format, va_list arguments) {
    LineWriter line(buffer, capacity);
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

        Conversion conversion;
        while (*cursor != '\0' && std::strchr("-+ #0", *cursor) != nullptr) {
            conversion.add(*cursor++);
        }
        if (*cursor == '*') {
            conversion.addNumber(va_arg(arguments, int));
            ++cursor;
        } else {
            while (*cursor >= '0' && *cursor <= '9') {
                conversion.add(*cursor++);
            }
        }
        // The text before the precision serves the wide conversions, whose precision counts
        // bytes of the UTF-8 text.
        Conversion widthOnly = conversion;
        int precision = -1;
        if (*cursor == '.') {
            ++cursor;
            precision = 0;
            if (*cursor == '*') {
                precision = va_arg(arguments, int);
                ++cursor;
            } else {
                while (*cursor >= '0' && *cursor <= '9') {
                    precision = precision * 10 + (*cursor++ - '0');
                    if (precision > static_cast<int>(LogLineMaxCharacters)) {
                        precision = static_cast<int>(LogLineMaxCharacters);
                    }
                }
            }
            if (precision >= 0) {
                conversion.add('.');
                conversion.addNumber(precision);
            }
        }

        enum class Size {
            Default,
            Char,
            Short,
            Long,
            LongLong,
            IntMax,
            SizeT,
            PtrDiff,
            LongDouble
        };
        Size size = Size::Default;
        if (cursor[0] == 'h' && cursor[1] == 'h') {
            size = Size::Char;
        } else if (cursor[0] == 'h') {
            size = Size::Short;
        } else if (cursor[0] == 'l' && cursor[1] == 'l') {
            size = Size::LongLong;
        } else if (cursor[0] == 'l') {
            size = Size::Long;
        } else if (cursor[0] == 'j') {
            size = Size::IntMax;
        } else if (cursor[0] == 'z') {
            size = Size::SizeT;
        } else if (cursor[0] == 't') {
            size = Size::PtrDiff;
        } else if (cursor[0] == 'L') {
            size = Size::LongDouble;
        }
        const int sizeLength = (size == Size::Char || size == Size::LongLong) ? 2
                               : size == Size::Default                        ? 0
                                                                              : 1;
        for (int index = 0; index < sizeLength; ++index) {
            conversion.add(*cursor++);
        }

        const char type = *cursor;
        if (type == '\0') {
            // A format that ends inside a conversion is written as it stands.
            line.append(conversionStart, static_cast<size_t>(cursor - conversionStart));
            break;
        }
        ++cursor;
        conversion.add(type);

        switch (type) {
            case 'd':
            case 'i':
                switch (size) {
                    case Size::Long:
                        line.appendFormatted(conversion.text, va_arg(arguments, long));
                        break;
                    case Size::LongLong:
                        line.appendFormatted(conversion.text, va_arg(arguments, long long));
                        break;
                    case Size::IntMax:
                        line.appendFormatted(conversion.text, va_arg(arguments, std::intmax_t));
                        break;
                    case Size::SizeT:
                        line.appendFormatted(conversion.text,
                                             va_arg(arguments, std::make_signed<size_t>::type));
                        break;
                    case Size::PtrDiff:
                        line.appendFormatted(conversion.text, va_arg(arguments, std::ptrdiff_t));
                        break;
                    default:
                        line.appendFormatted(conversion.text, va_arg(arguments, int));
                        break;
                }
                break;
            case 'u':
            case 'o':
            case 'x':
            case 'X':
                switch (size) {
                    case Size::Long:
                        line.appendFormatted(conversion.text, va_arg(arguments, unsigned long));
                        break;
                    case Size::LongLong:
                        line.appendFormatted(conversion.text,
                                             va_arg(arguments, unsigned long long));
                        break;
                    case Size::IntMax:
                        line.appendFormatted(conversion.text, va_arg(arguments, std::uintmax_t));
                        break;
                    case Size::SizeT:
                        line.appendFormatted(conversion.text, va_arg(arguments, size_t));
                        break;
                    case Size::PtrDiff:
                        line.appendFormatted(conversion.text, va_arg(arguments, std::ptrdiff_t));
                        break;
                    default:
                        line.appendFormatted(conversion.text, va_arg(arguments, unsigned));
                        break;
                }
                break;
            case 'f':
            case 'F':
            case 'e':
            case 'E':
            case 'g':
            case 'G':
            case 'a':
            case 'A':
                if (size == Size::LongDouble) {
                    line.appendFormatted(conversion.text, va_arg(arguments, long double));
                } else {
                    line.appendFormatted(conversion.text, va_arg(arguments, double));
                }
                break;
            case 'p':
                line.appendFormatted(conversion.text, va_arg(arguments, void*));
                break;
            case 'c':
            case 'C':  // %C and %S: the wide forms, as the C library knows them
                if (size == Size::Long || type == 'C') {
                    // wint_t is 16 bits on Windows and arrives promoted to int.
                    using PromotedWint =
                        std::conditional<(sizeof(wint_t) < sizeof(int)), int, wint_t>::type;
                    const auto character = static_cast<wchar_t>(va_arg(arguments, PromotedWint));
                    widthOnly.add('s');
                    line.appendFormatted(widthOnly.text,
                                         WideToUtf8(std::wstring(1, character)).c_str());
                } else {
                    line.appendFormatted(conversion.text, va_arg(arguments, int));
                }
                break;
            case 's':
            case 'S':
                if (size == Size::Long || type == 'S') {
                    const wchar_t* wide = va_arg(arguments, const wchar_t*);
                    const std::string text = wide != nullptr ? WideToUtf8(wide) : "(null)";
                    widthOnly.add('.');
                    widthOnly.addNumber(static_cast<int>(Utf8Prefix(text, precision)));
                    widthOnly.add('s');
                    line.appendFormatted(widthOnly.text, text.c_str());
                } else {
                    const char* text = va_arg(arguments, const char*);
                    line.appendFormatted(conversion.text, text != nullptr ? text : "(null)");
                }
                break;
            case 'n':
                // Nothing is ever written through a pointer taken from a log call.
                (void)va_arg(arguments, void*);
                break;
            default:
                // Not a conversion: written as it stands, and it takes no argument.
                line.append(conversionStart, static_cast<size_t>(cursor - conversionStart));
                break;
        }
    }
}

}  // namespace OrvaneClient
