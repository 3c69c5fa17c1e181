#include "core/windows/OperatingSystem.h"
#include "tests/support/EmulatedMachineTest.h"
#include "tests/support/LogCapture.h"
#include "win32emu/include/Win32Emu/Machine.h"

#include <Poco/Message.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace OrvaneClient {
namespace {

using Testing::EmulatedMachineTest;
using Testing::LogCapture;

constexpr WORD X86 = PROCESSOR_ARCHITECTURE_INTEL;
constexpr WORD X64 = PROCESSOR_ARCHITECTURE_AMD64;
constexpr WORD IA64 = PROCESSOR_ARCHITECTURE_IA64;
constexpr BYTE Workstation = VER_NT_WORKSTATION;
constexpr BYTE Server = VER_NT_SERVER;

struct DescribedSystem {
    DWORD major, minor, build;
    const char* servicePack;
    WORD suite;
    BYTE productType;
    WORD architecture;
    DWORD edition;  // what GetProductInfo reports
    int serverR2;
    const char* expected;
};

class OperatingSystemTest : public EmulatedMachineTest {
protected:
    void describe(const DescribedSystem& system) {
        Win32Emu::VersionInfo version;
        version.majorVersion = system.major;
        version.minorVersion = system.minor;
        version.buildNumber = system.build;
        version.servicePack = system.servicePack;
        version.suiteMask = system.suite;
        version.productType = system.productType;
        machine().setVersion(version);
        machine().setProcessorArchitecture(system.architecture);
        machine().setProductInfo(system.edition);
        machine().setSystemMetric(SM_SERVERR2, system.serverR2);
    }
};

// clang-format off
const DescribedSystem DescribedSystems[] = {
    {6, 1, 7601, "Service Pack 1", 0, Workstation, X64, PRODUCT_PROFESSIONAL, 0,
     "Microsoft Windows 7 Professional Service Pack 1 (build 7601), 64-bit"},
    {5, 1, 2600, "Service Pack 3", 0, Workstation, X86, 0, 0,
     "Microsoft Windows XP Professional Service Pack 3 (build 2600)"},
    {5, 2, 3790, "Service Pack 2", VER_SUITE_ENTERPRISE, Server, X86, 0, 1,
     "Microsoft Windows Server 2003 R2, Enterprise Edition Service Pack 2 (build 3790)"},
    // An edition missing from the table: two spaces before the parenthesis.
    {6, 1, 7601, "", 0, Workstation, X64, 0x65, 0, "Microsoft Windows 7  (build 7601), 64-bit"},
    // Version 10 is Windows 11 from build 22000 on.
    {10, 0, 19045, "", 0, Workstation, X64, PRODUCT_PROFESSIONAL, 0,
     "Microsoft Windows 10 Professional (build 19045), 64-bit"},
    {10, 0, 22000, "", 0, Workstation, X86, PRODUCT_PROFESSIONAL, 0,
     "Microsoft Windows 11 Professional (build 22000), 32-bit"},
    {10, 0, 22631, "", 0, Workstation, X64, 0x65, 0, "Microsoft Windows 11  (build 22631), 64-bit"},
    {6, 0, 6002, "Service Pack 2", 0, Workstation, X86, PRODUCT_ULTIMATE, 0,
     "Microsoft Windows Vista Ultimate Edition Service Pack 2 (build 6002), 32-bit"},
    {6, 0, 6001, "", 0, Server, IA64, PRODUCT_ENTERPRISE_SERVER_IA64, 0,
     "Microsoft Windows Vista Enterprise Edition for Itanium-based Systems (build 6001)"},
    {5, 2, 3790, "", 0, Workstation, X64, 0, 0,
     "Microsoft Windows XP Professional x64 Edition (build 3790)"},
    {5, 2, 3790, "", VER_SUITE_DATACENTER | VER_SUITE_ENTERPRISE, Server, X64, 0, 0,
     "Microsoft Windows Server 2003, Datacenter x64 Edition (build 3790)"},
    {5, 2, 3790, "", VER_SUITE_COMPUTE_SERVER | VER_SUITE_DATACENTER, Server, X86, 0, 0,
     "Microsoft Windows Server 2003, Compute Cluster Edition (build 3790)"},
    {5, 0, 2195, "", VER_SUITE_ENTERPRISE, Server, X86, 0, 0,
     "Microsoft Windows 2000 Advanced Server (build 2195)"},
};
// clang-format on

TEST_F(OperatingSystemTest, DescribesEachKindOfSystemInOneLine) {
    for (const DescribedSystem& system : DescribedSystems) {
        SCOPED_TRACE(system.expected);
        describe(system);
        LogCapture capture;
        EXPECT_EQ(GetWindowsVersionName(), system.expected);
        EXPECT_TRUE(capture.lines().empty()) << capture.dump();
    }
}

TEST_F(OperatingSystemTest, OlderOrNonNtSystemsAreUnknownWithAnErrorLine) {
    const struct {
        const char* title;
        DWORD platform;
        DWORD major;
        const char* failCall;
    } cases[] = {
        {"Windows NT 4", VER_PLATFORM_WIN32_NT, 4, nullptr},
        {"Windows 98", VER_PLATFORM_WIN32_WINDOWS, 4, nullptr},
        {"no version information", VER_PLATFORM_WIN32_NT, 6, "GetVersionExA"},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.title);
        Win32Emu::VersionInfo version;
        version.platformId = entry.platform;
        version.majorVersion = entry.major;
        machine().setVersion(version);
        if (entry.failCall != nullptr) {
            machine().failNext(entry.failCall, ERROR_INVALID_PARAMETER);
        }
        LogCapture capture;
        EXPECT_EQ(GetWindowsVersionName(), "Unknown Windows");
        ASSERT_EQ(capture.lines().size(), 1u) << capture.dump();
        EXPECT_TRUE(
            capture.contains(Poco::Message::PRIO_ERROR, "Failed to get Windows version name"));
    }
}

