// Environment blocks, process creation and opening files: CreateEnvironmentBlock,
// CreateProcessAsUserW, CreateFileW.

#include "tests/core/util/ScopedEnvironmentVariable.h"
#include "tests/support/EmulatedMachineTest.h"

#include <Poco/File.h>
#include <Poco/FileStream.h>
#include <gtest/gtest.h>

#include <Win32Emu/Machine.h>
#include <algorithm>
#include <cwctype>
#include <map>
#include <string>
#include <userenv.h>
#include <vector>
#include <windows.h>
#include <wtsapi32.h>

namespace {

using OrvaneClient::Testing::EmulatedMachineTest;
using OrvaneClient::Testing::ScopedEnvironmentVariable;

const char* const playerSid = "S-1-5-21-2254011875-3712098642-1289462413-1001";
const wchar_t* const notepad = L"C:\\Windows\\notepad.exe";
const DWORD launchAccess = TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_QUERY;

// The "NAME=value" strings of a wide block.
std::vector<std::wstring> blockStrings(const void* block) {
    std::vector<std::wstring> strings;
    for (auto* text = static_cast<const WCHAR*>(block); *text != L'\0';) {
        strings.emplace_back(text);
        text += strings.back().size() + 1;
    }
    return strings;
}

std::map<std::wstring, std::wstring> variablesOf(const std::vector<std::wstring>& strings) {
    std::map<std::wstring, std::wstring> variables;
    for (const std::wstring& text : strings) {
        variables[text.substr(0, text.find(L'='))] = text.substr(text.find(L'=') + 1);
    }
    return variables;
}

// Windows keeps a block sorted by name, without regard to case.
bool nameLess(const std::wstring& left, const std::wstring& right) {
    const std::wstring a = left.substr(0, left.find(L'='));
    const std::wstring b = right.substr(0, right.find(L'='));
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(), [](wchar_t x, wchar_t y) {
            return std::towlower(x) < std::towlower(y);
        });
}

class ProcessCreationTest : public EmulatedMachineTest {
protected:
    // The console user's token (the filtered one), duplicated as asked.
    HANDLE userToken(DWORD access = launchAccess, TOKEN_TYPE type = TokenPrimary) {
        HANDLE session = nullptr;
        EXPECT_TRUE(WTSQueryUserToken(1, &session));
        HANDLE token = nullptr;
        EXPECT_TRUE(
            DuplicateTokenEx(session, access, nullptr, SecurityImpersonation, type, &token));
        CloseHandle(session);
        return token;
    }

    BOOL launch(HANDLE token,
                const wchar_t* application,
                const wchar_t* directory = nullptr,
                LPVOID environment = nullptr,
                DWORD flags = CREATE_UNICODE_ENVIRONMENT | NORMAL_PRIORITY_CLASS) {
        std::wstring commandLine = L"notepad.exe readme.txt";
        std::wstring desktop = L"WinSta0\\Default";
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        startup.lpDesktop = &desktop[0];
        information = {};
        return CreateProcessAsUserW(token,
                                    application,
                                    &commandLine[0],
                                    nullptr,
                                    nullptr,
                                    FALSE,
                                    flags,
                                    environment,
                                    directory,
                                    &startup,
                                    &information);
    }

    PROCESS_INFORMATION information = {};
};

