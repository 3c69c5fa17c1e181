#include "core/windows/FileProbe.h"

#include "core/util/WideString.h"
#include "core/windows/ScopedHandle.h"
#include "core/windows/Win32Api.h"

namespace OrvaneClient {

bool CanOpenFileExclusively(const std::string& path) {
    const std::wstring widePath = Utf8ToWide(path);
    // Identification only: should the name reach a pipe server, it cannot act as the service.
    ScopedHandle file(CreateFileW(widePath.c_str(),
                                  GENERIC_READ,
                                  0,
                                  nullptr,
                                  OPEN_EXISTING,
                                  SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                                  nullptr));
    return file.isValid();
}

}  // namespace OrvaneClient
