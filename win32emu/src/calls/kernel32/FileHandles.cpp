// What an open file handle tells: GetFinalPathNameByHandleW, GetFileInformationByHandleEx.

#include "machine/ApiSupport.h"
#include "machine/FileSystem.h"
#include "machine/MachineModel.h"

#include <Poco/Exception.h>
#include <Poco/File.h>

#include <algorithm>
#include <cstring>

using namespace Win32Emu;

namespace {

constexpr DWORD ArchiveOrDirectory(const FileObject& file) {
    return file.directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
}

LONGLONG hostSize(const FileObject& file) {
    if (file.directory) {
        return 0;
    }
    try {
        const Poco::File host(Model().drives.hostPath(file.finalPath));
        return host.exists() ? static_cast<LONGLONG>(host.getSize()) : 0;
    } catch (const Poco::Exception&) {
        return 0;
    }
}

// The folder's entries from where the last call left off, as many as fit, each on an 8-byte
// boundary; the listing is taken when first asked (or asked again from the start).
BOOL fullDirectoryInfo(const HandleEntry& entry,
                       const std::shared_ptr<FileObject>& file,
                       FILE_INFO_BY_HANDLE_CLASS informationClass,
                       LPVOID buffer,
                       DWORD size) {
    if ((entry.access & FILE_LIST_DIRECTORY) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!file->directory) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (buffer == nullptr || size < sizeof(FILE_FULL_DIR_INFO)) {
        SetLastError(ERROR_BAD_LENGTH);
        return FALSE;
    }
    if (!file->listed || informationClass == FileFullDirectoryRestartInfo) {
        file->listing.clear();
        if (file->components.size() > 1) {
            file->listing.push_back(FindEntry(".", FILE_ATTRIBUTE_DIRECTORY, 0));
            file->listing.push_back(FindEntry("..", FILE_ATTRIBUTE_DIRECTORY, 0));
        }
        for (const auto& listed : FolderListing(file->components)) {
            file->listing.push_back(listed.second);
        }
        file->listed = true;
        file->nextEntry = 0;
    }
    if (file->nextEntry >= file->listing.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    auto* at = static_cast<BYTE*>(buffer);
    DWORD used = 0;
    FILE_FULL_DIR_INFO* previous = nullptr;
    while (file->nextEntry < file->listing.size()) {
        const WIN32_FIND_DATAW& found = file->listing[file->nextEntry];
        const std::wstring name(found.cFileName);
        const DWORD length = static_cast<DWORD>(offsetof(FILE_FULL_DIR_INFO, FileName) +
                                                name.size() * sizeof(WCHAR));
        if (used + length > size) {
            if (previous == nullptr) {
                SetLastError(ERROR_MORE_DATA);
                return FALSE;
            }
            break;
        }
        FILE_FULL_DIR_INFO info = {};
        info.FileAttributes = found.dwFileAttributes;
        info.FileNameLength = static_cast<DWORD>(name.size() * sizeof(WCHAR));
        info.EaSize =
            (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? found.dwReserved0 : 0;
        std::memcpy(at + used, &info, offsetof(FILE_FULL_DIR_INFO, FileName));
        std::memcpy(at + used + offsetof(FILE_FULL_DIR_INFO, FileName),
                    name.data(),
                    name.size() * sizeof(WCHAR));
        if (previous != nullptr) {
            const DWORD offset = static_cast<DWORD>(at + used - reinterpret_cast<BYTE*>(previous));
            std::memcpy(&previous->NextEntryOffset, &offset, sizeof(offset));
        }
        previous = reinterpret_cast<FILE_FULL_DIR_INFO*>(at + used);
        used += (length + 7) & ~7u;
        ++file->nextEntry;
    }
    return TRUE;
}

}  // namespace

extern "C" {

DWORD WINAPI GetFinalPathNameByHandleW(HANDLE hFile,
                                       LPWSTR lpszFilePath,
                                       DWORD cchFilePath,
                                       DWORD dwFlags) {
    if (InjectedFailure("GetFinalPathNameByHandleW", std::string(), HandleTypeName(hFile))) {
        return 0;
    }
    const auto file = Model().handles.findAs<FileObject>(hFile);
    if (!file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    // Only the normalized name on its drive letter is emulated (no GUID or NT volume names).
    if (dwFlags != (FILE_NAME_NORMALIZED | VOLUME_NAME_DOS)) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return 0;
    }
    const std::wstring path = L"\\\\?\\" + ToWide(file->finalPath);
    // Too small: the size needed, its terminating zero included, and nothing written.
    if (lpszFilePath == nullptr || cchFilePath <= path.size()) {
        return static_cast<DWORD>(path.size() + 1);
    }
    std::copy(path.begin(), path.end(), lpszFilePath);
    lpszFilePath[path.size()] = L'\0';
    return static_cast<DWORD>(path.size());
}

BOOL WINAPI GetFileInformationByHandleEx(HANDLE hFile,
                                         FILE_INFO_BY_HANDLE_CLASS FileInformationClass,
                                         LPVOID lpFileInformation,
                                         DWORD dwBufferSize) {
    if (InjectedFailure("GetFileInformationByHandleEx",
                        std::to_string(static_cast<int>(FileInformationClass)),
                        HandleTypeName(hFile))) {
        return FALSE;
    }
    const std::optional<HandleEntry> entry = Model().handles.entry(hFile);
    const auto file = entry ? std::dynamic_pointer_cast<FileObject>(entry->object) : nullptr;
    if (!file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (FileInformationClass == FileStandardInfo) {
        // Needs no access of the handle's.
        if (lpFileInformation == nullptr || dwBufferSize < sizeof(FILE_STANDARD_INFO)) {
            SetLastError(ERROR_BAD_LENGTH);
            return FALSE;
        }
        FILE_STANDARD_INFO info = {};
        info.EndOfFile.QuadPart = hostSize(*file);
        info.AllocationSize.QuadPart = (info.EndOfFile.QuadPart + 4095) / 4096 * 4096;
        const DWORD names =
            1 + static_cast<DWORD>(Model().security.otherNames(file->components).size());
        info.NumberOfLinks = file->directory ? 1 : std::max<DWORD>(names, file->marks.links);
        info.Directory = file->directory ? 1 : 0;
        std::memcpy(lpFileInformation, &info, sizeof(info));
        return TRUE;
    }
    if (FileInformationClass == FileAttributeTagInfo) {
        if (lpFileInformation == nullptr || dwBufferSize < sizeof(FILE_ATTRIBUTE_TAG_INFO)) {
            SetLastError(ERROR_BAD_LENGTH);
            return FALSE;
        }
        if ((entry->access & FILE_READ_ATTRIBUTES) == 0) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        FILE_ATTRIBUTE_TAG_INFO info = {};
        info.FileAttributes = ArchiveOrDirectory(*file);
        if (file->reparseTag != 0) {
            info.FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
            info.ReparseTag = file->reparseTag;
        }
        std::memcpy(lpFileInformation, &info, sizeof(info));
        return TRUE;
    }
    if (FileInformationClass == FileFullDirectoryInfo ||
        FileInformationClass == FileFullDirectoryRestartInfo) {
        return fullDirectoryInfo(
            *entry, file, FileInformationClass, lpFileInformation, dwBufferSize);
    }
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

}  // extern "C"
