// The redirection trust mitigation: while the process enforces it, no path is resolved through a
// junction that a standard user made. Emulated only: neither Wine nor a test on Windows can plant
// a junction as another, non-administrator user, and the policy cannot be taken back.

#include "ConformanceFixture.h"
#include "core/windows/Win32Api.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using OrvaneClient::Testing::ConformanceTest;

class RedirectionTrustEmulatedTest : public ConformanceTest {
protected:
    void SetUp() override {
        ConformanceTest::SetUp();
        machine().setFile("C:\\Target\\file.txt");
        machine().setReparsePoint("C:\\Planted", "C:\\Target", true, false);
        machine().setReparsePoint("C:\\Trusted", "C:\\Target", true, true);
    }

    static BOOL setPolicy(bool enforce, bool audit) {
        PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy = {};
        policy.EnforceRedirectionTrust = enforce ? 1 : 0;
        policy.AuditRedirectionTrust = audit ? 1 : 0;
        return SetProcessMitigationPolicy(ProcessRedirectionTrustPolicy, &policy, sizeof(policy));
    }

    // 0 when the path opens, else the last error of CreateFileW.
    static DWORD openError(const wchar_t* path, DWORD flags) {
        SetLastError(0xdeadbeef);
        const HANDLE file = CreateFileW(path,
                                        FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ,
                                        nullptr,
                                        OPEN_EXISTING,
                                        flags | FILE_FLAG_BACKUP_SEMANTICS,
                                        nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return GetLastError();
        }
        CloseHandle(file);
        return 0;
    }
};

TEST_F(RedirectionTrustEmulatedTest, AuditingFollowsAStandardUsersJunction) {
    EXPECT_EQ(0u, openError(L"C:\\Planted\\file.txt", 0));
    SetLastError(0xdeadbeef);
    ASSERT_TRUE(setPolicy(false, true));
    EXPECT_EQ(0xdeadbeefu, GetLastError());
    EXPECT_EQ(0u, openError(L"C:\\Planted\\file.txt", 0));
}

TEST_F(RedirectionTrustEmulatedTest, EnforcingRefusesOnlyAStandardUsersJunction) {
    ASSERT_TRUE(setPolicy(true, false));
    const DWORD untrusted = ERROR_UNTRUSTED_MOUNT_POINT;
    const struct {
        const wchar_t* path;
        DWORD flags;
        DWORD error;
    } opens[] = {
        {L"C:\\Trusted\\file.txt", 0, 0},
        {L"C:\\Planted\\file.txt", 0, untrusted},
        {L"C:\\Planted\\missing.txt", 0, untrusted},
        {L"C:\\Planted", 0, untrusted},
        // The junction itself is not crossed.
        {L"C:\\Planted", FILE_FLAG_OPEN_REPARSE_POINT, 0},
    };
    for (const auto& entry : opens) {
        SCOPED_TRACE(testing::Message() << entry.path << " " << entry.flags);
        EXPECT_EQ(entry.error, openError(entry.path, entry.flags));
    }
    SetLastError(0xdeadbeef);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(L"C:\\Planted\\file.txt"));
    EXPECT_EQ(untrusted, GetLastError());
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CreateDirectoryW(L"C:\\Planted\\new", nullptr));
    EXPECT_EQ(untrusted, GetLastError());
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL list = nullptr;
    EXPECT_EQ(untrusted,
              GetNamedSecurityInfoW(L"C:\\Planted\\file.txt",
                                    SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION,
                                    nullptr,
                                    nullptr,
                                    &list,
                                    nullptr,
                                    &descriptor));
}

}  // namespace
