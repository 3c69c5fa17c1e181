// Sessions and access tokens: WTSQueryUserToken, DuplicateTokenEx, GetTokenInformation,
// IsTokenRestricted.

#include "tests/support/EmulatedMachineTest.h"

#include <gtest/gtest.h>

#include <Win32Emu/Machine.h>
#include <sddl.h>
#include <string>
#include <vector>
#include <windows.h>
#include <wtsapi32.h>

namespace {

using OrvaneClient::Testing::EmulatedMachineTest;

const char* const playerSid = "S-1-5-21-2254011875-3712098642-1289462413-1001";
const DWORD explorerId = 2412;

class TokensTest : public EmulatedMachineTest {
protected:
    // The token of explorer.exe, opened with `access`.
    HANDLE explorerToken(DWORD access) {
        const HANDLE process = OpenProcess(MAXIMUM_ALLOWED, FALSE, explorerId);
        EXPECT_NE(nullptr, process);
        HANDLE token = nullptr;
        EXPECT_TRUE(OpenProcessToken(process, access, &token));
        CloseHandle(process);
        return token;
    }
};

TEST_F(TokensTest, WtsQueryUserTokenGivesTheConsoleUsersFilteredPrimaryToken) {
    ASSERT_EQ(1u, WTSGetActiveConsoleSessionId());
    HANDLE token = nullptr;
    SetLastError(0xdeadbeef);
    ASSERT_TRUE(WTSQueryUserToken(1, &token));
    EXPECT_EQ(0xdeadbeefu, GetLastError());
    const std::optional<Win32Emu::TokenInfo> info = machine().tokenInfo(token);
    ASSERT_TRUE(info);
    EXPECT_EQ(playerSid, info->userSid);
    EXPECT_EQ(1u, info->sessionId);
    EXPECT_EQ(TokenPrimary, info->type);
    EXPECT_EQ(TokenElevationTypeLimited, info->elevation);
    EXPECT_EQ(static_cast<ACCESS_MASK>(TOKEN_ALL_ACCESS), info->access);
    EXPECT_EQ("WTSQueryUserToken", info->createdBy);
    EXPECT_TRUE(CloseHandle(token));
}

TEST_F(TokensTest, WtsQueryUserTokenFailsAsWindowsDoes) {
    const struct {
        const char* what;
        DWORD session;
        bool nullOut;
        bool callerIsUser;
        DWORD error;
    } cases[] = {
        {"nobody in session 0", 0, false, false, ERROR_NO_TOKEN},
        {"no console session", 0xFFFFFFFF, false, false, ERROR_FILE_NOT_FOUND},
        {"no such session", 7, false, false, ERROR_FILE_NOT_FOUND},
        {"null out pointer", 1, true, false, ERROR_INVALID_PARAMETER},
        {"caller is not LocalSystem", 1, false, true, ERROR_PRIVILEGE_NOT_HELD},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.what);
        machine().loadDefaultProfile();
        if (entry.callerIsUser) {
            machine().setCurrentProcess(explorerId);
        }
        HANDLE token = nullptr;
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(WTSQueryUserToken(entry.session, entry.nullOut ? nullptr : &token));
        EXPECT_EQ(entry.error, GetLastError());
        EXPECT_EQ(nullptr, token);
    }
}

TEST_F(TokensTest, TokenUserPutsTheSidInsideTheCallersBuffer) {
    const HANDLE token = explorerToken(TOKEN_QUERY);
    DWORD needed = 0;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetTokenInformation(token, TokenUser, nullptr, 0, &needed));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    // The record, then a SID of five sub-authorities: 8 + 5 * 4 bytes.
    ASSERT_EQ(sizeof(TOKEN_USER) + 28, needed);

    std::vector<BYTE> shortBuffer(needed - 1, 0);
    DWORD length = 0;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetTokenInformation(token, TokenUser, shortBuffer.data(), needed - 1, &length));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_EQ(needed, length);

    std::vector<BYTE> buffer(needed, 0);
    SetLastError(0xdeadbeef);
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, buffer.data(), needed, &length));
    EXPECT_EQ(0xdeadbeefu, GetLastError());
    EXPECT_EQ(needed, length);
    const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
    EXPECT_EQ(buffer.data() + sizeof(TOKEN_USER), user->User.Sid);
    LPSTR text = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidA(user->User.Sid, &text));
    EXPECT_STREQ(playerSid, text);
    LocalFree(text);
    CloseHandle(token);
}

