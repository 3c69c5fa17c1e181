#include "service/grant/PathForms.h"

#include <Poco/UTF8String.h>

#include <cctype>
#include <cstring>

namespace OrvaneClient {
namespace {

// Characters Windows does not allow in a name; ':' would also open an alternate data stream.
const char ForbiddenNameCharacters[] = "<>:\"|?*";

bool IsAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

// The names Windows maps to a device in any folder and with any extension ("C:\x\nul.txt").
bool IsDosDeviceName(const std::string& name) {
    std::string base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') {
        base.pop_back();
    }
    base = Poco::UTF8::toUpper(base);
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" ||
        base == "CONOUT$") {
        return true;
    }
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

}  // namespace

bool IsPathSeparator(char c) {
    return c == '\\' || c == '/';
}

bool IsDrivePath(const std::string& path) {
    return path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
           path[1] == ':' && IsPathSeparator(path[2]);
}

std::optional<std::string> LocalPathFormRefusal(const std::string& path) {
    if (path.empty()) {
        return std::string("is empty");
    }
    if (path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1])) {
        // "\\?\" and "\\.\" reach the object namespace; "\\?\UNC\" and "\\server" the network.
        const bool device =
            path.size() >= 4 && (path[2] == '?' || path[2] == '.') && IsPathSeparator(path[3]);
        const bool network = device && path.size() >= 8 &&
                             Poco::UTF8::icompare(path.substr(4, 3), std::string("UNC")) == 0 &&
                             IsPathSeparator(path[7]);
        return std::string(device && !network ? "is a device or namespace path" : "is a UNC path");
    }
    if (IsPathSeparator(path[0])) {
        // "\??\" is handed to the object manager as written, whatever follows it.
        const bool objectManager =
            path.size() >= 4 && path[1] == '?' && path[2] == '?' && IsPathSeparator(path[3]);
        return std::string(objectManager ? "is an object manager name"
                                         : "is rooted without a drive");
    }
    const bool driveLetter =
        path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
    if (driveLetter && !IsDrivePath(path)) {
        return std::string("is relative to a drive's current directory");
    }
    // A drive letter's colon is the second character; any other colon opens a stream.
    if (path.find(':', driveLetter ? 2 : 0) != std::string::npos) {
        return std::string("names a stream");
    }
    std::string name;
    for (size_t i = driveLetter ? 3 : 0; i <= path.size(); ++i) {
        if (i < path.size() && !IsPathSeparator(path[i])) {
            name += path[i];
            continue;
        }
        if (IsDosDeviceName(name)) {
            return std::string("names a device");
        }
        name.clear();
    }
    return std::nullopt;
}

bool IsCanonicalName(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.back() == '.' || name.back() == ' ') {
        return false;
    }
    for (size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || std::strchr(ForbiddenNameCharacters, name[i]) != nullptr) {
            return false;
        }
        if (name[i] == '~' && i + 1 < name.size() && IsAsciiDigit(name[i + 1])) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> UpperComponents(const std::string& path) {
    std::vector<std::string> components;
    if (path.size() < 2 || path[1] != ':') {
        return components;
    }
    std::string name;
    for (char c : path) {
        if (IsPathSeparator(c)) {
            if (!name.empty()) {
                components.push_back(Poco::UTF8::toUpper(name));
            }
            name.clear();
        } else {
            name += c;
        }
    }
    if (!name.empty()) {
        components.push_back(Poco::UTF8::toUpper(name));
    }
    return components;
}

}  // namespace OrvaneClient
