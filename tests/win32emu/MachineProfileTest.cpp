// Machine profiles: the built-in machine, and profile files that override parts of it.

#include "tests/support/EmulatedMachineTest.h"

#include <Poco/Exception.h>
#include <Poco/FileStream.h>
#include <gtest/gtest.h>

#include <shlobj.h>
#include <string>
#include <vector>
#include <windows.h>
#include <wtsapi32.h>

namespace {

using OrvaneClient::Testing::EmulatedMachineTest;

const std::string userSid = "S-1-5-21-2254011875-3712098642-1289462413-1001";
const std::string clientKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Qovex\\OrvaneClient";
const std::string gamesKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Qovex\\Games";
const std::string userKey = "HKEY_USERS\\" + userSid + "\\SOFTWARE\\Qovex\\Orvane";

class MachineProfileTest : public EmulatedMachineTest {
protected:
    std::string writeProfile(const std::string& json) {
        const std::string path = hostRoot() + "/profile.json";
        Poco::FileOutputStream(path) << json;
        return path;
    }

    std::wstring folder(int csidl) {
        WCHAR path[MAX_PATH] = {};
        return SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path) == S_OK
                   ? std::wstring(path)
                   : std::wstring(L"<failed>");
    }
};

TEST_F(MachineProfileTest, BuiltInProfileIsAWindows11ProfessionalMachineWithAConsoleUser) {
    const Win32Emu::VersionInfo version = machine().version();
    EXPECT_EQ(10u, version.majorVersion);
    EXPECT_EQ(0u, version.minorVersion);
    EXPECT_EQ(22631u, version.buildNumber);
    EXPECT_EQ("", version.servicePack);
    DWORD product = 0;
    ASSERT_TRUE(GetProductInfo(10, 0, 0, 0, &product));
    EXPECT_EQ(static_cast<DWORD>(PRODUCT_PROFESSIONAL), product);

    EXPECT_EQ(1u, machine().consoleSession());
    EXPECT_EQ(userSid, machine().sessionUser(1));
    EXPECT_EQ("", machine().sessionUser(0));
    const auto account = machine().account(userSid);
    ASSERT_TRUE(account.has_value());
    EXPECT_TRUE(account->administrator);
    EXPECT_TRUE(account->linkedToken);
    bool explorerInConsoleSession = false;
    for (const Win32Emu::ProcessEntry& process : machine().processes()) {
        explorerInConsoleSession |= process.executableName == "explorer.exe" &&
                                    process.sessionId == 1 && process.userSid == userSid;
    }
    EXPECT_TRUE(explorerInConsoleSession);

    EXPECT_EQ(L"C:\\ProgramData", folder(CSIDL_COMMON_APPDATA));
    WCHAR module[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    EXPECT_EQ(std::wstring(L"C:\\Program Files (x86)\\Orvane Client\\OrvaneService.exe"), module);
    EXPECT_TRUE(machine().registryKeyExists(clientKey));
    EXPECT_TRUE(machine().registryKeyExists(gamesKey));
    EXPECT_TRUE(machine().registryString(userKey, "refreshToken").has_value());
}

TEST_F(MachineProfileTest, ProfileFileOverridesOnlyWhatItNames) {
    machine().loadProfileFile(writeProfile(R"({
        "version": { "major": 5, "minor": 1, "build": 2600, "servicePack": "Service Pack 3" },
        "processorArchitecture": "x86",
        "wow64": false,
        "folders": { "0x23": "D:\\Data" },
        "registry": {
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Qovex\\OrvaneClient": {
                "loggerLevel": 7,
                "installDir": { "type": "REG_EXPAND_SZ", "data": "%ProgramFiles%\\Orvane" }
            },
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Qovex\\Games": null
        }
    })"));
    const Win32Emu::VersionInfo version = machine().version();
    EXPECT_EQ(5u, version.majorVersion);
    EXPECT_EQ(2600u, version.buildNumber);
    EXPECT_EQ("Service Pack 3", version.servicePack);
    EXPECT_EQ(0, version.servicePackMajor);  // not named: the built-in value stays
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    EXPECT_EQ(PROCESSOR_ARCHITECTURE_INTEL, info.wProcessorArchitecture);
    EXPECT_EQ(L"D:\\Data", folder(CSIDL_COMMON_APPDATA));
    EXPECT_EQ(L"C:\\Windows", folder(CSIDL_WINDOWS));

    EXPECT_EQ(7u, machine().registryDword(clientKey, "loggerLevel"));
    EXPECT_EQ("%ProgramFiles%\\Orvane", machine().registryString(clientKey, "installDir"));
    EXPECT_FALSE(machine().registryKeyExists(gamesKey));
    // Unchanged parts of the built-in profile.
    EXPECT_EQ(1u, machine().consoleSession());
    EXPECT_TRUE(machine().registryString(userKey, "refreshToken").has_value());
}

TEST_F(MachineProfileTest, KeysFollowTheProcessViewOfTheCombinedProfile) {
    // Without WOW64 the built-in keys land in the 64-bit view, where a 64-bit process sees them.
    machine().loadProfileJson(R"({ "wow64": false })");
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                            L"SOFTWARE\\Qovex\\OrvaneClient",
                            0,
                            KEY_READ | KEY_WOW64_64KEY,
                            &key));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

