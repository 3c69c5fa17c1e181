// Processes: the snapshot, OpenProcess, OpenProcessToken, ProcessIdToSessionId, their exit.

#include "tests/support/EmulatedMachineTest.h"

#include <Poco/Exception.h>
#include <gtest/gtest.h>

#include <Win32Emu/Machine.h>
#include <cstdint>
#include <string>
#include <thread>
#include <tlhelp32.h>
#include <vector>
#include <windows.h>

namespace {

using OrvaneClient::Testing::EmulatedMachineTest;
using Win32Emu::ProcessEntry;

const char* const playerSid = "S-1-5-21-2254011875-3712098642-1289462413-1001";

class ProcessesTest : public EmulatedMachineTest {
protected:
    // Every entry of a snapshot as "name:pid", and the last error after the walk.
    std::vector<std::string> walk(HANDLE snapshot, DWORD& errorAtEnd) {
        std::vector<std::string> entries;
        PROCESSENTRY32 entry{};
        entry.dwSize = sizeof(entry);
        for (BOOL more = Process32First(snapshot, &entry); more;
             more = Process32Next(snapshot, &entry)) {
            entries.push_back(std::string(entry.szExeFile) + ":" +
                              std::to_string(entry.th32ProcessID));
            EXPECT_EQ(sizeof(entry), entry.dwSize);
        }
        errorAtEnd = GetLastError();
        return entries;
    }

    static ProcessEntry process(DWORD id, const char* name, DWORD session, const char* user) {
        ProcessEntry entry;
        entry.processId = id;
        entry.executableName = name;
        entry.sessionId = session;
        entry.userSid = user;
        return entry;
    }
};

TEST_F(ProcessesTest, SnapshotListsProcessesInCreationOrderAsTheyWereWhenTaken) {
    machine().setProcess(process(100, "EXPLORER.EXE", 1, playerSid));
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, snapshot);
    machine().setProcess(process(200, "late.exe", 1, playerSid));
    machine().removeProcess(2412);

    DWORD error = 0;
    const std::vector<std::string> expected{"System:4",
                                            "wininit.exe:484",
                                            "services.exe:556",
                                            "winlogon.exe:612",
                                            "explorer.exe:2412",
                                            "OrvaneService.exe:3104",
                                            "OrvaneClient.exe:5120",
                                            "EXPLORER.EXE:100"};
    EXPECT_EQ(expected, walk(snapshot, error));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_FILES), error);
    // Walking again starts over.
    EXPECT_EQ(expected, walk(snapshot, error));
    EXPECT_TRUE(CloseHandle(snapshot));
}

TEST_F(ProcessesTest, AnEmptyMachineSnapshotsNothingAndModulesAreNotEmulated) {
    machine().reset();
    const HANDLE empty = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    DWORD error = 0;
    EXPECT_TRUE(walk(empty, error).empty());
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_FILES), error);
    CloseHandle(empty);

    SetLastError(0xdeadbeef);
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED), GetLastError());
}