TEST_F(ProcessCreationTest, EnvironmentBlockIsTheUsersOwnAndCountedUntilDestroyed) {
    const ScopedEnvironmentVariable hostOnly("ORVANE_HOST_ONLY", std::string("1"));
    const HANDLE token = userToken();
    for (const BOOL inherit : {FALSE, TRUE}) {
        SCOPED_TRACE(inherit);
        LPVOID block = nullptr;
        SetLastError(0xdeadbeef);
        ASSERT_TRUE(CreateEnvironmentBlock(&block, token, inherit));
        EXPECT_EQ(0xdeadbeefu, GetLastError());
        EXPECT_EQ(environmentBlocksAtStart + 1, machine().environmentBlockCount());
        const std::vector<std::wstring> strings = blockStrings(block);
        auto variables = variablesOf(strings);
        EXPECT_EQ(L"Player", variables[L"USERNAME"]);
        EXPECT_EQ(L"GAMING-PC", variables[L"USERDOMAIN"]);
        EXPECT_EQ(L"C:\\Users\\Player", variables[L"USERPROFILE"]);
        EXPECT_EQ(L"C:\\Users\\Player\\AppData\\Roaming", variables[L"APPDATA"]);
        EXPECT_EQ(L"C:\\Users\\Player\\AppData\\Local", variables[L"LOCALAPPDATA"]);
        EXPECT_EQ(L"C:\\Users\\Player\\AppData\\Local\\Temp", variables[L"TEMP"]);
        EXPECT_EQ(variables[L"TEMP"], variables[L"TMP"]);
        EXPECT_EQ(L"C:\\Windows", variables[L"SystemRoot"]);
        EXPECT_EQ(L"C:\\Windows", variables[L"windir"]);
        EXPECT_EQ(L"C:\\Program Files (x86)", variables[L"ProgramFiles"]);
        EXPECT_EQ(L"C:\\Program Files", variables[L"ProgramW6432"]);
        EXPECT_EQ(L"C:\\ProgramData", variables[L"ALLUSERSPROFILE"]);
        EXPECT_EQ(inherit ? 1u : 0u, variables.count(L"ORVANE_HOST_ONLY"));
        EXPECT_TRUE(std::is_sorted(strings.begin(), strings.end(), nameLess));
        SetLastError(0xdeadbeef);
        EXPECT_TRUE(DestroyEnvironmentBlock(block));
        EXPECT_EQ(0xdeadbeefu, GetLastError());
        EXPECT_EQ(environmentBlocksAtStart, machine().environmentBlockCount());
    }
    CloseHandle(token);
}

TEST_F(ProcessCreationTest, EnvironmentBlockFailsAsWindowsDoes) {
    const HANDLE noDuplicate = userToken(TOKEN_QUERY);
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const struct {
        const char* what;
        bool nullOut;
        HANDLE token;
        DWORD error;
    } cases[] = {
        {"no out pointer", true, noDuplicate, ERROR_INVALID_PARAMETER},
        {"no token (the system's block)", false, nullptr, ERROR_CALL_NOT_IMPLEMENTED},
        {"not a token", false, event, ERROR_INVALID_HANDLE},
        {"primary token without TOKEN_DUPLICATE", false, noDuplicate, ERROR_ACCESS_DENIED},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.what);
        LPVOID block = nullptr;
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(CreateEnvironmentBlock(entry.nullOut ? nullptr : &block, entry.token, FALSE));
        EXPECT_EQ(entry.error, GetLastError());
        EXPECT_EQ(nullptr, block);
    }
    EXPECT_EQ(environmentBlocksAtStart, machine().environmentBlockCount());
    CloseHandle(event);
    CloseHandle(noDuplicate);
}

TEST_F(ProcessCreationTest, ALaunchIsRecordedAndJoinsTheTokensSession) {
    const HANDLE token = userToken();
    LPVOID block = nullptr;
    ASSERT_TRUE(CreateEnvironmentBlock(&block, token, FALSE));
    const size_t processesBefore = machine().processes().size();
    SetLastError(0xdeadbeef);
    ASSERT_TRUE(launch(token, notepad, L"C:\\Windows\\", block));
    EXPECT_EQ(0xdeadbeefu, GetLastError());

    EXPECT_EQ(0u, information.dwProcessId % 4);
    const std::vector<Win32Emu::ProcessEntry> processes = machine().processes();
    ASSERT_EQ(processesBefore + 1, processes.size());
    EXPECT_EQ(information.dwProcessId, processes.back().processId);
    EXPECT_EQ("notepad.exe", processes.back().executableName);
    EXPECT_EQ(1u, processes.back().sessionId);
    EXPECT_EQ(playerSid, processes.back().userSid);
    EXPECT_FALSE(processes.back().elevated);
    EXPECT_EQ(handlesAtStart + 3, machine().openHandleCount()) << "token, process, thread";
    DWORD session = 0;
    EXPECT_TRUE(ProcessIdToSessionId(information.dwProcessId, &session));
    EXPECT_EQ(1u, session);

    const std::vector<Win32Emu::LaunchRecord> launches = machine().launches();
    ASSERT_EQ(1u, launches.size());
    const Win32Emu::LaunchRecord& record = launches.front();
    EXPECT_EQ(information.dwProcessId, record.processId);
    EXPECT_EQ(information.dwThreadId, record.threadId);
    EXPECT_NE(record.processId, record.threadId);
    EXPECT_EQ(playerSid, record.userSid);
    EXPECT_EQ(TokenElevationTypeLimited, record.elevation);
    EXPECT_EQ(machine().tokenInfo(token)->tokenId, record.tokenId);
    EXPECT_EQ("C:\\Windows\\notepad.exe", record.applicationName);
    EXPECT_EQ("notepad.exe readme.txt", record.commandLine);
    EXPECT_EQ("C:\\Windows\\", record.currentDirectory);
    EXPECT_EQ("WinSta0\\Default", record.desktop);
    EXPECT_EQ(static_cast<DWORD>(sizeof(STARTUPINFOW)), record.startupInfoSize);
    EXPECT_EQ(0x420u, record.creationFlags);
    EXPECT_FALSE(record.inheritHandles);
    EXPECT_EQ(playerSid, record.environmentUserSid);
    EXPECT_EQ(machine().tokenInfo(token)->tokenId, record.environmentTokenId);
    EXPECT_NE(std::find(record.environment.begin(), record.environment.end(), "USERNAME=Player"),
              record.environment.end());

    EXPECT_TRUE(CloseHandle(information.hThread));
    EXPECT_TRUE(CloseHandle(information.hProcess));
    EXPECT_TRUE(DestroyEnvironmentBlock(block));
    CloseHandle(token);
}

