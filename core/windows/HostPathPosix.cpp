#include "core/windows/HostPath.h"

#include <Win32Emu/HostPath.h>

namespace OrvaneClient {

// Off Windows the drives are emulated: their files lie under the emulator's host root.
std::string HostPathFromWindowsPath(const std::string& windowsPath) {
    return Win32Emu::HostPathFromWindowsPath(windowsPath);
}

}  // namespace OrvaneClient
