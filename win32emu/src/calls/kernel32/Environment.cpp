// Environment strings: ExpandEnvironmentStringsW over the process's environment.

#include "machine/ApiSupport.h"

#include <algorithm>
#include <cstdlib>
#include <string>

extern char** environ;

using namespace Win32Emu;

namespace {

// Windows names its variables without regard to case; the host does not, so an exact match is
// preferred and any spelling accepted.
bool lookUp(const std::string& name, std::string& value) {
    if (const char* exact = std::getenv(name.c_str())) {
        value = exact;
        return true;
    }
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string text(*entry);
        const std::string::size_type equals = text.find('=');
        if (equals != std::string::npos && EqualNames(text.substr(0, equals), name)) {
            value = text.substr(equals + 1);
            return true;
        }
    }
    return false;
}

// %NAME% replaced by the variable's value; an unknown variable, or a lone %, stays as written.
std::wstring expand(const std::wstring& source) {
    std::wstring result;
    std::wstring::size_type position = 0;
    while (position < source.size()) {
        const std::wstring::size_type open = source.find(L'%', position);
        if (open == std::wstring::npos) {
            result.append(source, position, std::wstring::npos);
            break;
        }
        result.append(source, position, open - position);
        const std::wstring::size_type close = source.find(L'%', open + 1);
        if (close == std::wstring::npos) {
            result.append(source, open, std::wstring::npos);
            break;
        }
        std::string value;
        const std::wstring name = source.substr(open + 1, close - open - 1);
        if (!name.empty() && lookUp(ToUtf8(name), value)) {
            result += ToWide(value);
            position = close + 1;
        } else {
            // The closing % may open the next reference.
            result.append(source, open, close - open);
            position = close;
        }
    }
    return result;
}

}  // namespace

extern "C" {

DWORD WINAPI ExpandEnvironmentStringsW(LPCWSTR lpSrc, LPWSTR lpDst, DWORD nSize) {
    if (InjectedFailure("ExpandEnvironmentStringsW", ToUtf8(lpSrc))) {
        return 0;
    }
    if (lpSrc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::wstring expanded = expand(lpSrc);
    const DWORD needed = static_cast<DWORD>(expanded.size() + 1);
    // The size needed, terminating zero included; the text only when it fits.
    if (lpDst != nullptr && nSize >= needed) {
        std::copy(expanded.begin(), expanded.end(), lpDst);
        lpDst[expanded.size()] = L'\0';
    }
    return needed;
}

}  // extern "C"