TEST_F(ProcessCreationTest, ProcessCreationFailsAsWindowsDoes) {
    const std::string gameFolder = "C:\\Program Files (x86)\\Qovex Games\\Starfall";
    Win32Emu::FileEntry held;
    held.heldOpen = true;
    machine().setFile(gameFolder + "\\StarfallSetup.exe", held);
    Win32Emu::FileEntry unreadable;
    unreadable.unreadable = true;
    machine().setFile("C:\\Windows\\secret.exe", unreadable);

    const HANDLE token = userToken();
    const HANDLE noAssign = userToken(TOKEN_DUPLICATE | TOKEN_QUERY);
    const HANDLE impersonation = userToken(launchAccess, TokenImpersonation);
    LPVOID block = nullptr;
    ASSERT_TRUE(CreateEnvironmentBlock(&block, token, FALSE));
    const struct {
        const char* what;
        HANDLE token;
        const wchar_t* application;
        const wchar_t* directory;
        DWORD flags;
        DWORD error;
    } cases[] = {
        {"missing file", token, L"C:\\Windows\\wordpad.exe", nullptr, 0x420, ERROR_FILE_NOT_FOUND},
        {"missing folder", token, L"C:\\Nowhere\\x.exe", nullptr, 0x420, ERROR_PATH_NOT_FOUND},
        {"missing drive", token, L"Q:\\x.exe", nullptr, 0x420, ERROR_PATH_NOT_FOUND},
        {"a folder", token, L"C:\\Windows", nullptr, 0x420, ERROR_ACCESS_DENIED},
        {"held open elsewhere",
         token,
         L"C:\\Program Files (x86)\\Qovex Games\\Starfall\\StarfallSetup.exe",
         nullptr,
         0x420,
         ERROR_SHARING_VIOLATION},
        {"unreadable", token, L"C:\\Windows\\secret.exe", nullptr, 0x420, ERROR_ACCESS_DENIED},
        {"missing directory", token, notepad, L"C:\\Nowhere", 0x420, ERROR_DIRECTORY},
        {"a file as directory", token, notepad, notepad, 0x420, ERROR_DIRECTORY},
        {"no TOKEN_ASSIGN_PRIMARY", noAssign, notepad, nullptr, 0x420, ERROR_ACCESS_DENIED},
        {"impersonation token", impersonation, notepad, nullptr, 0x420, ERROR_BAD_TOKEN_TYPE},
        {"wide block, ANSI flags", token, notepad, nullptr, 0x20, ERROR_INVALID_PARAMETER},
        {"not a token", block, notepad, nullptr, 0x420, ERROR_INVALID_HANDLE},
        {"no application name", token, nullptr, nullptr, 0x420, ERROR_CALL_NOT_IMPLEMENTED},
    };
    const size_t processesBefore = machine().processes().size();
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.what);
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(launch(entry.token, entry.application, entry.directory, block, entry.flags));
        EXPECT_EQ(entry.error, GetLastError());
        EXPECT_EQ(nullptr, information.hProcess);
        EXPECT_EQ(0u, information.dwProcessId);
    }
    EXPECT_EQ(processesBefore, machine().processes().size());
    EXPECT_TRUE(machine().launches().empty());
    DestroyEnvironmentBlock(block);
    for (const HANDLE handle : {token, noAssign, impersonation}) {
        CloseHandle(handle);
    }
}

