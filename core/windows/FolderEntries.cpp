#include "core/windows/FolderEntries.h"

namespace OrvaneClient {

bool ListFolderEntries(HANDLE folder, std::vector<FolderEntry>& entries) {
    std::vector<ULONGLONG> buffer(8192);
    const DWORD size = static_cast<DWORD>(buffer.size() * sizeof(ULONGLONG));
    FILE_INFO_BY_HANDLE_CLASS informationClass = FileFullDirectoryRestartInfo;
    while (GetFileInformationByHandleEx(folder, informationClass, buffer.data(), size)) {
        informationClass = FileFullDirectoryInfo;
        const auto* at = reinterpret_cast<const BYTE*>(buffer.data());
        for (;;) {
            const auto* info = reinterpret_cast<const FILE_FULL_DIR_INFO*>(at);
            std::wstring name(info->FileName, info->FileNameLength / sizeof(WCHAR));
            if (name != L"." && name != L"..") {
                entries.push_back(FolderEntry{
                    std::move(name), (info->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
            }
            if (info->NextEntryOffset == 0) {
                break;
            }
            at += info->NextEntryOffset;
        }
    }
    return GetLastError() == ERROR_NO_MORE_FILES;
}

NTSTATUS OpenFolderEntry(HANDLE folder,
                         const std::wstring& name,
                         ACCESS_MASK access,
                         ScopedHandle& opened) {
    std::vector<WCHAR> nameBuffer(name.begin(), name.end());
    UNICODE_STRING objectName = {};
    objectName.Buffer = nameBuffer.data();
    objectName.Length = static_cast<USHORT>(nameBuffer.size() * sizeof(WCHAR));
    objectName.MaximumLength = objectName.Length;
    OBJECT_ATTRIBUTES attributes = {};
    attributes.Length = sizeof(attributes);
    attributes.RootDirectory = folder;
    attributes.ObjectName = &objectName;
    attributes.Attributes = OBJ_CASE_INSENSITIVE;
    IO_STATUS_BLOCK io = {};
    HANDLE raw = nullptr;
    const NTSTATUS status = NtCreateFile(&raw,
                                         access,
                                         &attributes,
                                         &io,
                                         nullptr,
                                         0,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         FILE_OPEN,
                                         FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT,
                                         nullptr,
                                         0);
    if (NT_SUCCESS(status)) {
        opened = ScopedHandle(raw);
    }
    return status;
}

}  // namespace OrvaneClient
