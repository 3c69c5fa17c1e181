#pragma once

// What a Machine holds, for the files that define its members.

#include "Win32Emu/Machine.h"
#include "machine/MachineModel.h"

namespace Win32Emu {

struct Machine::State {
    MachineModel model;
};

}  // namespace Win32Emu
