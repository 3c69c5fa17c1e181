// Opening relative to a folder's handle with NtCreateFile, listing a folder through its handle,
// a file's names (NtQueryInformationFile) and opening their folders by id (OpenFileById), and
// writing one object's list with SetKernelObjectSecurity: the native calls return their status
// and leave the last error alone, and a list written on a handle reaches nothing below the
// object.

#include "ConformanceFixture.h"
#include "ListBytes.h"
#include "WineDifferences.h"
#include "core/windows/Win32Api.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using OrvaneClient::Testing::ConformanceTest;
using OrvaneClient::Testing::ListBytes;
using OrvaneClient::Testing::MakeFile;
using OrvaneClient::Testing::MakeHardLink;
using OrvaneClient::Testing::RunningUnderWine;
using OrvaneClient::Testing::WindowsAnswer;

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
    NTSTATUS openRelative(const std::wstring& name,
                          ULONG options,
                          HANDLE* handle,
                          ACCESS_MASK access = READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE) {
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
                                             access,
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

TEST_F(NativeFilesTest, AFolderIsListedThroughItsHandleOnceThenNoMoreFiles) {
    ASSERT_TRUE(MakeFile(std::wstring(Outer) + L"\\one.dat"));
    std::vector<ULONGLONG> buffer(512);
    const DWORD size = static_cast<DWORD>(buffer.size() * sizeof(ULONGLONG));
    std::map<std::wstring, int> seen;
    std::set<std::wstring> folders;
    std::wstring first;
    FILE_INFO_BY_HANDLE_CLASS asked = FileFullDirectoryRestartInfo;
    SetLastError(0xdeadbeef);
    while (GetFileInformationByHandleEx(outer, asked, buffer.data(), size)) {
        EXPECT_EQ(0xdeadbeefu, GetLastError());
        asked = FileFullDirectoryInfo;
        const auto* at = reinterpret_cast<const BYTE*>(buffer.data());
        for (;;) {
            const auto* info = reinterpret_cast<const FILE_FULL_DIR_INFO*>(at);
            const std::wstring name(info->FileName, info->FileNameLength / sizeof(WCHAR));
            first = first.empty() ? name : first;
            ++seen[name];
            if ((info->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                folders.insert(name);
            }
            if (info->NextEntryOffset == 0) {
                break;
            }
            EXPECT_EQ(0u, info->NextEntryOffset % 8);
            at += info->NextEntryOffset;
        }
    }
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_FILES), GetLastError());
    EXPECT_EQ(L".", first);
    for (const wchar_t* name : {L".", L"..", L"inner", L"one.dat"}) {
        EXPECT_EQ(1, seen[name]) << "times listed";
    }
    EXPECT_EQ((std::set<std::wstring>{L".", L"..", L"inner"}), folders);

    // At the end it stays there; restarted, it begins again.
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetFileInformationByHandleEx(outer, FileFullDirectoryInfo, buffer.data(), size));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_FILES), GetLastError());
    ASSERT_TRUE(
        GetFileInformationByHandleEx(outer, FileFullDirectoryRestartInfo, buffer.data(), size));
    const auto* info = reinterpret_cast<const FILE_FULL_DIR_INFO*>(buffer.data());
    EXPECT_EQ(L".", std::wstring(info->FileName, info->FileNameLength / sizeof(WCHAR)));
}

