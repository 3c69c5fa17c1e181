#include "service/GrantTargetHandle.h"

#include "core/util/WideString.h"
#include "core/windows/ScopedFindHandle.h"

#include <vector>

namespace OrvaneClient {
namespace {

bool IsDotName(const WCHAR* name) {
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// A file's hard links, or none when it cannot be opened or asked.
std::optional<DWORD> LinkCount(const std::wstring& path) {
    // No access to its data is asked for: the count needs none, and nobody's sharing is touched.
    ScopedHandle file(CreateFileW(path.c_str(),
                                  0,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr,
                                  OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                  nullptr));
    if (!file.isValid()) {
        return std::nullopt;
    }
    FILE_STANDARD_INFO info = {};
    if (!GetFileInformationByHandleEx(file.get(), FileStandardInfo, &info, sizeof(info))) {
        return std::nullopt;
    }
    return info.NumberOfLinks;
}

}  // namespace

ScopedHandle OpenGrantDirectory(const std::string& path) {
    return ScopedHandle(CreateFileW(Utf8ToWide(path).c_str(),
                                    READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr,
                                    OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
}

std::optional<std::string> HeldObjectRefusal(HANDLE folder) {
    FILE_ATTRIBUTE_TAG_INFO info = {};
    if (!GetFileInformationByHandleEx(folder, FileAttributeTagInfo, &info, sizeof(info))) {
        return std::string("the folder cannot be examined");
    }
    if ((info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return std::string("a folder on the path is a junction or symbolic link");
    }
    if ((info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return std::string("the path is not a folder");
    }
    return std::nullopt;
}

std::optional<std::string> LinkedEntryRefusal(const std::string& folder) {
    std::vector<std::wstring> pending{Utf8ToWide(folder)};
    while (!pending.empty()) {
        const std::wstring directory = pending.back();
        pending.pop_back();
        WIN32_FIND_DATAW entry = {};
        ScopedFindHandle find(FindFirstFileExW((directory + L"\\*").c_str(),
                                               FindExInfoBasic,
                                               &entry,
                                               FindExSearchNameMatch,
                                               nullptr,
                                               FIND_FIRST_EX_LARGE_FETCH));
        if (!find.isValid()) {
            return "the folder's contents cannot be examined (" + WideToUtf8(directory) + ")";
        }
        do {
            if (IsDotName(entry.cFileName)) {
                continue;
            }
            const std::wstring path = directory + L"\\" + entry.cFileName;
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
                return "the folder holds a junction or symbolic link (" + WideToUtf8(path) + ")";
            }
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                pending.push_back(path);
                continue;
            }
            const std::optional<DWORD> links = LinkCount(path);
            if (!links) {
                return "the folder's contents cannot be examined (" + WideToUtf8(path) + ")";
            }
            if (*links > 1) {
                return "the folder holds a file with more than one hard link (" + WideToUtf8(path) +
                       ")";
            }
        } while (FindNextFileW(find.get(), &entry));
        if (GetLastError() != ERROR_NO_MORE_FILES) {
            return "the folder's contents cannot be examined (" + WideToUtf8(directory) + ")";
        }
    }
    return std::nullopt;
}

}  // namespace OrvaneClient
