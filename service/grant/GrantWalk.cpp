#include "service/grant/GrantWalk.h"

#include "core/util/WideString.h"
#include "core/windows/FinalPath.h"
#include "core/windows/FolderEntries.h"
#include "core/windows/ScopedHandle.h"
#include "core/windows/ScopedLocalMemory.h"
#include "core/windows/ScopedRegistryKey.h"
#include "service/grant/InheritedAccessList.h"

#include <Poco/UTF8String.h>

#include <cstring>
#include <optional>
#include <vector>

namespace OrvaneClient {
namespace {

// What a child is opened with: its list read and written, its attributes asked, never its data.
constexpr ACCESS_MASK ChildAccess = READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr REGSAM SubKeyAccess = READ_CONTROL | WRITE_DAC | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE;
// Registry names are at most 255 characters; Windows nests keys at most 512 deep.
constexpr DWORD KeyNameCapacity = 256;
constexpr int MaxKeyDepth = 512;

// FILE_LINKS_INFORMATION and its entries (ntifs.h), which winternl.h does not declare.
struct LinkEntry {
    ULONG NextEntryOffset;
    LONGLONG ParentFileId;
    ULONG FileNameLength;  // characters
    WCHAR FileName[1];
};
struct LinksInformation {
    ULONG BytesNeeded;
    ULONG EntriesReturned;
    LinkEntry Entry;
};

WalkOutcome Refused(DWORD error, std::string why) {
    return WalkOutcome{error, std::move(why)};
}

WalkOutcome CannotExamine(const std::string& path, DWORD error) {
    return Refused(error,
                   "the folder's contents cannot be examined (" + path + ", error " +
                       std::to_string(error) + ")");
}

bool IsInside(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() && path[folder.size()] == '\\' &&
           Poco::UTF8::icompare(path.substr(0, folder.size()), folder) == 0;
}

// One name of the file that lies outside `topFinal`, or none; `error` set when its names
// cannot all be had.
std::optional<std::string> NameOutside(
    HANDLE file, DWORD links, HANDLE top, const std::string& topFinal, DWORD& error) {
    std::vector<ULONGLONG> buffer(512);
    IO_STATUS_BLOCK io = {};
    NTSTATUS status = NtQueryInformationFile(file,
                                             &io,
                                             buffer.data(),
                                             static_cast<ULONG>(buffer.size() * sizeof(ULONGLONG)),
                                             FileHardLinkInformation);
    if (!NT_SUCCESS(status) && RtlNtStatusToDosError(status) == ERROR_MORE_DATA) {
        const ULONG needed = reinterpret_cast<const LinksInformation*>(buffer.data())->BytesNeeded;
        buffer.assign(needed / sizeof(ULONGLONG) + 1, 0);
        status = NtQueryInformationFile(file,
                                        &io,
                                        buffer.data(),
                                        static_cast<ULONG>(buffer.size() * sizeof(ULONGLONG)),
                                        FileHardLinkInformation);
    }
    if (!NT_SUCCESS(status)) {
        error = RtlNtStatusToDosError(status);
        return std::nullopt;
    }
    const auto* names = reinterpret_cast<const LinksInformation*>(buffer.data());
    if (names->EntriesReturned < links) {
        // A name that is not told cannot be known to lie inside.
        error = ERROR_CANT_ACCESS_FILE;
        return std::nullopt;
    }
    const auto* at = reinterpret_cast<const BYTE*>(&names->Entry);
    for (ULONG i = 0; i < names->EntriesReturned; ++i) {
        const auto* link = reinterpret_cast<const LinkEntry*>(at);
        const std::string name =
            WideToUtf8(std::wstring(link->FileName, link->FileName + link->FileNameLength));
        // The name's folder, by its id on the folder's volume.
        FILE_ID_DESCRIPTOR id = {};
        id.dwSize = sizeof(id);
        id.Type = FileIdType;
        id.FileId.QuadPart = link->ParentFileId;
        ScopedHandle parent(OpenFileById(top,
                                         &id,
                                         FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr,
                                         FILE_FLAG_BACKUP_SEMANTICS));
        const std::optional<std::string> folder =
            parent.isValid() ? FinalPathOf(parent.get()) : std::nullopt;
        if (!folder) {
            // A name in a folder that cannot be found is not known to be inside.
            return "?\\" + name;
        }
        const std::string path = *folder + "\\" + name;
        if (!IsInside(path, topFinal)) {
            return path;
        }
        at += link->NextEntryOffset;
    }
    return std::nullopt;
}

// The object's owner and list through its handle, and whether that list is protected.
struct HeldSecurity {
    ScopedLocalMemory<void> descriptor;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    bool isProtected = false;
};

DWORD ReadHeld(HANDLE object, SE_OBJECT_TYPE type, HeldSecurity& held) {
    PSECURITY_DESCRIPTOR raw = nullptr;
    const DWORD result = GetSecurityInfo(object,
                                         type,
                                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                         &held.owner,
                                         nullptr,
                                         &held.dacl,
                                         nullptr,
                                         &raw);
    held.descriptor = ScopedLocalMemory<void>(raw);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!GetSecurityDescriptorControl(raw, &control, &revision)) {
        return GetLastError();
    }
    held.isProtected = (control & SE_DACL_PROTECTED) != 0;
    return ERROR_SUCCESS;
}

// A folder on the way down: held open, its new list, its name for the log, what it holds.
struct Frame {
    ScopedHandle folder;
    std::vector<BYTE> acl;
    std::string path;
    std::vector<FolderEntry> entries;
    size_t next = 0;
};

}  // namespace

