#include "core/windows/FinalPath.h"

#include "core/util/WideString.h"

#include <vector>

namespace OrvaneClient {

std::optional<std::string> FinalPathOf(HANDLE object) {
    const DWORD needed = GetFinalPathNameByHandleW(object, nullptr, 0, 0);
    if (needed == 0) {
        return std::nullopt;
    }
    std::vector<WCHAR> buffer(needed + 1, L'\0');
    const DWORD length =
        GetFinalPathNameByHandleW(object, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
    if (length == 0 || length >= buffer.size()) {
        return std::nullopt;
    }
    std::wstring path(buffer.data(), length);
    const std::wstring prefix(L"\\\\?\\");
    // "\\?\C:\x" is the drive path "C:\x"; "\\?\UNC\..." stays what it is.
    if (path.compare(0, prefix.size(), prefix) == 0 && path.size() > prefix.size() + 1 &&
        path[prefix.size() + 1] == L':') {
        path.erase(0, prefix.size());
    }
    return WideToUtf8(path);
}

}  // namespace OrvaneClient
