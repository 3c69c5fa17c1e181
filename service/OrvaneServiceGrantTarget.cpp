#include "core/logfacade/LogFacade.h"
#include "core/util/WideString.h"
#include "core/windows/ScopedRegistryKey.h"
#include "service/GrantTargetHandle.h"
#include "service/OrvaneService.h"

#include <Poco/UTF8String.h>

#include <vector>

namespace OrvaneClient {
namespace {

const char LocalMachinePrefix[] = "HKEY_LOCAL_MACHINE\\";
// Registry names are at most 255 characters.
constexpr DWORD KeyNameCapacity = 256;

// Whether the key, opened as itself, is a registry link: links carry their target in this
// REG_LINK value.
bool IsRegistryLink(HKEY key) {
    DWORD type = REG_NONE;
    return RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr) ==
               ERROR_SUCCESS &&
           type == REG_LINK;
}

// The first link at or below `key` (opened as itself), by its path below `name`; empty when
// there is none, "?" when a subkey cannot be read.
std::optional<std::string> FirstLinkBelow(HKEY key, const std::string& name, int depth) {
    if (IsRegistryLink(key)) {
        return name;
    }
    // Windows nests keys at most 512 deep.
    if (depth > 512) {
        return std::string("?");
    }
    for (DWORD index = 0;; ++index) {
        WCHAR subKeyName[KeyNameCapacity] = {};
        DWORD length = KeyNameCapacity;
        const LSTATUS status =
            RegEnumKeyExW(key, index, subKeyName, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            return std::nullopt;
        }
        HKEY rawSubKey = nullptr;
        if (status != ERROR_SUCCESS ||
            RegOpenKeyExW(key, subKeyName, REG_OPTION_OPEN_LINK, KEY_READ, &rawSubKey) !=
                ERROR_SUCCESS) {
            return std::string("?");
        }
        ScopedRegistryKey subKey(rawSubKey);
        if (std::optional<std::string> link =
                FirstLinkBelow(subKey.get(), name + "\\" + WideToUtf8(subKeyName), depth + 1)) {
            return link;
        }
    }
}

}  // namespace

std::optional<std::string> OrvaneService::prepareDirectoryGrant(const std::string& directory,
                                                                ScopedHandle& folder,
                                                                std::string& grantPath) {
    const GrantVerdict verdict = judgeDirectory(directory);
    if (verdict.refusal) {
        return verdict.refusal;
    }
    folder = OpenGrantDirectory(verdict.approvedPath);
    if (!folder.isValid()) {
        const DWORD error = GetLastError();
        LogError("GetNamedSecurityInfo for obj name %ls Error %u",
                 Utf8ToWide(verdict.approvedPath).c_str(),
                 static_cast<unsigned>(error));
        return std::nullopt;
    }
    if (std::optional<std::string> refusal = HeldObjectRefusal(folder.get())) {
        return refusal;
    }
    // A link anywhere on the way shows as another final path.
    const std::optional<std::string> finalPath = FinalPathOf(folder.get());
    if (!finalPath) {
        return std::string("the folder's final path cannot be had");
    }
    const GrantVerdict held = judgeDirectory(*finalPath);
    if (held.refusal) {
        return held.refusal;
    }
    if (Poco::UTF8::icompare(held.approvedPath, verdict.approvedPath) != 0) {
        return std::string("a folder on the path is a junction or symbolic link");
    }
    if (std::optional<std::string> refusal = LinkedEntryRefusal(held.approvedPath)) {
        return refusal;
    }
    grantPath = held.approvedPath;
    return std::nullopt;
}

std::optional<std::string> OrvaneService::registryLinkRefusal(const std::string& key) {
    const std::string prefix(LocalMachinePrefix);
    if (key.compare(0, prefix.size(), prefix) != 0) {
        return std::string("the key is not one of the machine's");
    }
    // The process's own view, as the grant's object type addresses it.
    HKEY rawKey = nullptr;
    const LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                                         Utf8ToWide(key.substr(prefix.size())).c_str(),
                                         REG_OPTION_OPEN_LINK,
                                         KEY_READ,
                                         &rawKey);
    if (status == ERROR_FILE_NOT_FOUND) {
        // Nothing to follow; the grant reports the missing key itself.
        return std::nullopt;
    }
    if (status != ERROR_SUCCESS) {
        return std::string("the key cannot be examined");
    }
    ScopedRegistryKey opened(rawKey);
    const std::optional<std::string> link = FirstLinkBelow(opened.get(), key, 0);
    if (!link) {
        return std::nullopt;
    }
    if (*link == "?") {
        return std::string("a subkey cannot be examined");
    }
    return "the key is or holds a registry link (" + *link + ")";
}

}  // namespace OrvaneClient
