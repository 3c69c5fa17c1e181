#include "service/GrantTargetHandle.h"

#include "core/util/WideString.h"

namespace OrvaneClient {

ScopedHandle OpenGrantDirectory(const std::string& path) {
    return ScopedHandle(CreateFileW(
        Utf8ToWide(path).c_str(),
        READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY | SYNCHRONIZE,
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
    // A synced (cloud) or compressed folder is a folder; only a link is not.
    if ((info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
        IsReparseTagNameSurrogate(info.ReparseTag)) {
        return std::string("a folder on the path is a junction or symbolic link");
    }
    if ((info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return std::string("the path is not a folder");
    }
    return std::nullopt;
}

}  // namespace OrvaneClient
