// Opening relative to a folder's handle with NtCreateFile, and writing one object's list with
// SetKernelObjectSecurity: the native calls return their status and leave the last error alone,
// and a list written on a handle reaches nothing below the object.

#include "ConformanceFixture.h"
#include "core/windows/Win32Api.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using OrvaneClient::Testing::ConformanceTest;

const WCHAR Outer[] = L"C:\\OrvaneConformance";
const WCHAR Inner[] = L"C:\\OrvaneConformance\\inner";
// S-1-1-0 (Everyone) in its binary layout.
BYTE Everyone[] = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};

class NativeFilesTest : public ConformanceTest {
protected:
    void SetUp() override {
        ConformanceTest::SetUp();
        for (const WCHAR* folder : {Outer, Inner}) {
            if (!CreateDirectoryW(folder, nullptr)) {
                ASSERT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
            }
        }
        outer = CreateFileW(Outer,
                            FILE_LIST_DIRECTORY | READ_CONTROL | WRITE_DAC | SYNCHRONIZE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr,
                            OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS,
                            nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, outer);
    }
    void TearDown() override {
        if (outer != INVALID_HANDLE_VALUE) {
            CloseHandle(outer);
        }
        ConformanceTest::TearDown();
    }

    // NtCreateFile of `name` relative to the outer folder, as the grant opens a child.
    NTSTATUS openRelative(const std::wstring& name, ULONG options, HANDLE* handle) {
        std::vector<WCHAR> buffer(name.begin(), name.end());
        UNICODE_STRING text = {};
        text.Buffer = buffer.data();
        text.Length = static_cast<USHORT>(buffer.size() * sizeof(WCHAR));
        text.MaximumLength = text.Length;
        OBJECT_ATTRIBUTES attributes = {};
        attributes.Length = sizeof(attributes);
        attributes.RootDirectory = outer;
        attributes.ObjectName = &text;
        attributes.Attributes = OBJ_CASE_INSENSITIVE;
        IO_STATUS_BLOCK io = {};
        io.Information = 0xdead;
        const NTSTATUS status = NtCreateFile(handle,
                                             READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                             &attributes,
                                             &io,
                                             nullptr,
                                             0,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE,
                                             FILE_OPEN,
                                             options | FILE_SYNCHRONOUS_IO_NONALERT,
                                             nullptr,
                                             0);
        if (NT_SUCCESS(status)) {
            EXPECT_EQ(static_cast<ULONG_PTR>(FILE_OPENED), io.Information);
        }
        return status;
    }

    HANDLE outer = INVALID_HANDLE_VALUE;
};

TEST_F(NativeFilesTest, RelativeOpensGiveWindowsStatuses) {
    struct Row {
        const wchar_t* name;
        ULONG options;
        DWORD error;  // RtlNtStatusToDosError of the status
    };
    const Row rows[] = {
        {L"inner", FILE_OPEN_REPARSE_POINT, ERROR_SUCCESS},
        {L"inner", FILE_DIRECTORY_FILE, ERROR_SUCCESS},
        {L"missing", 0, ERROR_FILE_NOT_FOUND},
        {L"missing\\below", 0, ERROR_PATH_NOT_FOUND},
        {L"inner", FILE_NON_DIRECTORY_FILE, ERROR_ACCESS_DENIED},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(&row - rows));
        HANDLE handle = nullptr;
        SetLastError(0xdeadbeef);
        const NTSTATUS status = openRelative(row.name, row.options, &handle);
        EXPECT_EQ(0xdeadbeefu, GetLastError());
        EXPECT_EQ(row.error, RtlNtStatusToDosError(status));
        EXPECT_EQ(row.error == ERROR_SUCCESS, NT_SUCCESS(status));
        if (NT_SUCCESS(status)) {
            EXPECT_TRUE(CloseHandle(handle));
        }
    }
}

// The inner folder's list, in its bytes.
std::vector<BYTE> InnerList() {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR read = nullptr;
    if (GetNamedSecurityInfoW(Inner,
                              SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION,
                              nullptr,
                              nullptr,
                              &dacl,
                              nullptr,
                              &read) != ERROR_SUCCESS) {
        return {};
    }
    const auto* bytes = reinterpret_cast<const BYTE*>(dacl);
    std::vector<BYTE> list(bytes, bytes + dacl->AclSize);
    LocalFree(read);
    return list;
}

TEST_F(NativeFilesTest, AListWrittenOnAHandleReachesNothingBelow) {
    const std::vector<BYTE> innerBefore = InnerList();
    ASSERT_FALSE(innerBefore.empty());
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR read = nullptr;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              GetSecurityInfo(outer,
                              SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION,
                              nullptr,
                              nullptr,
                              &dacl,
                              nullptr,
                              &read));
    EXPLICIT_ACCESS_A access = {};
    access.grfAccessPermissions = FILE_GENERIC_READ;
    access.grfAccessMode = GRANT_ACCESS;
    access.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    access.Trustee.ptstrName = reinterpret_cast<LPSTR>(Everyone);
    PACL newAcl = nullptr;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), SetEntriesInAclA(1, &access, dacl, &newAcl));
    SECURITY_DESCRIPTOR_RELATIVE header = {};
    header.Revision = SECURITY_DESCRIPTOR_REVISION;
    header.Control = SE_SELF_RELATIVE | SE_DACL_PRESENT | SE_DACL_AUTO_INHERITED;
    header.Dacl = sizeof(header);
    std::vector<BYTE> descriptor(sizeof(header) + newAcl->AclSize);
    std::memcpy(descriptor.data(), &header, sizeof(header));
    std::memcpy(descriptor.data() + sizeof(header), newAcl, newAcl->AclSize);

    SetLastError(0xdeadbeef);
    EXPECT_TRUE(SetKernelObjectSecurity(outer, DACL_SECURITY_INFORMATION, descriptor.data()));
    EXPECT_EQ(0xdeadbeefu, GetLastError());

    EXPECT_EQ(innerBefore, InnerList());

    // The folder's list as it was.
    std::vector<BYTE> restore(sizeof(header) + dacl->AclSize);
    std::memcpy(restore.data(), &header, sizeof(header));
    std::memcpy(restore.data() + sizeof(header), dacl, dacl->AclSize);
    EXPECT_TRUE(SetKernelObjectSecurity(outer, DACL_SECURITY_INFORMATION, restore.data()));
    LocalFree(newAcl);
    LocalFree(read);
}

TEST_F(NativeFilesTest, SetKernelObjectSecurityNeedsWriteDacOnTheHandle) {
    HANDLE inner = nullptr;
    ASSERT_TRUE(NT_SUCCESS(openRelative(L"inner", 0, &inner)));
    SECURITY_DESCRIPTOR_RELATIVE header = {};
    header.Revision = SECURITY_DESCRIPTOR_REVISION;
    header.Control = SE_SELF_RELATIVE | SE_DACL_PRESENT;
    header.Dacl = sizeof(header);
    ACL empty = {};
    empty.AclRevision = ACL_REVISION;
    empty.AclSize = sizeof(ACL);
    std::vector<BYTE> descriptor(sizeof(header) + sizeof(ACL));
    std::memcpy(descriptor.data(), &header, sizeof(header));
    std::memcpy(descriptor.data() + sizeof(header), &empty, sizeof(empty));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(SetKernelObjectSecurity(inner, DACL_SECURITY_INFORMATION, descriptor.data()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_TRUE(CloseHandle(inner));
}

}  // namespace
