// The machine a process starts on: the profile file named by WIN32EMU_PROFILE. Checked in a child
// run of this test program, since the machine of this process exists already.

#include <Poco/Environment.h>
#include <Poco/File.h>
#include <Poco/FileStream.h>
#include <Poco/Process.h>
#include <Poco/TemporaryFile.h>
#include <gtest/gtest.h>

#include <Win32Emu/Machine.h>
#include <chrono>
#include <string>
#include <thread>
#include <windows.h>

namespace {

const char* const childTest = "StartupProfileChild.SeesTheProfileFile";

// Runs this program's child test with the given profile file; its exit code, or -1 if it did
// not end within the deadline.
int runChild(const std::string& profilePath, const std::string& hostRoot) {
    Poco::Process::Env environment;
    environment["WIN32EMU_PROFILE"] = profilePath;
    environment["WIN32EMU_ROOT"] = hostRoot;
    Poco::ProcessHandle child = Poco::Process::launch("/proc/self/exe",
                                                      {std::string("--gtest_filter=") + childTest},
                                                      hostRoot,
                                                      nullptr,
                                                      nullptr,
                                                      nullptr,
                                                      environment);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        const int exitCode = child.tryWait();
        if (exitCode != -1) {
            return exitCode;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Poco::Process::kill(child);
    child.wait();
    return -1;
}

class StartupProfileTest : public ::testing::Test {
protected:
    void SetUp() override { Poco::File(root).createDirectories(); }
    void TearDown() override { Poco::File(root).remove(true); }

    std::string writeProfile(const std::string& json) {
        const std::string path = root + "/profile.json";
        Poco::FileOutputStream(path) << json;
        return path;
    }

    const std::string root = Poco::TemporaryFile::tempName();
};

TEST_F(StartupProfileTest, ProcessStartsOnTheProfileFileItNames) {
    const std::string profile = writeProfile(R"({
        "version": { "major": 5, "minor": 1, "build": 2600 },
        "registry": { "HKEY_LOCAL_MACHINE\\SOFTWARE\\Qovex\\OrvaneClient": { "loggerLevel": 3 } },
        "reparsePoints": { "C:\\Games\\Link": { "target": "C:\\Windows" } },
        "security": { "HKEY_LOCAL_MACHINE\\SOFTWARE\\Qovex\\Games": { "owner": "S-1-5-18" } }
    })");
    EXPECT_EQ(0, runChild(profile, root));
}

TEST_F(StartupProfileTest, ProcessEndsWhenItsProfileFileIsBad) {
    EXPECT_EQ(1, runChild(writeProfile("{ \"version\": 6 }"), root));
    EXPECT_EQ(1, runChild(root + "/missing.json", root));
}

// Run only as the child of the tests above.
TEST(StartupProfileChild, SeesTheProfileFile) {
    if (Poco::Environment::get("WIN32EMU_PROFILE", "").empty()) {
        GTEST_SKIP() << "runs as a child of StartupProfileTest";
    }
    Win32Emu::Machine& machine = Win32Emu::Machine::instance();
    EXPECT_EQ(Poco::Environment::get("WIN32EMU_ROOT"), machine.hostRoot());
    OSVERSIONINFOEXA info{};
    info.dwOSVersionInfoSize = sizeof(info);
    ASSERT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&info)));
    EXPECT_EQ(5u, info.dwMajorVersion);
    EXPECT_EQ(2600u, info.dwBuildNumber);
    EXPECT_EQ(
        3u,
        machine.registryDword("HKEY_LOCAL_MACHINE\\SOFTWARE\\Qovex\\OrvaneClient", "loggerLevel"));
    EXPECT_NE(0u, GetFileAttributesW(L"C:\\Games\\Link") & FILE_ATTRIBUTE_REPARSE_POINT);
    // The rest of the built-in machine is still there.
    EXPECT_EQ(1u, machine.consoleSession());
}

}  // namespace
