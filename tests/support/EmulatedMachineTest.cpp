#include "tests/support/EmulatedMachineTest.h"

#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/TemporaryFile.h>

#include <sstream>

namespace OrvaneClient::Testing {

namespace {

std::set<std::uintptr_t> valuesOf(const std::vector<Win32Emu::OpenObject>& objects) {
    std::set<std::uintptr_t> values;
    for (const Win32Emu::OpenObject& object : objects) {
        values.insert(object.value);
    }
    return values;
}

// "Token 0x120 from DuplicateTokenEx; ..." for each object not open at the start.
std::string describeNew(const std::vector<Win32Emu::OpenObject>& objects,
                        const std::set<std::uintptr_t>& atStart) {
    std::ostringstream text;
    for (const Win32Emu::OpenObject& object : objects) {
        if (atStart.count(object.value) == 0) {
            text << object.type << " 0x" << std::hex << object.value << std::dec << " from "
                 << object.createdBy << "; ";
        }
    }
    return text.str();
}

}  // namespace

void EmulatedMachineTest::SetUp() {
    temporaryRoot = Poco::TemporaryFile::tempName();
    Poco::File(temporaryRoot).createDirectories();
    previousRoot = machine().hostRoot();
    machine().setHostRoot(temporaryRoot);
    machine().loadDefaultProfile();
    handlesAtStart = machine().openHandleCount();
    localAllocsAtStart = machine().localAllocCount();
    environmentBlocksAtStart = machine().environmentBlockCount();
    handlesOpenAtStart = valuesOf(machine().openHandles());
    blocksAllocatedAtStart = valuesOf(machine().openLocalAllocs());
}

void EmulatedMachineTest::TearDown() {
    EXPECT_EQ(handlesAtStart, machine().openHandleCount())
        << "handles left open: " << describeNew(machine().openHandles(), handlesOpenAtStart);
    EXPECT_EQ(localAllocsAtStart, machine().localAllocCount())
        << "LocalAlloc blocks not freed: "
        << describeNew(machine().openLocalAllocs(), blocksAllocatedAtStart);
    EXPECT_EQ(environmentBlocksAtStart, machine().environmentBlockCount())
        << "environment blocks not destroyed";
    for (const std::string& fault : machine().unfiredFaults()) {
        ADD_FAILURE() << "injected fault never fired: " << fault;
    }
    machine().clearFaults();
    machine().setHostRoot(previousRoot);
    // The machine is the process's: tests that follow without this fixture expect the built-in
    // one, not what this test made of it.
    machine().loadDefaultProfile();
    try {
        Poco::File(temporaryRoot).remove(true);
    } catch (const Poco::Exception& error) {
        ADD_FAILURE() << "cannot remove " << temporaryRoot << ": " << error.displayText();
    }
}

}  // namespace OrvaneClient::Testing