TEST_F(TokensTest, TokenHandlesCarryTheirAccess) {
    const HANDLE duplicateOnly = explorerToken(TOKEN_DUPLICATE);
    const HANDLE queryOnly = explorerToken(TOKEN_QUERY);
    DWORD length = 0;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetTokenInformation(duplicateOnly, TokenUser, nullptr, 0, &length));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());

    HANDLE copy = nullptr;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DuplicateTokenEx(
        queryOnly, MAXIMUM_ALLOWED, nullptr, SecurityIdentification, TokenPrimary, &copy));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());

    ASSERT_TRUE(DuplicateTokenEx(
        duplicateOnly, MAXIMUM_ALLOWED, nullptr, SecurityIdentification, TokenPrimary, &copy));
    EXPECT_FALSE(GetTokenInformation(copy, TokenUser, nullptr, 0, &length));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    for (const HANDLE handle : {duplicateOnly, queryOnly, copy}) {
        CloseHandle(handle);
    }
}

TEST_F(TokensTest, DuplicateTokenExMakesANewTokenAsAsked) {
    const HANDLE source = explorerToken(TOKEN_DUPLICATE | TOKEN_QUERY);
    const std::optional<Win32Emu::TokenInfo> sourceInfo = machine().tokenInfo(source);
    ASSERT_TRUE(sourceInfo);
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    const struct {
        DWORD access;
        SECURITY_IMPERSONATION_LEVEL level;
        TOKEN_TYPE type;
        ACCESS_MASK granted;
    } cases[] = {
        {MAXIMUM_ALLOWED, SecurityIdentification, TokenPrimary, TOKEN_ALL_ACCESS},
        {TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_QUERY,
         SecurityImpersonation,
         TokenPrimary,
         0xB},
        {0, SecurityImpersonation, TokenImpersonation, TOKEN_DUPLICATE | TOKEN_QUERY},
        {GENERIC_READ, SecurityDelegation, TokenImpersonation, TOKEN_READ},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.access);
        HANDLE copy = nullptr;
        SetLastError(0xdeadbeef);
        ASSERT_TRUE(
            DuplicateTokenEx(source, entry.access, &attributes, entry.level, entry.type, &copy));
        EXPECT_EQ(0xdeadbeefu, GetLastError());
        const std::optional<Win32Emu::TokenInfo> info = machine().tokenInfo(copy);
        ASSERT_TRUE(info);
        EXPECT_NE(sourceInfo->tokenId, info->tokenId);
        EXPECT_EQ(playerSid, info->userSid);
        EXPECT_EQ(entry.type, info->type);
        EXPECT_EQ(entry.level, info->impersonationLevel);
        EXPECT_EQ(entry.granted, info->access);
        EXPECT_EQ("DuplicateTokenEx", info->createdBy);
        CloseHandle(copy);
    }
    CloseHandle(source);
}

TEST_F(TokensTest, DuplicateTokenExRejectsWhatWindowsRejects) {
    const HANDLE source = explorerToken(TOKEN_DUPLICATE);
    HANDLE identification = nullptr;
    ASSERT_TRUE(DuplicateTokenEx(source,
                                 MAXIMUM_ALLOWED,
                                 nullptr,
                                 SecurityIdentification,
                                 TokenImpersonation,
                                 &identification));
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const struct {
        const char* what;
        HANDLE token;
        SECURITY_IMPERSONATION_LEVEL level;
        TOKEN_TYPE type;
        DWORD error;
    } cases[] = {
        {"nothing found",
         INVALID_HANDLE_VALUE,
         SecurityIdentification,
         TokenPrimary,
         ERROR_INVALID_HANDLE},
        {"null", nullptr, SecurityIdentification, TokenPrimary, ERROR_INVALID_HANDLE},
        {"an event", event, SecurityIdentification, TokenPrimary, ERROR_INVALID_HANDLE},
        {"type out of range",
         source,
         SecurityIdentification,
         static_cast<TOKEN_TYPE>(3),
         ERROR_INVALID_PARAMETER},
        {"primary from identification",
         identification,
         SecurityIdentification,
         TokenPrimary,
         ERROR_BAD_IMPERSONATION_LEVEL},
        {"above the source's level",
         identification,
         SecurityImpersonation,
         TokenImpersonation,
         ERROR_BAD_IMPERSONATION_LEVEL},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.what);
        HANDLE copy = nullptr;
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(DuplicateTokenEx(
            entry.token, MAXIMUM_ALLOWED, nullptr, entry.level, entry.type, &copy));
        EXPECT_EQ(entry.error, GetLastError());
        EXPECT_EQ(nullptr, copy);
    }
    for (const HANDLE handle : {source, identification, event}) {
        CloseHandle(handle);
    }
}