TEST_F(NativeFilesTest, AListingIsRefusedWithWindowsErrors) {
    ASSERT_TRUE(MakeFile(std::wstring(Outer) + L"\\one.dat"));
    HANDLE attributesOnly = nullptr;
    ASSERT_TRUE(NT_SUCCESS(openRelative(L"inner", 0, &attributesOnly)));
    HANDLE file = nullptr;
    ASSERT_TRUE(NT_SUCCESS(openRelative(
        L"one.dat", 0, &file, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE)));
    struct Row {
        const char* what;
        HANDLE handle;
        DWORD size;
        DWORD error;
    };
    const Row rows[] = {
        {"a buffer short of one entry", outer, 16, ERROR_BAD_LENGTH},
        {"a handle without FILE_LIST_DIRECTORY", attributesOnly, 4096, ERROR_ACCESS_DENIED},
        {"a file's handle", file, 4096, ERROR_INVALID_PARAMETER},
        {"no handle", reinterpret_cast<HANDLE>(0x4321), 4096, ERROR_INVALID_HANDLE},
    };
    std::vector<ULONGLONG> buffer(512);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(GetFileInformationByHandleEx(
            row.handle, FileFullDirectoryRestartInfo, buffer.data(), row.size));
        EXPECT_EQ(row.error, GetLastError());
    }
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_TRUE(CloseHandle(attributesOnly));
}

// FILE_LINKS_INFORMATION and its entries (ntifs.h).
struct LinkEntry {
    ULONG NextEntryOffset;
    LONGLONG ParentFileId;
    ULONG FileNameLength;  // characters
    WCHAR FileName[1];
};
struct Links {
    ULONG BytesNeeded;
    ULONG EntriesReturned;
    LinkEntry Entry;
};
constexpr NTSTATUS BufferOverflow = static_cast<NTSTATUS>(0x80000005);
constexpr NTSTATUS NotImplemented = static_cast<NTSTATUS>(0xC0000002);
constexpr NTSTATUS InfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);
constexpr NTSTATUS InvalidHandle = static_cast<NTSTATUS>(0xC0000008);

// The folder that the id names on the volume of `hint`, as its final path; empty if none.
std::wstring FolderOfId(HANDLE hint, LONGLONG id) {
    FILE_ID_DESCRIPTOR descriptor = {};
    descriptor.dwSize = sizeof(descriptor);
    descriptor.Type = FileIdType;
    descriptor.FileId.QuadPart = id;
    const HANDLE folder = OpenFileById(hint,
                                       &descriptor,
                                       FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr,
                                       FILE_FLAG_BACKUP_SEMANTICS);
    if (folder == INVALID_HANDLE_VALUE) {
        return std::wstring();
    }
    WCHAR path[MAX_PATH] = {};
    const DWORD length =
        GetFinalPathNameByHandleW(folder, path, MAX_PATH, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(folder);
    return length > 0 && length < MAX_PATH ? std::wstring(path, length) : std::wstring();
}

TEST_F(NativeFilesTest, AHardLinkedFileTellsEveryNameAndItsFolder) {
    const std::wstring one = std::wstring(Outer) + L"\\one.dat";
    ASSERT_TRUE(MakeFile(one));
    ASSERT_TRUE(MakeHardLink(std::wstring(Inner) + L"\\two.dat", one));
    HANDLE file = nullptr;
    ASSERT_TRUE(NT_SUCCESS(openRelative(L"one.dat", FILE_NON_DIRECTORY_FILE, &file)));
    std::vector<ULONGLONG> buffer(64);
    auto* links = reinterpret_cast<Links*>(buffer.data());

    // Each entry: its fixed part and 7 characters, the next on an 8-byte boundary.
    const ULONG entry = static_cast<ULONG>(offsetof(LinkEntry, FileName) + 7 * sizeof(WCHAR));
    const ULONG aligned = (entry + 7) & ~7u;
    const ULONG fixed = offsetof(Links, Entry);
    // Short of the fixed part; room for one name of two; room for both.
    struct Row {
        ULONG size;
        NTSTATUS status;
        ULONG entries;
    };
    bool told = false;
    const Row rows[] = {
        {16, InfoLengthMismatch, 0}, {fixed + aligned + entry - 1, BufferOverflow, 1}, {512, 0, 2}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.size);
        IO_STATUS_BLOCK io = {};
        SetLastError(0xdeadbeef);
        const NTSTATUS status =
            NtQueryInformationFile(file, &io, buffer.data(), row.size, FileHardLinkInformation);
        EXPECT_EQ(0xdeadbeefu, GetLastError());
        EXPECT_TRUE(WindowsAnswer(
            status, row.status, NotImplemented, "FileHardLinkInformation is not implemented"));
        told = status == 0;
        if (row.status == InfoLengthMismatch || (RunningUnderWine() && status == NotImplemented)) {
            continue;
        }
        // The last entry's padding may or may not be counted.
        EXPECT_GE(links->BytesNeeded, fixed + aligned + entry);
        EXPECT_LE(links->BytesNeeded, fixed + 2 * aligned);
        EXPECT_EQ(row.entries, links->EntriesReturned);
    }
    // Every name, in its folder, once they are told (the last row's status fails otherwise).
    std::set<std::wstring> names;
    const auto* at = reinterpret_cast<const BYTE*>(&links->Entry);
    for (ULONG i = 0; told && i < links->EntriesReturned; ++i) {
        const auto* link = reinterpret_cast<const LinkEntry*>(at);
        names.insert(FolderOfId(file, link->ParentFileId) + L"\\" +
                     std::wstring(link->FileName, link->FileNameLength));
        at += link->NextEntryOffset;
    }
    if (told) {
        EXPECT_EQ((std::set<std::wstring>{L"\\\\?\\C:\\OrvaneConformance\\one.dat",
                                          L"\\\\?\\C:\\OrvaneConformance\\inner\\two.dat"}),
                  names);
    }

    IO_STATUS_BLOCK io = {};
    SetLastError(0xdeadbeef);
    EXPECT_EQ(
        InvalidHandle,
        NtQueryInformationFile(
            reinterpret_cast<HANDLE>(0x4321), &io, buffer.data(), 512, FileHardLinkInformation));
    EXPECT_EQ(0xdeadbeefu, GetLastError());
    EXPECT_TRUE(CloseHandle(file));
}

