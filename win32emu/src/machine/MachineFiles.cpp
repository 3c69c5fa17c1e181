// The machine's files: where its drives lie on the host, the files it lists with their marks,
// and the process's current directory.

#include "Win32Emu/Machine.h"
#include "machine/FileSystem.h"
#include "machine/MachineModel.h"
#include "machine/MachineState.h"

#include <Poco/Exception.h>

namespace Win32Emu {

void Machine::setFile(const std::string& windowsPath, const FileEntry& entry) {
    // Only a full path on a drive: a relative one would depend on the current directory.
    const bool onDrive = windowsPath.size() >= 3 && windowsPath[1] == ':' &&
                         (windowsPath[2] == '\\' || windowsPath[2] == '/');
    const std::optional<std::string> full =
        onDrive ? FullWindowsPath(windowsPath) : std::optional<std::string>();
    if (!full || full->size() <= 3) {
        throw Poco::InvalidArgumentException("Not a full path to a file", windowsPath);
    }
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.files[PathKey(*full)] = ListedFile{*full, entry};
}

void Machine::setCurrentDirectory(const std::wstring& path) {
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.currentDirectory = path;
}

void Machine::setHostRoot(const std::string& hostDirectory) {
    state->model.drives.setRoot(hostDirectory);
}

std::string Machine::hostRoot() const {
    return state->model.drives.root();
}

std::string Machine::hostPath(const std::string& windowsPath) const {
    return state->model.drives.hostPath(windowsPath);
}

}  // namespace Win32Emu
