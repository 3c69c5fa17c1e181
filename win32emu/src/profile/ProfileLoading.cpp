// Loading a machine profile onto the Machine: the built-in one, or one from a file or a text.

#include "Win32Emu/Machine.h"
#include "profile/MachineProfile.h"

#include <Poco/Exception.h>
#include <Poco/FileStream.h>
#include <Poco/StreamCopier.h>

namespace Win32Emu {

void Machine::loadDefaultProfile() {
    const MachineProfile profile = MachineProfile::builtIn();
    reset();
    profile.applyTo(*this);
}

namespace {

std::string readProfileFile(const std::string& hostPath) {
    Poco::FileInputStream stream(hostPath);
    std::string json;
    Poco::StreamCopier::copyToString(stream, json);
    if (stream.bad()) {
        throw Poco::ReadFileException("Cannot read the machine profile", hostPath);
    }
    return json;
}

}  // namespace

void Machine::loadProfileFile(const std::string& hostPath) {
    loadProfileJson(readProfileFile(hostPath));
}

void Machine::checkProfileFile(const std::string& hostPath) {
    MachineProfile::withOverrides(readProfileFile(hostPath));
}

void Machine::loadProfileJson(const std::string& json) {
    // Read and checked whole before the machine changes: a bad profile leaves it as it was.
    const MachineProfile profile = MachineProfile::withOverrides(json);
    reset();
    profile.applyTo(*this);
}

}  // namespace Win32Emu
