#pragma once

// The emulated registry: the hives HKEY_LOCAL_MACHINE and HKEY_USERS, keys compared without
// regard to case (subkeys kept in that order, as Windows enumerates them) and values in the order
// they were created. Keys are shared with the handles open on them; a deleted key stays marked so
// that such a handle fails with ERROR_KEY_DELETED. Results are Win32 error codes. Thread-safe.

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>
#include <windows.h>

namespace Win32Emu {

struct RegistryValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct RegistryKeyNode {
    std::string name;
    std::weak_ptr<RegistryKeyNode> parent;
    bool deleted = false;
    std::vector<std::shared_ptr<RegistryKeyNode>> subKeys;
    std::vector<std::pair<std::string, RegistryValue>> values;
    // A registry link (created with REG_OPTION_CREATE_LINK): the key its name leads to.
    bool isLink = false;
    int linkHive = 0;  // Hive
    std::vector<std::string> linkTarget;
};

using RegistryKeyPtr = std::shared_ptr<RegistryKeyNode>;

enum class Hive { LocalMachine, Users };

class RegistryModel {
public:
    struct KeyInfo {
        DWORD subKeys = 0;
        DWORD maxSubKeyLength = 0;  // characters, without the terminating zero
        DWORD values = 0;
        DWORD maxValueNameLength = 0;  // characters, without the terminating zero
        DWORD maxValueLength = 0;      // bytes
    };

    RegistryModel();

    // Empties both hives; keys open before stay marked deleted.
    void clear();
    RegistryKeyPtr hive(Hive hive) const;

    // ERROR_SUCCESS with `key` set, ERROR_FILE_NOT_FOUND (a missing key, unless `create`), or
    // ERROR_KEY_DELETED for a deleted `base`. `created` tells whether the last key was new.
    // Links on the way are followed; the last one too unless `openLink`. A link whose target is
    // missing: ERROR_FILE_NOT_FOUND.
    LONG openKey(const RegistryKeyPtr& base,
                 const std::vector<std::string>& path,
                 bool create,
                 RegistryKeyPtr& key,
                 bool* created = nullptr,
                 bool openLink = false);
    // Makes `key` a link to `target` in `hive`.
    void makeLink(const RegistryKeyPtr& key, Hive hive, const std::vector<std::string>& target);
    // Deletes the key at `path` below `base` (`base` itself for an empty path). A key with subkeys
    // fails with ERROR_ACCESS_DENIED unless `withSubKeys`; so does a hive's root.
    LONG deleteKey(const RegistryKeyPtr& base,
                   const std::vector<std::string>& path,
                   bool withSubKeys);

    LONG queryValue(const RegistryKeyPtr& key, const std::string& name, RegistryValue& value) const;
    LONG setValue(const RegistryKeyPtr& key, const std::string& name, RegistryValue value);
    // ERROR_NO_MORE_ITEMS past the end.
    LONG subKeyAt(const RegistryKeyPtr& key, DWORD index, std::string& name) const;
    LONG valueAt(const RegistryKeyPtr& key,
                 DWORD index,
                 std::string& name,
                 RegistryValue& value) const;
    LONG info(const RegistryKeyPtr& key, KeyInfo& info) const;

    // "A\B\C" -> {A, B, C}; empty components (doubled or trailing backslashes) are dropped.
    static std::vector<std::string> splitPath(const std::string& path);
    // HKEY_LOCAL_MACHINE\SOFTWARE\X as a 32-bit process sees it: SOFTWARE\WOW6432Node\X.
    static void redirectTo32BitView(Hive hive, std::vector<std::string>& path);

private:
    static void markDeleted(const RegistryKeyPtr& key);
    // The key a link leads to, or null when it is missing; `lock` held.
    RegistryKeyPtr linkTargetLocked(const RegistryKeyNode& link) const;

    mutable std::mutex lock;
    RegistryKeyPtr localMachine;
    RegistryKeyPtr users;
};

}  // namespace Win32Emu