bool IsRegistryLink(HKEY key) {
    DWORD type = REG_NONE;
    return RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr) ==
               ERROR_SUCCESS &&
           type == REG_LINK;
}

WalkOutcome GrantFolderTree(HANDLE top, const ACL* topAcl, const std::string& topPath) {
    const std::optional<std::string> topFinal = FinalPathOf(top);
    if (!topFinal) {
        return CannotExamine(topPath, GetLastError());
    }
    std::vector<Frame> frames;
    frames.push_back(Frame{ScopedHandle(), {}, topPath, {}, 0});
    const auto* topBytes = reinterpret_cast<const BYTE*>(topAcl);
    frames.back().acl.assign(topBytes, topBytes + topAcl->AclSize);
    if (!ListFolderEntries(top, frames.back().entries)) {
        return CannotExamine(topPath, GetLastError());
    }
    while (!frames.empty()) {
        Frame& frame = frames.back();
        if (frame.next == frame.entries.size()) {
            frames.pop_back();
            continue;
        }
        const FolderEntry& entry = frame.entries[frame.next++];
        const std::string path = frame.path + "\\" + WideToUtf8(entry.name);
        HANDLE folder = frame.folder.isValid() ? frame.folder.get() : top;

        // The entry itself, whatever it is: a link is opened as the link.
        ScopedHandle child;
        const NTSTATUS status = OpenFolderEntry(
            folder, entry.name, ChildAccess | (entry.directory ? FILE_LIST_DIRECTORY : 0), child);
        if (!NT_SUCCESS(status)) {
            return CannotExamine(path, RtlNtStatusToDosError(status));
        }

        FILE_ATTRIBUTE_TAG_INFO tag = {};
        if (!GetFileInformationByHandleEx(child.get(), FileAttributeTagInfo, &tag, sizeof(tag))) {
            return CannotExamine(path, GetLastError());
        }
        if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
            IsReparseTagNameSurrogate(tag.ReparseTag)) {
            return Refused(ERROR_ACCESS_DENIED,
                           "the folder holds a junction or symbolic link (" + path + ")");
        }
        const bool directory = (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (directory != entry.directory) {
            return Refused(ERROR_ACCESS_DENIED,
                           "the folder's contents changed while they were examined (" + path + ")");
        }
        if (!directory) {
            FILE_STANDARD_INFO standard = {};
            if (!GetFileInformationByHandleEx(
                    child.get(), FileStandardInfo, &standard, sizeof(standard))) {
                return CannotExamine(path, GetLastError());
            }
            if (standard.NumberOfLinks > 1) {
                DWORD error = ERROR_SUCCESS;
                const std::optional<std::string> outside =
                    NameOutside(child.get(), standard.NumberOfLinks, top, *topFinal, error);
                if (error != ERROR_SUCCESS) {
                    return CannotExamine(path, error);
                }
                if (outside) {
                    return Refused(
                        ERROR_ACCESS_DENIED,
                        "the folder holds a file with a hard link outside it (" + *outside + ")");
                }
            }
        }

        HeldSecurity held;
        if (const DWORD error = ReadHeld(child.get(), SE_FILE_OBJECT, held)) {
            return CannotExamine(path, error);
        }
        if (held.isProtected) {
            // It inherits nothing, and what lies below it inherits from its list, unchanged.
            continue;
        }
        std::vector<BYTE> acl = ChildAccessList(reinterpret_cast<const ACL*>(frame.acl.data()),
                                                held.dacl,
                                                held.owner,
                                                directory,
                                                false);
        if (acl.empty()) {
            return CannotExamine(path, ERROR_INVALID_ACL);
        }
        std::vector<BYTE> descriptor =
            DaclDescriptor(reinterpret_cast<const ACL*>(acl.data()), false);
        if (!SetKernelObjectSecurity(child.get(), DACL_SECURITY_INFORMATION, descriptor.data())) {
            return CannotExamine(path, GetLastError());
        }
        if (directory) {
            Frame below{std::move(child), std::move(acl), path, {}, 0};
            if (!ListFolderEntries(below.folder.get(), below.entries)) {
                return CannotExamine(path, GetLastError());
            }
            // `frame` is not used past this point: the push may move it.
            frames.push_back(std::move(below));
        }
    }
    return WalkOutcome{};
}