TEST_F(TokensTest, LinkedTokenIsTheOtherHalfOfASplitToken) {
    const struct {
        const char* what;
        bool administrator;
        DWORD majorVersion;
        DWORD length;
        DWORD error;
    } cases[] = {
        {"UAC administrator", true, 6, sizeof(TOKEN_LINKED_TOKEN), 0},
        {"standard user", false, 6, sizeof(TOKEN_LINKED_TOKEN), ERROR_NO_SUCH_LOGON_SESSION},
        {"Windows XP", true, 5, sizeof(TOKEN_LINKED_TOKEN), ERROR_INVALID_PARAMETER},
        {"short buffer", true, 6, sizeof(TOKEN_LINKED_TOKEN) - 1, ERROR_INSUFFICIENT_BUFFER},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.what);
        machine().loadDefaultProfile();
        Win32Emu::Account player = *machine().account(playerSid);
        player.linkedToken = entry.administrator;
        machine().setAccount(player);
        Win32Emu::VersionInfo version = machine().version();
        version.majorVersion = entry.majorVersion;
        machine().setVersion(version);

        HANDLE token = nullptr;
        ASSERT_TRUE(WTSQueryUserToken(1, &token));
        TOKEN_LINKED_TOKEN linked{};
        DWORD length = 0;
        const size_t handlesBefore = machine().openHandleCount();
        SetLastError(0xdeadbeef);
        const BOOL ok =
            GetTokenInformation(token, TokenLinkedToken, &linked, entry.length, &length);
        EXPECT_EQ(entry.error == 0, ok != FALSE);
        EXPECT_EQ(entry.error == 0 ? 0xdeadbeefu : entry.error, GetLastError());
        if (entry.error == 0 || entry.error == ERROR_INSUFFICIENT_BUFFER) {
            EXPECT_EQ(sizeof(TOKEN_LINKED_TOKEN), length);
        }
        if (ok) {
            EXPECT_EQ(handlesBefore + 1, machine().openHandleCount());
            const std::optional<Win32Emu::TokenInfo> info = machine().tokenInfo(linked.LinkedToken);
            ASSERT_TRUE(info);
            EXPECT_EQ(TokenElevationTypeFull, info->elevation);
            EXPECT_EQ(TokenPrimary, info->type);  // the caller runs as LocalSystem
            EXPECT_EQ(playerSid, info->userSid);
            EXPECT_EQ("GetTokenInformation", info->createdBy);
            EXPECT_TRUE(CloseHandle(linked.LinkedToken));
        } else {
            EXPECT_EQ(handlesBefore, machine().openHandleCount());
        }
        CloseHandle(token);
    }
}

TEST_F(TokensTest, GetTokenInformationRefusesClassesItDoesNotModel) {
    const HANDLE token = explorerToken(TOKEN_QUERY);
    BYTE buffer[64] = {};
    DWORD length = 0;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetTokenInformation(token, TokenGroups, buffer, sizeof(buffer), &length));
    EXPECT_EQ(static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED), GetLastError());
    CloseHandle(token);
}

TEST_F(TokensTest, IsTokenRestrictedTellsRestrictedTokensAndFailsAsWindowsDoes) {
    Win32Emu::ProcessEntry sandboxed;
    sandboxed.processId = 3000;
    sandboxed.executableName = "sandboxed.exe";
    sandboxed.sessionId = 1;
    sandboxed.userSid = playerSid;
    sandboxed.restricted = true;
    machine().setProcess(sandboxed);
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, 3000);
    HANDLE restricted = nullptr;
    ASSERT_TRUE(OpenProcessToken(process, TOKEN_QUERY | TOKEN_DUPLICATE, &restricted));
    CloseHandle(process);
    HANDLE duplicate = nullptr;
    ASSERT_TRUE(DuplicateTokenEx(
        restricted, TOKEN_QUERY, nullptr, SecurityIdentification, TokenPrimary, &duplicate));
    const HANDLE plain = explorerToken(TOKEN_QUERY);
    const HANDLE noQuery = explorerToken(TOKEN_DUPLICATE);
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);

    const struct {
        const char* what;
        HANDLE token;
        BOOL result;
        DWORD error;  // the sentinel when untouched
    } cases[] = {
        {"restricted", restricted, TRUE, 0xdeadbeef},
        {"its duplicate", duplicate, TRUE, 0xdeadbeef},
        {"not restricted", plain, FALSE, 0xdeadbeef},
        {"without TOKEN_QUERY", noQuery, FALSE, ERROR_ACCESS_DENIED},
        {"not a token", event, FALSE, ERROR_INVALID_HANDLE},
        {"null", nullptr, FALSE, ERROR_INVALID_HANDLE},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.what);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(entry.result, IsTokenRestricted(entry.token));
        EXPECT_EQ(entry.error, GetLastError());
    }
    for (const HANDLE handle : {restricted, duplicate, plain, noQuery, event}) {
        CloseHandle(handle);
    }
}

}  // namespace
