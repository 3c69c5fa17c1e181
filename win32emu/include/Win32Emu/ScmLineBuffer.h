#pragma once

#include "Win32Emu/ScmMessage.h"

#include <cstddef>
#include <optional>
#include <string>

namespace Win32Emu {

// Splits a byte stream into lines. Bytes come in any pieces; complete lines come out in order.
class ScmLineBuffer {
public:
    void append(const char* bytes, size_t count) { pending.append(bytes, count); }

    // The next complete line without its '\n', or empty when none is complete yet.
    std::optional<std::string> nextLine() {
        const size_t end = pending.find('\n');
        if (end == std::string::npos) {
            return std::nullopt;
        }
        std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        return line;
    }

    // Asked once nextLine() has come back empty: true when the unfinished line has grown past
    // ScmMessage::kMaxLineLength. The peer does not speak the protocol; drop the stream.
    bool overflowed() const { return pending.size() > ScmMessage::kMaxLineLength; }

private:
    std::string pending;
};

}  // namespace Win32Emu