namespace {

WalkOutcome GrantSubKeys(HKEY key, const ACL* keyAcl, const std::string& keyName, int depth) {
    if (depth > MaxKeyDepth) {
        return Refused(ERROR_ACCESS_DENIED, "a subkey cannot be examined");
    }
    for (DWORD index = 0;; ++index) {
        WCHAR subKeyName[KeyNameCapacity] = {};
        DWORD length = KeyNameCapacity;
        const LSTATUS status =
            RegEnumKeyExW(key, index, subKeyName, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            return WalkOutcome{};
        }
        if (status != ERROR_SUCCESS) {
            return Refused(static_cast<DWORD>(status), "a subkey cannot be examined");
        }
        const std::string path = keyName + "\\" + WideToUtf8(subKeyName);
        HKEY rawSubKey = nullptr;
        const LSTATUS opened =
            RegOpenKeyExW(key, subKeyName, REG_OPTION_OPEN_LINK, SubKeyAccess, &rawSubKey);
        if (opened != ERROR_SUCCESS) {
            return Refused(static_cast<DWORD>(opened), "a subkey cannot be examined");
        }
        ScopedRegistryKey subKey(rawSubKey);
        if (IsRegistryLink(subKey.get())) {
            return Refused(ERROR_ACCESS_DENIED,
                           "the key is or holds a registry link (" + path + ")");
        }
        HeldSecurity held;
        if (const DWORD error = ReadHeld(subKey.get(), SE_REGISTRY_KEY, held)) {
            return Refused(error, "a subkey cannot be examined");
        }
        if (held.isProtected) {
            continue;
        }
        std::vector<BYTE> acl = ChildAccessList(keyAcl, held.dacl, held.owner, true, true);
        if (acl.empty()) {
            return Refused(ERROR_INVALID_ACL, "a subkey cannot be examined");
        }
        std::vector<BYTE> descriptor =
            DaclDescriptor(reinterpret_cast<const ACL*>(acl.data()), false);
        const LSTATUS written =
            RegSetKeySecurity(subKey.get(), DACL_SECURITY_INFORMATION, descriptor.data());
        if (written != ERROR_SUCCESS) {
            return Refused(static_cast<DWORD>(written), "a subkey cannot be examined");
        }
        WalkOutcome below =
            GrantSubKeys(subKey.get(), reinterpret_cast<const ACL*>(acl.data()), path, depth + 1);
        if (below.error != ERROR_SUCCESS) {
            return below;
        }
    }
}

}  // namespace

WalkOutcome GrantKeyTree(HKEY top, const ACL* topAcl, const std::string& topName) {
    return GrantSubKeys(top, topAcl, topName, 0);
}

}  // namespace OrvaneClient
