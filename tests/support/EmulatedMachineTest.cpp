#include "tests/support/EmulatedMachineTest.h"

#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/TemporaryFile.h>

namespace OrvaneClient::Testing {

void EmulatedMachineTest::SetUp() {
    temporaryRoot = Poco::TemporaryFile::tempName();
    Poco::File(temporaryRoot).createDirectories();
    previousRoot = machine().hostRoot();
    machine().setHostRoot(temporaryRoot);
    machine().loadDefaultProfile();
    handlesAtStart = machine().openHandleCount();
    localAllocsAtStart = machine().localAllocCount();
    environmentBlocksAtStart = machine().environmentBlockCount();
}

void EmulatedMachineTest::TearDown() {
    EXPECT_EQ(handlesAtStart, machine().openHandleCount()) << "handles left open";
    EXPECT_EQ(localAllocsAtStart, machine().localAllocCount()) << "LocalAlloc blocks not freed";
    EXPECT_EQ(environmentBlocksAtStart, machine().environmentBlockCount())
        << "environment blocks not destroyed";
    machine().clearFaults();
    machine().setHostRoot(previousRoot);
    try {
        Poco::File(temporaryRoot).remove(true);
    } catch (const Poco::Exception& error) {
        ADD_FAILURE() << "cannot remove " << temporaryRoot << ": " << error.displayText();
    }
}

}  // namespace OrvaneClient::Testing
