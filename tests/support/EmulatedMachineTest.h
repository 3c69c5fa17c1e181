#pragma once

// A test fixture on the emulated Windows machine (modelled on Chromium's RegistryOverrideManager):
// every test starts on the built-in machine profile with its drives on a fresh temporary host
// directory, and ends with a check that it released every handle, LocalAlloc block and
// environment block it obtained (naming each one left: its type and the call that made it) and
// that every fault it injected fired. Built only with the emulation.

#include <gtest/gtest.h>

#include <Win32Emu/Machine.h>
#include <set>
#include <string>

namespace OrvaneClient::Testing {

class EmulatedMachineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    Win32Emu::Machine& machine() { return Win32Emu::Machine::instance(); }
    // The host directory that holds this test's drives (C: is <hostRoot>/C).
    const std::string& hostRoot() const { return temporaryRoot; }

    // The counts SetUp recorded; a test that hands something over on purpose can adjust them.
    size_t handlesAtStart = 0;
    size_t localAllocsAtStart = 0;
    size_t environmentBlocksAtStart = 0;

private:
    std::set<std::uintptr_t> handlesOpenAtStart;
    std::set<std::uintptr_t> blocksAllocatedAtStart;
    std::string temporaryRoot;
    std::string previousRoot;
};

}  // namespace OrvaneClient::Testing
