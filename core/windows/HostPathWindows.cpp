#include "core/windows/HostPath.h"

namespace OrvaneClient {

std::string HostPathFromWindowsPath(const std::string& windowsPath) {
    return windowsPath;
}

}  // namespace OrvaneClient
