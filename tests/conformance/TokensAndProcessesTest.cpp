// The arguments GetTokenInformation, the process snapshot and the TCP table refuse, and the
// size the table reports before anything is read.

#include "ConformanceFixture.h"
#include "WineDifferences.h"
#include "core/windows/Win32Api.h"

#include <gtest/gtest.h>

namespace {

using OrvaneClient::Testing::ConformanceTest;
using OrvaneClient::Testing::WindowsAnswer;

class TokensAndProcessesTest : public ConformanceTest {};

TEST_F(TokensAndProcessesTest, GetTokenInformationRejectsBadArguments) {
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    BYTE buffer[64] = {};
    DWORD length = 0;
    const struct {
        const char* what;
        HANDLE handle;
        int informationClass;
        PDWORD returnLength;
        DWORD error;
        // What Wine answers instead; ERROR_SUCCESS where Wine's call succeeds.
        DWORD wineError;
    } cases[] = {
        {"not a token",
         GetCurrentProcess(),
         TokenUser,
         &length,
         ERROR_INVALID_HANDLE,
         ERROR_INVALID_HANDLE},
        // STATUS_INVALID_INFO_CLASS; Wine's NtQueryInformationToken has no such check.
        {"class 0", token, 0, &length, ERROR_INVALID_PARAMETER, ERROR_INVALID_FUNCTION},
        {"class past the last",
         token,
         MaxTokenInfoClass,
         &length,
         ERROR_INVALID_PARAMETER,
         ERROR_INVALID_FUNCTION},
        // The return length is not optional: Windows probes it; Wine skips a null one.
        {"no return length", token, TokenUser, nullptr, ERROR_NOACCESS, ERROR_SUCCESS},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.what);
        SetLastError(0xdeadbeef);
        const BOOL done =
            GetTokenInformation(entry.handle,
                                static_cast<TOKEN_INFORMATION_CLASS>(entry.informationClass),
                                buffer,
                                sizeof(buffer),
                                entry.returnLength);
        const DWORD error = done ? ERROR_SUCCESS : GetLastError();
        EXPECT_TRUE(WindowsAnswer(error, entry.error, entry.wineError, entry.what));
    }
    EXPECT_TRUE(CloseHandle(token));
}

TEST_F(TokensAndProcessesTest, SnapshotWalkChecksItsArguments) {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, snapshot);
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const struct {
        const char* what;
        HANDLE handle;
        DWORD size;
        DWORD error;
    } cases[] = {
        {"size not set", snapshot, 0, ERROR_BAD_LENGTH},
        {"size of an older record", snapshot, sizeof(PROCESSENTRY32) - 4, ERROR_BAD_LENGTH},
        {"not a snapshot", event, sizeof(PROCESSENTRY32), ERROR_INVALID_HANDLE},
        {"nothing found", INVALID_HANDLE_VALUE, sizeof(PROCESSENTRY32), ERROR_INVALID_HANDLE},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.what);
        PROCESSENTRY32 record{};
        record.dwSize = entry.size;
        // Wine answers a wrong record size with ERROR_INSUFFICIENT_BUFFER.
        const DWORD wineError =
            entry.error == ERROR_BAD_LENGTH ? ERROR_INSUFFICIENT_BUFFER : entry.error;
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(Process32First(entry.handle, &record));
        EXPECT_TRUE(WindowsAnswer(GetLastError(), entry.error, wineError, entry.what));
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(Process32Next(entry.handle, &record));
        EXPECT_TRUE(WindowsAnswer(GetLastError(), entry.error, wineError, entry.what));
    }
    EXPECT_TRUE(CloseHandle(snapshot));
    EXPECT_TRUE(CloseHandle(event));
}

TEST_F(TokensAndProcessesTest, TcpTableSizeAndInvalidArguments) {
    DWORD size = 0;
    ASSERT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER),
              GetExtendedTcpTable(nullptr, &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0));
    EXPECT_GE(size, static_cast<DWORD>(sizeof(DWORD)));
    EXPECT_EQ(0u, (size - sizeof(DWORD)) % sizeof(MIB_TCPROW_OWNER_PID));
    // A buffer too small for even the count gets the size needed, and nothing written.
    DWORD count = 0xdead;
    DWORD smallSize = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER),
              GetExtendedTcpTable(&count, &smallSize, FALSE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0));
    EXPECT_GE(smallSize, static_cast<DWORD>(sizeof(DWORD)));
    EXPECT_EQ(0xdeadu, count);

    DWORD any = 0;
    const struct {
        PDWORD size;
        ULONG family;
        TCP_TABLE_CLASS tableClass;
        DWORD expected;
    } cases[] = {
        {nullptr, AF_INET, TCP_TABLE_OWNER_PID_CONNECTIONS, ERROR_INVALID_PARAMETER},
        {&any, 99, TCP_TABLE_OWNER_PID_CONNECTIONS, ERROR_INVALID_PARAMETER},
        {&any, AF_INET, static_cast<TCP_TABLE_CLASS>(9), ERROR_INVALID_PARAMETER},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.expected);
        EXPECT_EQ(
            entry.expected,
            GetExtendedTcpTable(nullptr, entry.size, FALSE, entry.family, entry.tableClass, 0));
    }
}

}  // namespace
