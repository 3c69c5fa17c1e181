// The fields of an `event` line (Win32Emu/ScmMessage.h): words, values bare or quoted with %XX
// escapes, and values cut to fit a line.

#include "scm/EventFields.h"

#include <algorithm>

namespace Win32Emu {

namespace {

bool needsEscape(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '"' || c == '%';
}

std::string renderValue(const std::string& value) {
    const bool bare = !value.empty() && std::none_of(value.begin(), value.end(), [](char c) {
        return c == ' ' || needsEscape(c);
    });
    if (bare) {
        return value;
    }
    static const char digits[] = "0123456789ABCDEF";
    std::string text = "\"";
    for (const char c : value) {
        if (needsEscape(c)) {
            const auto byte = static_cast<unsigned char>(c);
            text += '%';
            text += digits[byte >> 4];
            text += digits[byte & 0xF];
        } else {
            text += c;
        }
    }
    return text + "\"";
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

}  // namespace

bool IsEventWord(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-';
    });
}

std::string RenderEvent(const std::string& kind, const ScmMessage::EventFields& fields) {
    std::string line = "event " + kind;
    for (const auto& field : fields) {
        line += " " + field.first + "=" + renderValue(field.second);
    }
    return line;
}

bool ParseEventFields(std::string_view text, ScmMessage::EventFields& fields) {
    size_t position = 0;
    while (position < text.size()) {
        const size_t equals = text.find('=', position);
        if (equals == std::string_view::npos ||
            !IsEventWord(text.substr(position, equals - position))) {
            return false;
        }
        std::string key(text.substr(position, equals - position));
        std::string value;
        position = equals + 1;
        if (position < text.size() && text[position] == '"') {
            const size_t close = text.find('"', position + 1);
            if (close == std::string_view::npos) {
                return false;
            }
            for (size_t i = position + 1; i < close; ++i) {
                if (text[i] != '%') {
                    value += text[i];
                    continue;
                }
                const int high = i + 2 < close ? hexDigit(text[i + 1]) : -1;
                const int low = high >= 0 ? hexDigit(text[i + 2]) : -1;
                if (low < 0) {
                    return false;
                }
                value += static_cast<char>(high * 16 + low);
                i += 2;
            }
            position = close + 1;
        } else {
            const size_t end = std::min(text.find(' ', position), text.size());
            value = std::string(text.substr(position, end - position));
            if (value.empty() || value.find('"') != std::string::npos ||
                value.find('%') != std::string::npos) {
                return false;
            }
            position = end;
        }
        fields.emplace_back(std::move(key), std::move(value));
        if (position == text.size()) {
            break;
        }
        // Exactly one space between fields, and none at the end.
        if (text[position] != ' ' || position + 1 == text.size()) {
            return false;
        }
        ++position;
    }
    return true;
}

void ShortenEventValue(std::string& value) {
    size_t length = value.size() * 3 / 4;
    while (length > 0 && (static_cast<unsigned char>(value[length]) & 0xC0) == 0x80) {
        --length;
    }
    value = value.substr(0, length) + "...";
}

}  // namespace Win32Emu
