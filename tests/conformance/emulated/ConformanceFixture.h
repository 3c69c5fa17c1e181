#pragma once

// On the emulated machine a conformance test also checks, as every emulated test does, that it
// released every handle and LocalAlloc block it obtained.

#include "tests/support/EmulatedMachineTest.h"

namespace OrvaneClient::Testing {

using ConformanceTest = EmulatedMachineTest;

}  // namespace OrvaneClient::Testing