TEST_F(NativeFilesTest, OpenFileByIdRefusesWithWindowsErrors) {
    struct Row {
        const char* what;
        HANDLE hint;
        FILE_ID_TYPE type;
        LONGLONG id;
        DWORD error;
        DWORD wine;
    };
    const Row rows[] = {
        {"no volume handle",
         reinterpret_cast<HANDLE>(0x4321),
         FileIdType,
         5,
         ERROR_INVALID_HANDLE,
         ERROR_INVALID_HANDLE},
        {"an id of no type",
         outer,
         MaximumFileIdType,
         5,
         ERROR_INVALID_PARAMETER,
         ERROR_FILE_NOT_FOUND},
        {"an id of nothing",
         outer,
         FileIdType,
         0x0000123456789abcLL,
         ERROR_INVALID_PARAMETER,
         ERROR_FILE_NOT_FOUND},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        FILE_ID_DESCRIPTOR descriptor = {};
        descriptor.dwSize = sizeof(descriptor);
        descriptor.Type = row.type;
        descriptor.FileId.QuadPart = row.id;
        SetLastError(0xdeadbeef);
        EXPECT_EQ(INVALID_HANDLE_VALUE,
                  OpenFileById(row.hint,
                               &descriptor,
                               FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr,
                               FILE_FLAG_BACKUP_SEMANTICS));
        EXPECT_TRUE(WindowsAnswer(GetLastError(),
                                  row.error,
                                  row.wine,
                                  "an id that names nothing is not found, whatever its type"));
    }
}

// The inner folder's list, in its bytes.
std::vector<BYTE> InnerList() {
    return ListBytes([](PACL* dacl, PSECURITY_DESCRIPTOR* block) {
        return GetNamedSecurityInfoW(Inner,
                                     SE_FILE_OBJECT,
                                     DACL_SECURITY_INFORMATION,
                                     nullptr,
                                     nullptr,
                                     dacl,
                                     nullptr,
                                     block);
    });
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
