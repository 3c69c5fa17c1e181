// Fault injection and hooks before calls, as tests arm them.

#include "Win32Emu/Machine.h"
#include "machine/Exports.h"
#include "machine/MachineModel.h"
#include "machine/MachineState.h"

#include <Poco/Exception.h>

namespace Win32Emu {

std::string Fault::describe() const {
    std::string text = callName;
    if (principal) {
        text += "(\"" + *principal + "\")";
    }
    if (object) {
        text += " on a " + *object;
    }
    text += nth == 0 ? ", every call" : ", call " + std::to_string(nth);
    return text + ", error " + std::to_string(errorCode);
}

void Machine::injectFault(const Fault& fault) {
    // A misspelt fault would never fire and leave a test that cannot fail.
    if (!IsFaultableCall(fault.call())) {
        throw Poco::InvalidArgumentException("Not an emulated call that can be made to fail",
                                             fault.call());
    }
    if (fault.objectType() && !IsObjectTypeName(*fault.objectType())) {
        throw Poco::InvalidArgumentException("Not an emulated object type", *fault.objectType());
    }
    state->model.faults.arm(fault);
}

void Machine::failNext(const std::string& call, DWORD error) {
    injectFault(Fault(call, error));
}

void Machine::failWhen(const std::string& call, const std::string& argument, DWORD error) {
    injectFault(Fault(call, error).withArgument(argument).always());
}

void Machine::beforeCall(const std::string& call, std::function<void()> action) {
    if (!IsFaultableCall(call)) {
        throw Poco::InvalidArgumentException("Not an emulated call", call);
    }
    state->model.faults.hookBefore(call, std::move(action));
}

std::vector<std::string> Machine::unfiredFaults() const {
    return state->model.faults.unfired();
}

void Machine::clearFaults() {
    state->model.faults.clear();
}

}  // namespace Win32Emu
