#include "core/windows/ServiceFolder.h"

#include "core/util/WideString.h"
#include "core/windows/FinalPath.h"
#include "core/windows/ScopedFindHandle.h"
#include "core/windows/ScopedLocalMemory.h"

#include <Poco/Path.h>
#include <Poco/String.h>

#include <optional>

namespace OrvaneClient {
namespace {

// SYSTEM and Administrators own and change the folder; Users read what the service wrote.
const WCHAR ServiceFolderDescriptor[] =
    L"O:BAG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

const char SystemSid[] = "S-1-5-18";
const char AdministratorsSid[] = "S-1-5-32-544";
const char TrustedInstallerSid[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
const char CreatorOwnerSid[] = "S-1-3-0";

// Rights that let their holder put something in the folder, remove or replace what is there,
// or make the folder someone else's.
constexpr ACCESS_MASK ChangingRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_WRITE_EA |
                                       FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES | DELETE |
                                       WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

std::string ErrorText(const char* call, DWORD error) {
    return std::string(call) + " failed with error code " + std::to_string(error);
}

std::optional<std::string> SidText(PSID sid) {
    ScopedLocalMemory<char> text;
    LPSTR raw = nullptr;
    if (!ConvertSidToStringSidA(sid, &raw)) {
        return std::nullopt;
    }
    text.reset(raw);
    return std::string(text.get());
}

bool IsServiceAccount(const std::string& sid) {
    return sid == SystemSid || sid == AdministratorsSid || sid == TrustedInstallerSid;
}

// The folder itself, not what a link there leads to; shared with anyone but a deleter.
ScopedHandle OpenFolder(const std::wstring& path, DWORD access) {
    return ScopedHandle(CreateFileW(path.c_str(),
                                    access,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr,
                                    OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
}

// Why the held object is not the folder `path` names: a link, not a folder, or elsewhere.
std::optional<std::string> HeldFolderRefusal(HANDLE handle, const std::string& path) {
    FILE_ATTRIBUTE_TAG_INFO info = {};
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof(info))) {
        const DWORD error = GetLastError();
        return path + ": " + ErrorText("GetFileInformationByHandleEx", error);
    }
    if ((info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return path + " is a junction or symbolic link";
    }
    if ((info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return path + " is not a folder";
    }
    const std::optional<std::string> finalPath = FinalPathOf(handle);
    if (!finalPath) {
        const DWORD error = GetLastError();
        return path + ": " + ErrorText("GetFinalPathNameByHandleW", error);
    }
    const std::string& reached = *finalPath;
    if (Poco::icompare(reached, path) != 0) {
        return path + " leads to " + reached;
    }
    return std::nullopt;
}

// Creates the folders on the way to `path` that do not exist yet (on Windows the common data
// folder always does; a missing one was planted by nobody).
void CreateMissingAncestors(const std::string& path) {
    const std::string::size_type end = path.find_last_of('\\');
    for (std::string::size_type at = path.find('\\', 3); at != std::string::npos && at <= end;
         at = path.find('\\', at + 1)) {
        CreateDirectoryW(Utf8ToWide(path.substr(0, at)).c_str(), nullptr);
    }
}

// Opens the folder, creating it when it is missing; then checks what was opened.
ScopedHandle OpenOrCreate(const std::string& path,
                          DWORD access,
                          LPSECURITY_ATTRIBUTES attributes,
                          std::string& why) {
    const std::wstring widePath = Utf8ToWide(path);
    ScopedHandle handle = OpenFolder(widePath, access);
    if (!handle.isValid()) {
        const DWORD error = GetLastError();
        if (error == ERROR_PATH_NOT_FOUND && attributes == nullptr) {
            CreateMissingAncestors(path);
        } else if (error != ERROR_FILE_NOT_FOUND) {
            why = path + ": " + ErrorText("CreateFileW", error);
            return ScopedHandle();
        }
        // Whatever appears there meanwhile is opened and checked like anything found.
        if (!CreateDirectoryW(widePath.c_str(), attributes)) {
            const DWORD createError = GetLastError();
            if (createError != ERROR_ALREADY_EXISTS) {
                why = path + ": " + ErrorText("CreateDirectoryW", createError);
                return ScopedHandle();
            }
        }
        handle = OpenFolder(widePath, access);
        if (!handle.isValid()) {
            const DWORD openError = GetLastError();
            why = path + ": " + ErrorText("CreateFileW", openError);
            return ScopedHandle();
        }
    }
    if (const std::optional<std::string> refusal = HeldFolderRefusal(handle.get(), path)) {
        why = *refusal;
        return ScopedHandle();
    }
    return handle;
}

// Who other than the service's accounts may change the folder, by its owner and its list; empty
// when nobody may. An entry of a kind not read here counts as letting someone in.
std::optional<std::string> OthersWhoMayChange(PSID owner, PACL dacl) {
    const std::optional<std::string> ownerSid = SidText(owner);
    if (!ownerSid || !IsServiceAccount(*ownerSid)) {
        return "its owner " + ownerSid.value_or("(unreadable)");
    }
    if (dacl == nullptr) {
        return std::string("a null access list (everyone)");
    }
    const BYTE* entry = reinterpret_cast<const BYTE*>(dacl) + sizeof(ACL);
    for (WORD index = 0; index < dacl->AceCount; ++index) {
        const auto* header = reinterpret_cast<const ACE_HEADER*>(entry);
        if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
            const auto* allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(entry);
            const std::optional<std::string> sid = SidText(const_cast<DWORD*>(&allowed->SidStart));
            if (!sid) {
                return std::string("an entry whose SID cannot be read");
            }
            // CREATOR OWNER stands for whoever creates a child: the service itself.
            if ((allowed->Mask & ChangingRights) != 0 && !IsServiceAccount(*sid) &&
                *sid != CreatorOwnerSid) {
                return "an entry for " + *sid;
            }
        } else if (header->AceType != ACCESS_DENIED_ACE_TYPE) {
            return "an entry of type " + std::to_string(header->AceType);
        }
        entry += header->AceSize;
    }
    return std::nullopt;
}

// Makes the held folder the service's own when others may change it.
std::optional<std::string> TakeOver(HANDLE folder,
                                    const std::string& path,
                                    PSECURITY_DESCRIPTOR ownDescriptor,
                                    std::string& takenFrom) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR raw = nullptr;
    const DWORD readError = GetSecurityInfo(folder,
                                            SE_FILE_OBJECT,
                                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                            &owner,
                                            nullptr,
                                            &dacl,
                                            nullptr,
                                            &raw);
    if (readError != ERROR_SUCCESS) {
        return path + ": " + ErrorText("GetSecurityInfo", readError);
    }
    ScopedLocalMemory<void> descriptor(raw);
    const std::optional<std::string> others = OthersWhoMayChange(owner, dacl);
    if (!others) {
        return std::nullopt;
    }
    takenFrom = *others;
    // The descriptor is self-relative: its parts lie at offsets from its start.
    const auto* own = static_cast<const SECURITY_DESCRIPTOR_RELATIVE*>(ownDescriptor);
    BYTE* base = static_cast<BYTE*>(ownDescriptor);
    const DWORD writeError =
        SetSecurityInfo(folder,
                        SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                            PROTECTED_DACL_SECURITY_INFORMATION,
                        base + own->Owner,
                        nullptr,
                        reinterpret_cast<PACL>(base + own->Dacl),
                        nullptr);
    if (writeError != ERROR_SUCCESS) {
        return path + ": " + ErrorText("SetSecurityInfo", writeError);
    }
    return std::nullopt;
}

// A link or a multiply linked file inside: the file channel, opening by name, would write
// through it. Only the folder's own entries: the channel never descends.
std::optional<std::string> LinkInside(const std::string& path) {
    WIN32_FIND_DATAW entry = {};
    ScopedFindHandle find(FindFirstFileExW(Utf8ToWide(path + "\\*").c_str(),
                                           FindExInfoBasic,
                                           &entry,
                                           FindExSearchNameMatch,
                                           nullptr,
                                           0));
    if (!find.isValid()) {
        const DWORD error = GetLastError();
        return path + ": " + ErrorText("FindFirstFileExW", error);
    }
    do {
        const std::wstring name(entry.cFileName);
        if (name == L"." || name == L"..") {
            continue;
        }
        const std::string entryPath = path + "\\" + WideToUtf8(name);
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return entryPath + " is a junction or symbolic link";
        }
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            continue;
        }
        ScopedHandle file(CreateFileW(Utf8ToWide(entryPath).c_str(),
                                      0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr,
                                      OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                      nullptr));
        if (!file.isValid()) {
            const DWORD error = GetLastError();
            return entryPath + ": " + ErrorText("CreateFileW", error);
        }
        FILE_STANDARD_INFO info = {};
        if (!GetFileInformationByHandleEx(file.get(), FileStandardInfo, &info, sizeof(info))) {
            const DWORD error = GetLastError();
            return entryPath + ": " + ErrorText("GetFileInformationByHandleEx", error);
        }
        if (info.NumberOfLinks > 1) {
            return entryPath + " has more than one hard link";
        }
    } while (FindNextFileW(find.get(), &entry));
    const DWORD error = GetLastError();
    if (error != ERROR_NO_MORE_FILES) {
        return path + ": " + ErrorText("FindNextFileW", error);
    }
    return std::nullopt;
}

}  // namespace

