#pragma once

// Owners, groups and access lists of files and registry keys, and the reparse points of the
// drives. An object stores only what was set on it (its explicit entries, its owner, whether it
// is protected); what it inherits is computed from its parent each time, so an inheritable entry
// written on a folder or key reaches every existing child at once, as Windows propagates it.
// Thread-safe; takes the registry's lock after its own, never the other way.

#include "RegistryModel.h"
#include "Win32Emu/MachineTypes.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Win32Emu {

struct ObjectSecurity {
    std::string owner = "S-1-5-32-544";
    std::string group = "S-1-5-18";
    std::vector<AccessEntry> explicitEntries;
    bool isProtected = false;
    bool hasEntries = false;  // false: the object's list is what it inherits (or the default)
};

// An object resolved: a file path (upper case, components resolved through reparse points) or a
// registry key node. `error` is the code Windows gives when it cannot be reached.
struct SecurableObject {
    DWORD error = ERROR_SUCCESS;
    bool isKey = false;
    std::vector<std::string> components;  // file: drive ("C:") then names, in upper case
    RegistryKeyPtr key;
    bool container = true;
};

class SecurityModel {
public:
    void clear();

    // "C:\a\b" (or with /): reached through reparse points; ERROR_FILE_NOT_FOUND,
    // ERROR_PATH_NOT_FOUND (a missing folder on the way) or ERROR_INVALID_NAME otherwise.
    // With `followLast` false a reparse point named last is the object itself.
    SecurableObject resolveFile(const std::string& windowsPath, bool followLast = true) const;
    // `path` below the hive's root, already in the view wanted.
    SecurableObject resolveKey(Hive hive, const std::vector<std::string>& path) const;

    ObjectSecurity stored(const SecurableObject& object) const;
    void store(const SecurableObject& object, const ObjectSecurity& security);
    // The whole list: explicit entries, then the inherited ones (none when protected).
    std::vector<AccessEntry> effectiveEntries(const SecurableObject& object) const;

    void setReparsePoint(const std::string& windowsPath, const std::string& target, bool junction);
    // The reparse tag of a path (not resolved through its last component), 0 for none.
    DWORD reparseTag(const std::string& windowsPath) const;
    // The path of a reparse point as it was set, or empty when there is none at `components`.
    std::string reparseSpelling(const std::vector<std::string>& components) const;
    // The reparse points directly inside a resolved folder: name (as set) and tag.
    std::vector<std::pair<std::string, DWORD>> reparsePointsIn(
        const std::vector<std::string>& folder) const;

    void recordChange(const AccessChange& change);
    std::vector<AccessChange> changes() const;

private:
    struct ReparsePoint {
        std::vector<std::string> target;
        bool junction = true;
        std::string spelling;  // the path as it was set
    };

    static std::string fileKey(const std::vector<std::string>& components);
    std::vector<AccessEntry> effectiveLocked(const SecurableObject& object) const;
    std::optional<std::vector<std::string>> resolveComponents(const std::string& path) const;

    mutable std::mutex lock;
    std::map<std::string, ObjectSecurity> files;  // by upper-case path
    std::map<std::weak_ptr<RegistryKeyNode>, ObjectSecurity, std::owner_less<>> keys;
    std::map<std::string, ReparsePoint> reparsePoints;  // by upper-case path
    std::vector<AccessChange> recorded;
};

// Components back to a path: {"C:"} -> "C:\", {"C:", "A"} -> "C:\A".
std::string DrivePathOf(const std::vector<std::string>& components);
// Upper-case components of "X:\a\..\b" with "." and ".." resolved; none for any other form.
std::optional<std::vector<std::string>> SplitDrivePath(const std::string& windowsPath);
// The rights an object's generic rights stand for.
ACCESS_MASK MapGenericRights(ACCESS_MASK mask, bool isKey);

}  // namespace Win32Emu