TEST_F(ProcessCreationTest, CreateFileOpensForReadingAsWindowsDoes) {
    // A file the host has (under the drive map) counts as much as one the machine lists.
    Poco::File(hostRoot() + "/C/Games").createDirectories();
    Poco::FileOutputStream(hostRoot() + "/C/Games/Run.exe") << "MZ";
    Win32Emu::FileEntry held;
    held.heldOpen = true;
    machine().setFile("C:\\Windows\\explorer.exe", held);
    Win32Emu::FileEntry unreadable;
    unreadable.unreadable = true;
    machine().setFile("C:\\Games\\run.exe", unreadable);
    machine().setFile("C:\\Games\\free.exe");
    machine().setCurrentDirectory(L"C:\\Windows\\system32");

    const struct {
        const char* what;
        const wchar_t* path;
        DWORD access;
        DWORD disposition;
        DWORD error;  // 0: opens
    } cases[] = {
        {"listed file", notepad, GENERIC_READ, OPEN_EXISTING, 0},
        {"host file, any case, forward slashes", L"c:/games/FREE.exe", GENERIC_READ, 3, 0},
        {"relative to the current directory", L"..\\notepad.exe", GENERIC_READ, 3, 0},
        {"missing file", L"C:\\Windows\\nothing.exe", GENERIC_READ, 3, ERROR_FILE_NOT_FOUND},
        {"missing folder", L"C:\\Nowhere\\x.exe", GENERIC_READ, 3, ERROR_PATH_NOT_FOUND},
        {"held open elsewhere",
         L"C:\\Windows\\explorer.exe",
         GENERIC_READ,
         3,
         ERROR_SHARING_VIOLATION},
        {"held open, no data asked for", L"C:\\Windows\\explorer.exe", 0, 3, 0},
        {"host file marked unreadable",
         L"C:\\Games\\Run.exe",
         GENERIC_READ,
         3,
         ERROR_ACCESS_DENIED},
        {"a folder", L"C:\\Games", GENERIC_READ, 3, ERROR_ACCESS_DENIED},
        {"empty name", L"", GENERIC_READ, 3, ERROR_PATH_NOT_FOUND},
        {"disposition out of range", notepad, GENERIC_READ, 6, ERROR_INVALID_PARAMETER},
        {"creating", notepad, GENERIC_READ, CREATE_ALWAYS, ERROR_CALL_NOT_IMPLEMENTED},
        {"writing", notepad, GENERIC_WRITE, OPEN_EXISTING, ERROR_CALL_NOT_IMPLEMENTED},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.what);
        SetLastError(0xdeadbeef);
        const HANDLE file =
            CreateFileW(entry.path, entry.access, 0, nullptr, entry.disposition, 0, nullptr);
        if (entry.error == 0) {
            EXPECT_NE(INVALID_HANDLE_VALUE, file);
            EXPECT_EQ(0xdeadbeefu, GetLastError());
            EXPECT_TRUE(CloseHandle(file));
        } else {
            EXPECT_EQ(INVALID_HANDLE_VALUE, file);
            EXPECT_EQ(entry.error, GetLastError());
        }
    }
}

TEST_F(ProcessCreationTest, AnExclusiveOpenKeepsOthersOut) {
    const HANDLE first = CreateFileW(notepad, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, first);
    for (const DWORD share : {0u, static_cast<DWORD>(FILE_SHARE_READ)}) {
        SCOPED_TRACE(share);
        EXPECT_EQ(INVALID_HANDLE_VALUE,
                  CreateFileW(notepad, GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    }
    EXPECT_TRUE(CloseHandle(first));
    const HANDLE again = CreateFileW(notepad, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, again);
    CloseHandle(again);
}

}  // namespace
