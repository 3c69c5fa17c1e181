// Listing a directory: FindFirstFileExW, FindNextFileW, FindClose. The listing is taken whole
// when the search starts: the host's entries, the files the machine lists and its reparse
// points, in the order NTFS gives them (by upper-case name), "." and ".." first below a root.

#include "machine/ApiSupport.h"
#include "machine/FileSystem.h"
#include "machine/MachineModel.h"

#include <Poco/DirectoryIterator.h>
#include <Poco/Exception.h>
#include <Poco/UTF8String.h>

#include <algorithm>
#include <cstring>
#include <map>

using namespace Win32Emu;

namespace {

BOOL nextEntry(const std::shared_ptr<FindObject>& find, LPWIN32_FIND_DATAW data) {
    if (find->next >= find->entries.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    *data = find->entries[find->next++];
    return TRUE;
}

}  // namespace

extern "C" {

HANDLE WINAPI FindFirstFileExW(LPCWSTR lpFileName,
                               FINDEX_INFO_LEVELS fInfoLevelId,
                               LPVOID lpFindFileData,
                               FINDEX_SEARCH_OPS fSearchOp,
                               LPVOID lpSearchFilter,
                               DWORD dwAdditionalFlags) {
    const std::string name = ToUtf8(lpFileName);
    if (InjectedFailure("FindFirstFileExW", name)) {
        return INVALID_HANDLE_VALUE;
    }
    if (lpFileName == nullptr || lpFindFileData == nullptr || fInfoLevelId < FindExInfoStandard ||
        fInfoLevelId >= FindExInfoMaxInfoLevel || fSearchOp < FindExSearchNameMatch ||
        fSearchOp >= FindExSearchMaxSearchOp) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // Listing a whole folder ("C:\x\*") is what is emulated: no other pattern or search.
    const bool wholeFolder = name.size() > 2 && name.compare(name.size() - 2, 2, "\\*") == 0;
    if (!wholeFolder || fSearchOp != FindExSearchNameMatch || lpSearchFilter != nullptr ||
        (dwAdditionalFlags & ~static_cast<DWORD>(FIND_FIRST_EX_LARGE_FETCH)) != 0) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return INVALID_HANDLE_VALUE;
    }
    const std::optional<std::string> folder = FullWindowsPath(name.substr(0, name.size() - 2));
    if (!folder) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return INVALID_HANDLE_VALUE;
    }
    const SecurableObject object = Model().security.resolveFile(*folder);
    if (object.error != ERROR_SUCCESS) {
        SetLastError(object.error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : object.error);
        return INVALID_HANDLE_VALUE;
    }
    if (!object.container) {
        SetLastError(ERROR_DIRECTORY);
        return INVALID_HANDLE_VALUE;
    }
    auto find = std::make_shared<FindObject>();
    if (object.components.size() > 1) {
        find->entries.push_back(FindEntry(".", FILE_ATTRIBUTE_DIRECTORY, 0));
        find->entries.push_back(FindEntry("..", FILE_ATTRIBUTE_DIRECTORY, 0));
    }
    for (const auto& entry : FolderListing(object.components)) {
        find->entries.push_back(entry.second);
    }
    if (find->entries.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    nextEntry(find, static_cast<LPWIN32_FIND_DATAW>(lpFindFileData));
    return Model().handles.insert(find, "FindFirstFileExW");
}

BOOL WINAPI FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData) {
    if (InjectedFailure("FindNextFileW", std::string(), HandleTypeName(hFindFile))) {
        return FALSE;
    }
    const auto find = Model().handles.findAs<FindObject>(hFindFile);
    if (!find) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (lpFindFileData == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return nextEntry(find, lpFindFileData);
}

BOOL WINAPI FindClose(HANDLE hFindFile) {
    if (InjectedFailure("FindClose", std::string(), HandleTypeName(hFindFile))) {
        return FALSE;
    }
    if (!Model().handles.findAs<FindObject>(hFindFile)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Model().handles.remove(hFindFile);
    return TRUE;
}

}  // extern "C"