// The process calls on one process each, with the marks that make them fail.
TEST_F(ProcessesTest, ProcessCallsFailWhereTheProcessIsMarked) {
    ProcessEntry marked = process(3000, "explorer.exe", 1, playerSid);
    marked.openProcessError = ERROR_ACCESS_DENIED;
    machine().setProcess(marked);
    marked = process(3001, "explorer.exe", 1, playerSid);
    marked.openProcessTokenError = ERROR_ACCESS_DENIED;
    machine().setProcess(marked);
    marked = process(3002, "explorer.exe", 1, playerSid);
    marked.sessionIdError = ERROR_INVALID_PARAMETER;
    machine().setProcess(marked);

    const struct {
        DWORD processId;
        DWORD openProcessError;
        DWORD openTokenError;
        DWORD sessionError;
        DWORD session;
    } cases[] = {
        {2412, 0, 0, 0, 1},
        {4, 0, 0, 0, 0},
        {3000, ERROR_ACCESS_DENIED, 0, 0, 1},
        {3001, 0, ERROR_ACCESS_DENIED, 0, 1},
        {3002, 0, 0, ERROR_INVALID_PARAMETER, 1},
        {9999, ERROR_INVALID_PARAMETER, 0, ERROR_INVALID_PARAMETER, 0},
        {0, ERROR_INVALID_PARAMETER, 0, ERROR_INVALID_PARAMETER, 0},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.processId);
        DWORD session = 0xdeadbeef;
        SetLastError(0xdeadbeef);
        EXPECT_EQ(entry.sessionError == 0,
                  ProcessIdToSessionId(entry.processId, &session) != FALSE);
        EXPECT_EQ(entry.sessionError == 0 ? 0xdeadbeefu : entry.sessionError, GetLastError());
        EXPECT_EQ(entry.sessionError == 0 ? entry.session : 0xdeadbeefu, session);

        SetLastError(0xdeadbeef);
        const HANDLE process = OpenProcess(MAXIMUM_ALLOWED, FALSE, entry.processId);
        EXPECT_EQ(entry.openProcessError == 0, process != nullptr);
        EXPECT_EQ(entry.openProcessError == 0 ? 0xdeadbeefu : entry.openProcessError,
                  GetLastError());
        if (process == nullptr) {
            continue;
        }
        HANDLE token = nullptr;
        SetLastError(0xdeadbeef);
        EXPECT_EQ(entry.openTokenError == 0,
                  OpenProcessToken(process, TOKEN_DUPLICATE, &token) != FALSE);
        EXPECT_EQ(entry.openTokenError == 0 ? 0xdeadbeefu : entry.openTokenError, GetLastError());
        if (token != nullptr) {
            const std::optional<Win32Emu::TokenInfo> info = machine().tokenInfo(token);
            ASSERT_TRUE(info);
            EXPECT_EQ(entry.session, info->sessionId);
            EXPECT_EQ(static_cast<ACCESS_MASK>(TOKEN_DUPLICATE), info->access);
            EXPECT_EQ("OpenProcessToken", info->createdBy);
            CloseHandle(token);
        }
        CloseHandle(process);
    }
}

TEST_F(ProcessesTest, OpenProcessTokenNeedsAQueryRightOnTheProcess) {
    const struct {
        DWORD processAccess;
        DWORD error;
    } cases[] = {
        {PROCESS_QUERY_LIMITED_INFORMATION, 0},
        {PROCESS_QUERY_INFORMATION, 0},
        {PROCESS_VM_READ | SYNCHRONIZE, ERROR_ACCESS_DENIED},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.processAccess);
        const HANDLE process = OpenProcess(entry.processAccess, FALSE, 2412);
        ASSERT_NE(nullptr, process);
        HANDLE token = nullptr;
        SetLastError(0xdeadbeef);
        EXPECT_EQ(entry.error == 0, OpenProcessToken(process, TOKEN_QUERY, &token) != FALSE);
        EXPECT_EQ(entry.error == 0 ? 0xdeadbeefu : entry.error, GetLastError());
        if (token != nullptr) {
            CloseHandle(token);
        }
        CloseHandle(process);
    }
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE token = nullptr;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(OpenProcessToken(event, TOKEN_QUERY, &token));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    CloseHandle(event);
}

TEST_F(ProcessesTest, TokensCarryTheElevationOfTheirProcess) {
    ProcessEntry elevated = process(3000, "game.exe", 1, playerSid);
    elevated.elevated = true;
    machine().setProcess(elevated);
    const struct {
        HANDLE process;
        DWORD processId;
        const char* user;
        DWORD session;
        TOKEN_ELEVATION_TYPE elevation;
    } cases[] = {
        {nullptr, 2412, playerSid, 1, TokenElevationTypeLimited},
        {nullptr, 3000, playerSid, 1, TokenElevationTypeFull},
        {nullptr, 612, "S-1-5-18", 1, TokenElevationTypeDefault},
        {GetCurrentProcess(), 0, "S-1-5-18", 0, TokenElevationTypeDefault},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.processId);
        const HANDLE process = entry.process != nullptr
                                   ? entry.process
                                   : OpenProcess(MAXIMUM_ALLOWED, FALSE, entry.processId);
        HANDLE token = nullptr;
        ASSERT_TRUE(OpenProcessToken(process, MAXIMUM_ALLOWED, &token));
        const std::optional<Win32Emu::TokenInfo> info = machine().tokenInfo(token);
        ASSERT_TRUE(info);
        EXPECT_EQ(entry.user, info->userSid);
        EXPECT_EQ(entry.session, info->sessionId);
        EXPECT_EQ(entry.elevation, info->elevation);
        EXPECT_EQ(static_cast<ACCESS_MASK>(TOKEN_ALL_ACCESS), info->access);
        CloseHandle(token);
        CloseHandle(process);
    }
}

