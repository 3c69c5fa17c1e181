#include "core/windows/FileProbe.h"

#include "core/windows/ScopedHandle.h"
#include "core/windows/WideString.h"
#include "core/windows/Win32Api.h"

namespace OrvaneClient {

bool CanOpenFileExclusively(const std::string& path) {
    const std::wstring widePath = Utf8ToWide(path);
    ScopedHandle file(
        CreateFileW(widePath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    return file.isValid();
}

}  // namespace OrvaneClient