ServiceFolder ServiceFolder::Secure(const std::string& path) {
    ServiceFolder held;
    Poco::Path parentPath(path, Poco::Path::PATH_WINDOWS);
    parentPath.makeParent();
    std::string parentName = parentPath.toString(Poco::Path::PATH_WINDOWS);
    if (parentName.size() > 3 && parentName.back() == '\\') {
        parentName.pop_back();
    }

    PSECURITY_DESCRIPTOR raw = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            ServiceFolderDescriptor, SDDL_REVISION_1, &raw, nullptr)) {
        const DWORD error = GetLastError();
        held.why = ErrorText("ConvertStringSecurityDescriptorToSecurityDescriptorW", error);
        return held;
    }
    ScopedLocalMemory<void> descriptor(raw);
    SECURITY_ATTRIBUTES attributes = {};
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor = descriptor.get();

    held.parent = OpenOrCreate(parentName, FILE_READ_ATTRIBUTES, nullptr, held.why);
    if (!held.parent.isValid()) {
        return held;
    }
    ScopedHandle folder = OpenOrCreate(
        path, READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES, &attributes, held.why);
    if (!folder.isValid()) {
        held.parent.reset();
        return held;
    }
    std::optional<std::string> refusal =
        TakeOver(folder.get(), path, descriptor.get(), held.takenFrom);
    if (!refusal) {
        refusal = LinkInside(path);
    }
    if (refusal) {
        held.why = *refusal;
        held.parent.reset();
        return held;
    }
    held.folder = std::move(folder);
    return held;
}

}  // namespace OrvaneClient
