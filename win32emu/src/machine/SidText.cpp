#include "machine/SidText.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace Win32Emu {

namespace {

// A decimal number (or 0x-prefixed hexadecimal) that fits below `limit`, or false.
bool parseNumber(const std::string& text, std::uint64_t limit, std::uint64_t& value) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.size() > 20) {
        return false;
    }
    value = 0;
    for (const char c : digits) {
        std::uint64_t digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<std::uint64_t>(c - '0');
        } else if (hex && c >= 'a' && c <= 'f') {
            digit = static_cast<std::uint64_t>(c - 'a' + 10);
        } else if (hex && c >= 'A' && c <= 'F') {
            digit = static_cast<std::uint64_t>(c - 'A' + 10);
        } else {
            return false;
        }
        const std::uint64_t base = hex ? 16 : 10;
        if (value > (limit - 1 - digit) / base) {
            return false;
        }
        value = value * base + digit;
    }
    return true;
}

}  // namespace

std::vector<BYTE> SidFromText(const std::string& text) {
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type dash = text.find('-', start);
        parts.push_back(text.substr(start, dash - start));
        if (dash == std::string::npos) {
            break;
        }
        start = dash + 1;
    }
    if (parts.size() < 3 || (parts[0] != "S" && parts[0] != "s") || parts[1] != "1" ||
        parts.size() - 3 > SID_MAX_SUB_AUTHORITIES) {
        return {};
    }
    std::uint64_t authority = 0;
    if (!parseNumber(parts[2], std::uint64_t(1) << 48, authority)) {
        return {};
    }
    const BYTE count = static_cast<BYTE>(parts.size() - 3);
    std::vector<BYTE> bytes(sizeof(SID) - sizeof(DWORD) + count * sizeof(DWORD), 0);
    SID* sid = reinterpret_cast<SID*>(bytes.data());
    sid->Revision = SID_REVISION;
    sid->SubAuthorityCount = count;
    for (int i = 0; i < 6; ++i) {
        // Big-endian, as Windows stores the identifier authority.
        sid->IdentifierAuthority.Value[5 - i] = static_cast<BYTE>(authority >> (8 * i));
    }
    for (BYTE i = 0; i < count; ++i) {
        std::uint64_t subAuthority = 0;
        if (!parseNumber(parts[3 + i], std::uint64_t(1) << 32, subAuthority)) {
            return {};
        }
        const DWORD value = static_cast<DWORD>(subAuthority);
        std::memcpy(bytes.data() + 8 + i * sizeof(DWORD), &value, sizeof(value));
    }
    return bytes;
}

std::string SidToText(const SID* sid) {
    std::uint64_t authority = 0;
    for (const BYTE byte : sid->IdentifierAuthority.Value) {
        authority = (authority << 8) | byte;
    }
    char number[32];
    if (authority < (std::uint64_t(1) << 32)) {
        std::snprintf(number, sizeof(number), "%llu", static_cast<unsigned long long>(authority));
    } else {
        std::snprintf(
            number, sizeof(number), "0x%012llX", static_cast<unsigned long long>(authority));
    }
    std::string text = std::string("S-1-") + number;
    const BYTE* subAuthorities = reinterpret_cast<const BYTE*>(sid) + 8;
    for (BYTE i = 0; i < sid->SubAuthorityCount; ++i) {
        DWORD value = 0;
        std::memcpy(&value, subAuthorities + i * sizeof(DWORD), sizeof(value));
        text += "-" + std::to_string(value);
    }
    return text;
}

bool IsValidSidLayout(const void* sid) {
    const auto* layout = static_cast<const SID*>(sid);
    return layout != nullptr && layout->Revision == SID_REVISION &&
           layout->SubAuthorityCount <= SID_MAX_SUB_AUTHORITIES;
}

DWORD SidByteLength(const void* sid) {
    const auto* layout = static_cast<const SID*>(sid);
    return static_cast<DWORD>(sizeof(SID) - sizeof(DWORD) +
                              layout->SubAuthorityCount * sizeof(DWORD));
}

}  // namespace Win32Emu