TEST_F(MachineProfileTest, NullRemovesAKeyWithEverythingBelowIt) {
    machine().loadProfileJson(R"({
        "registry": {
            "HKEY_USERS\\S-1-5-21-2254011875-3712098642-1289462413-1001": null,
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Qovex\\OrvaneClient": { "keep": "me" }
        },
        "sessions": { "1": { "user": null } },
        "consoleSession": 4294967295
    })");
    EXPECT_FALSE(machine().registryKeyExists(userKey));
    EXPECT_EQ("me", machine().registryString(clientKey, "keep"));
    EXPECT_EQ("", machine().sessionUser(1));
    EXPECT_EQ(0xFFFFFFFFu, machine().consoleSession());
}

TEST_F(MachineProfileTest, BadProfilesAreRejectedAndLeaveTheMachineAsItWas) {
    machine().setProductInfo(PRODUCT_ULTIMATE);
    const struct {
        const char* json;
        const char* problem;
    } cases[] = {
        {"{ not json", "syntax"},
        {"[1, 2]", "not an object"},
        {R"({ "colour": "blue" })", "unknown member"},
        {R"({ "version": { "major": "six" } })", "string for a number"},
        {R"({ "version": { "major": -1 } })", "negative DWORD"},
        {R"({ "wow64": 1 })", "number for a boolean"},
        {R"({ "processorArchitecture": "sparc" })", "unknown architecture"},
        {R"({ "folders": { "appdata": "C:\\x" } })", "CSIDL not a number"},
        {R"({ "registry": { "HKEY_CURRENT_USER\\Software": {} } })", "root not emulated"},
        {R"({ "registry": { "HKEY_USERS\\x": { "v": { "type": "REG_BINARY", "data": "" } } } })",
         "value type not emulated"},
        {R"({ "exports": { "kernel32.dll": { "CreateProcessW": true } } })", "unknown export"},
        {R"({ "accounts": { "Player": { "name": "Player" } } })", "account not named by a SID"},
        {R"({ "sessions": { "2": { "user": "S-1-5-x" } } })", "session user not a SID"},
        {R"({ "processes": { "9": { "user": "S-2-5-18" } } })", "process user not a SID"},
        {R"({ "processes": { "9": { "priority": 8 } } })", "unknown process member"},
        {R"({ "files": { "notepad.exe": {} } })", "file path not full"},
        {R"({ "files": { "C:\\x.exe": { "locked": true } } })", "unknown file mark"},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.problem);
        EXPECT_THROW(machine().loadProfileJson(entry.json), Poco::Exception);
        DWORD product = 0;
        GetProductInfo(6, 1, 0, 0, &product);
        EXPECT_EQ(static_cast<DWORD>(PRODUCT_ULTIMATE), product);
    }
    EXPECT_THROW(machine().loadProfileFile(hostRoot() + "/no-such-profile.json"),
                 Poco::FileException);
}

TEST_F(MachineProfileTest, ProfileProcessesKeepTheirOrderAndCarryTheirMarks) {
    machine().loadProfileJson(R"({
        "sessions": { "0": null, "2": { "user": "" } },
        "processes": {
            "2412": { "failOpenProcessToken": 5 },
            "90": { "name": "EXPLORER.EXE", "session": 2, "failOpenProcess": 5,
                    "failProcessIdToSessionId": 87, "elevated": true },
            "556": null
        },
        "currentProcess": 612
    })");
    std::vector<std::string> order;
    for (const Win32Emu::ProcessEntry& process : machine().processes()) {
        order.push_back(process.executableName + ":" + std::to_string(process.processId));
    }
    const std::vector<std::string> expected{"System:4",
                                            "wininit.exe:484",
                                            "winlogon.exe:612",
                                            "explorer.exe:2412",
                                            "OrvaneService.exe:3104",
                                            "OrvaneClient.exe:5120",
                                            "EXPLORER.EXE:90"};
    EXPECT_EQ(expected, order);
    const Win32Emu::ProcessEntry explorer = machine().processes()[3];
    EXPECT_EQ(5u, explorer.openProcessTokenError);
    EXPECT_EQ(userSid, explorer.userSid);
    const Win32Emu::ProcessEntry added = machine().processes().back();
    EXPECT_EQ("S-1-5-18", added.userSid);
    EXPECT_EQ(2u, added.sessionId);
    EXPECT_TRUE(added.elevated);
    EXPECT_EQ(5u, added.openProcessError);
    EXPECT_EQ(87u, added.sessionIdError);
    EXPECT_EQ(612u, machine().currentProcessId());

    // Session 0 is gone and session 2 has nobody: no token for either.
    HANDLE token = nullptr;
    for (const DWORD session : {0u, 2u}) {
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(WTSQueryUserToken(session, &token));
        EXPECT_EQ(session == 0 ? static_cast<DWORD>(ERROR_FILE_NOT_FOUND)
                               : static_cast<DWORD>(ERROR_NO_TOKEN),
                  GetLastError());
    }
}

TEST_F(MachineProfileTest, LoadingAProfileResetsWhatTestsChanged) {
    machine().setRegistryDword(clientKey, "loggerLevel", 1);
    machine().failNext("GetVersionExA", ERROR_ACCESS_DENIED);
    machine().loadDefaultProfile();
    EXPECT_FALSE(machine().registryDword(clientKey, "loggerLevel").has_value());
    OSVERSIONINFOEXA info{};
    info.dwOSVersionInfoSize = sizeof(info);
    EXPECT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&info)));
}

}  // namespace