// A process that exits leaves the list, but not the handles to it: they report the exit, and its
// id passes to no other process while one of them is open.
TEST_F(ProcessesTest, AnExitedProcessIsSignalledAndKeepsItsIdWhileHeld) {
    machine().setProcess(process(3000, "game.exe", 1, playerSid));
    const HANDLE held = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, 3000);
    const HANDLE queryOnly = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, 3000);
    ASSERT_NE(nullptr, held);
    ASSERT_NE(nullptr, queryOnly);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(held, 0));
    EXPECT_EQ(0xdeadbeefu, GetLastError());
    EXPECT_EQ(static_cast<DWORD>(WAIT_FAILED), WaitForSingleObject(queryOnly, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());

    DWORD waited = 0;
    std::thread waiter([&] { waited = WaitForSingleObject(held, INFINITE); });
    machine().removeProcess(3000);
    waiter.join();
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), waited);
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(held, 0));
    HANDLE token = nullptr;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(OpenProcessToken(held, TOKEN_QUERY, &token));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());

    // While held, the id still opens the exited process and no other takes it.
    const HANDLE again = OpenProcess(SYNCHRONIZE, FALSE, 3000);
    ASSERT_NE(nullptr, again);
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(again, 0));
    CloseHandle(again);
    CloseHandle(queryOnly);
    EXPECT_THROW(machine().setProcess(process(3000, "other.exe", 1, playerSid)),
                 Poco::InvalidArgumentException);
    CloseHandle(held);

    SetLastError(0xdeadbeef);
    EXPECT_EQ(nullptr, OpenProcess(SYNCHRONIZE, FALSE, 3000));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    machine().setProcess(process(3000, "other.exe", 1, playerSid));
    const HANDLE reused = OpenProcess(SYNCHRONIZE, FALSE, 3000);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(reused, 0));
    CloseHandle(reused);
}

std::uint64_t value(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

TEST_F(ProcessesTest, ProcessTimesTellWhenItStartedAndExited) {
    FILETIME before = {};
    GetSystemTimeAsFileTime(&before);
    machine().setProcess(process(3000, "game.exe", 1, playerSid));
    FILETIME after = {};
    GetSystemTimeAsFileTime(&after);
    const HANDLE held = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, 3000);
    FILETIME times[4] = {};
    SetLastError(0xdeadbeef);
    ASSERT_TRUE(GetProcessTimes(held, &times[0], &times[1], &times[2], &times[3]));
    EXPECT_EQ(0xdeadbeefu, GetLastError());
    EXPECT_LE(value(before), value(times[0]));
    EXPECT_LE(value(times[0]), value(after));
    EXPECT_EQ(0u, value(times[1]));
    machine().removeProcess(3000);
    ASSERT_TRUE(GetProcessTimes(held, &times[0], &times[1], &times[2], &times[3]));
    EXPECT_LE(value(after), value(times[1]));

    const HANDLE noQuery = OpenProcess(SYNCHRONIZE, FALSE, 3000);
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const struct {
        const char* what;
        HANDLE handle;
        DWORD error;
    } cases[] = {
        {"without a query right", noQuery, ERROR_ACCESS_DENIED},
        {"not a process", event, ERROR_INVALID_HANDLE},
        {"the emulated process itself", GetCurrentProcess(), ERROR_CALL_NOT_IMPLEMENTED},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.what);
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(GetProcessTimes(entry.handle, &times[0], &times[1], &times[2], &times[3]));
        EXPECT_EQ(entry.error, GetLastError());
    }
    for (const HANDLE handle : {held, noQuery, event}) {
        CloseHandle(handle);
    }
}

}  // namespace
