// The one machine of the process: made on first use with the profile its environment names,
// and reset to an empty machine.

#include "Win32Emu/Machine.h"

#include "machine/MachineModel.h"
#include "machine/MachineState.h"

#include <Poco/Environment.h>
#include <Poco/Exception.h>

#include <cstdio>
#include <cstdlib>

namespace Win32Emu {

namespace {

// Set once by the constructor of the one Machine; the emulated calls reach the model through it.
MachineModel* theModel = nullptr;

// Set while the constructor loads the profile: the calls it makes reach the model that is being
// built, not Machine::instance(), whose initialisation is still under way on this thread.
thread_local bool loadingProfile = false;

std::string defaultHostRoot() {
    const std::string home = Poco::Environment::get("HOME", "");
    return home.empty() ? std::string("/tmp/orvane-win32emu") : home + "/.orvane-win32emu";
}

}  // namespace

MachineModel& Model() {
    if (!loadingProfile) {
        Machine::instance();
    }
    return *theModel;
}

Machine& Machine::instance() {
    // Never destroyed: threads and static destructors may still make emulated calls at exit.
    static Machine* const machine = new Machine();
    return *machine;
}

Machine::Machine() : state(new State) {
    theModel = &state->model;
    const std::string root = Poco::Environment::get("WIN32EMU_ROOT", "");
    setHostRoot(root.empty() ? defaultHostRoot() : root);
    const std::string profile = Poco::Environment::get("WIN32EMU_PROFILE", "");
    loadingProfile = true;
    try {
        if (profile.empty()) {
            loadDefaultProfile();
        } else {
            loadProfileFile(profile);
        }
    } catch (const Poco::Exception& error) {
        // The machine cannot start as asked; running on another one would mislead.
        std::fprintf(stderr,
                     "win32emu: cannot load the machine profile %s: %s\n",
                     profile.c_str(),
                     error.displayText().c_str());
        std::exit(EXIT_FAILURE);
    }
    loadingProfile = false;
}

Machine::~Machine() {
    delete state;
}

void Machine::reset() {
    MachineModel& model = state->model;
    {
        std::lock_guard<std::mutex> guard(model.lock);
        model.configuration = Configuration();
    }
    model.registry.clear();
    model.security.clear();
    model.faults.clear();
}

}  // namespace Win32Emu