TEST_F(OperatingSystemTest, LookedUpFunctionsMayBeMissing) {
    describe({6, 1, 7601, "Service Pack 1", 0, Workstation, X86, PRODUCT_PROFESSIONAL, 0, ""});
    // Without GetNativeSystemInfo the architecture comes from GetSystemInfo.
    machine().setExported("kernel32.dll", "GetNativeSystemInfo", false);
    EXPECT_EQ(GetWindowsVersionName(),
              "Microsoft Windows 7 Professional Service Pack 1 (build 7601), 32-bit");
    // Without GetProductInfo the edition is left out rather than called through null.
    machine().setExported("kernel32.dll", "GetProductInfo", false);
    EXPECT_EQ(GetWindowsVersionName(), "Microsoft Windows 7  Service Pack 1 (build 7601), 32-bit");
}

TEST_F(OperatingSystemTest, TextThatDoesNotFitLeavesTheBufferAlone) {
    describe(DescribedSystems[0]);
    const std::string expected = DescribedSystems[0].expected;
    char buffer[128];
    std::memset(buffer, 'x', sizeof(buffer));
    EXPECT_FALSE(TryGetWindowsVersionName(buffer, expected.size()));
    EXPECT_EQ(std::string(buffer, expected.size()), std::string(expected.size(), 'x'));

    ASSERT_TRUE(TryGetWindowsVersionName(buffer, expected.size() + 1));
    EXPECT_STREQ(buffer, expected.c_str());
}

TEST_F(OperatingSystemTest, XpSp3OrLaterFollowsTheVersionAndWow64) {
    const struct {
        DWORD major, minor;
        WORD servicePack;
        bool wow64, expected;
    } cases[] = {{5, 1, 3, false, true},
                 {5, 1, 2, false, false},
                 {5, 2, 2, false, true},
                 {5, 2, 2, true, false},
                 {6, 1, 0, true, true}};
    for (const auto& entry : cases) {
        SCOPED_TRACE(std::to_string(entry.major) + "." + std::to_string(entry.minor) + " SP" +
                     std::to_string(entry.servicePack) + (entry.wow64 ? " WOW64" : ""));
        Win32Emu::VersionInfo version;
        version.majorVersion = entry.major;
        version.minorVersion = entry.minor;
        version.servicePackMajor = entry.servicePack;
        machine().setVersion(version);
        machine().setWow64(entry.wow64);
        EXPECT_EQ(IsXpSp3OrLater(), entry.expected);
    }
}

}  // namespace
}  // namespace OrvaneClient
