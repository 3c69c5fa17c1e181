// The host path of a Windows path, for the programs' own code that opens host files itself.

#include "Win32Emu/HostPath.h"

#include "machine/FileSystem.h"
#include "machine/MachineModel.h"

namespace Win32Emu {

std::string HostPathFromWindowsPath(const std::string& windowsPath) {
    // A program that opens the path by name goes through the junctions on it to their targets.
    const std::optional<std::vector<std::string>> given = SplitDrivePath(windowsPath);
    if (given) {
        const SecurableObject object = Model().security.resolveFile(windowsPath);
        if (!object.components.empty() && object.components != *given) {
            return Model().drives.hostPath(SpelledPath(object.components, std::string()));
        }
    }
    return Model().drives.hostPath(windowsPath);
}

}  // namespace Win32Emu
