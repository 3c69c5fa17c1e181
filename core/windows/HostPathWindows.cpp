#include "core/windows/Win32Api.h"

namespace OrvaneClient {

std::string HostPathFromWindowsPath(const std::string& windowsPath) {
    return windowsPath;
}

}  // namespace OrvaneClient
