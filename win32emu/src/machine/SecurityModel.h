#pragma once

// Owners, groups and access lists of files and registry keys, the reparse points and hard links
// of the drives. An object stores what Windows stores: its explicit entries and the inherited
// ones written into it when it was created or when a list above it was set through a call that
// propagates. An object the machine has never written (a file a test made on the host) holds
// what its parent gives until it is first written or its parent's list is set without
// propagation, when it keeps what it held. Thread-safe; takes the registry's lock after its own,
// never the other way.

#include "Win32Emu/MachineTypes.h"
#include "machine/RegistryModel.h"

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
    bool hasEntries = false;  // false: no explicit entries were set (the default list below)
    // The inherited entries written into it; until `inheritanceStored`, what its parent gives.
    std::vector<AccessEntry> inheritedEntries;
    bool inheritanceStored = false;
    bool autoInherited = true;  // SE_DACL_AUTO_INHERITED
    bool container = true;
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
    // ERROR_PATH_NOT_FOUND (a missing folder on the way), ERROR_UNTRUSTED_MOUNT_POINT (a junction
    // a non-administrator made, while the process enforces redirection trust) or
    // ERROR_INVALID_NAME otherwise.
    // With `followLast` false a reparse point named last is the object itself. The first `held`
    // components name a folder held open: the path is looked up inside that folder, wherever
    // its name now leads.
    SecurableObject resolveFile(const std::string& windowsPath,
                                bool followLast = true,
                                size_t held = 0) const;
    // `path` below the hive's root, already in the view wanted.
    SecurableObject resolveKey(Hive hive, const std::vector<std::string>& path) const;

    ObjectSecurity stored(const SecurableObject& object) const;
    // Stores the security as given (inherited entries included), nothing propagated.
    void store(const SecurableObject& object, const ObjectSecurity& security);
    // Stores the explicit part given, the inherited entries the parent gives (none when
    // protected), and writes what each object below inherits from it, as the propagating calls
    // do: hard-linked files reached through a name below it included.
    void storeAndPropagate(const SecurableObject& object, ObjectSecurity security);
    // Writes into each object what it inherits now, unless it holds inherited entries already:
    // a new object, or the children of one whose list is about to be set without propagation.
    void freeze(const std::vector<SecurableObject>& objects);
    // The whole list: explicit entries, then the inherited ones (none when protected).
    std::vector<AccessEntry> effectiveEntries(const SecurableObject& object) const;

    // `byAdministrator`: made with a token of an enabled Administrators member (elevated).
    void setReparsePoint(const std::string& windowsPath,
                         const std::string& target,
                         bool junction,
                         bool byAdministrator);
    // The emulated process's ProcessRedirectionTrustPolicy flags (0 after clear()). While
    // EnforceRedirectionTrust is set, no path is resolved through a junction that a
    // non-administrator made.
    void setRedirectionTrust(DWORD flags);
    DWORD redirectionTrust() const;
    // A reparse tag on a file or folder that is not a link (WOF, dedup, cloud files): the object
    // stays what it is.
    void setReparseTag(const std::string& windowsPath, DWORD tag);
    // The reparse tag of a path (not resolved through its last component), 0 for none.
    DWORD reparseTag(const std::string& windowsPath, size_t held = 0) const;
    // The same, for name surrogates (junctions, symbolic links) only.
    DWORD linkTag(const std::string& windowsPath, size_t held = 0) const;
    // `name` becomes another name of the file at `existing` (a resolved path).
    void setHardLink(const std::string& name, const std::vector<std::string>& existing);
    // The other names of a resolved file, as they were set.
    std::vector<std::string> otherNames(const std::vector<std::string>& file) const;
    // The tags that are not links directly inside a resolved folder, by upper-case name.
    std::vector<std::pair<std::string, DWORD>> tagsIn(const std::vector<std::string>& folder) const;
    // The hard-link names directly inside a resolved folder, as set.
    std::vector<std::string> hardLinksIn(const std::vector<std::string>& folder) const;
    // The volume's id of a resolved path (given on first asking), and back.
    LONGLONG fileId(const std::vector<std::string>& components);
    std::optional<std::vector<std::string>> pathOfId(LONGLONG id) const;
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
        bool byAdministrator = true;
        std::string spelling;  // the path as it was set
    };

    struct HardLink {
        std::vector<std::string> file;  // the file's first name, resolved
        std::string spelling;           // this name as it was set
    };

    static std::string fileKey(const std::vector<std::string>& components);
    std::vector<AccessEntry> effectiveLocked(const SecurableObject& object) const;
    std::vector<AccessEntry> inheritedLocked(const SecurableObject& object,
                                             const ObjectSecurity& security) const;
    SecurableObject parentOf(const SecurableObject& object) const;
    void propagateLocked(const SecurableObject& object);
    // None when the path cannot be reached; `error` then says why, when it is not the name.
    std::optional<std::vector<std::string>> resolveComponents(const std::string& path,
                                                              size_t held = 0,
                                                              DWORD* error = nullptr) const;

    mutable std::mutex lock;
    std::map<std::string, ObjectSecurity> files;  // by upper-case path
    std::map<std::weak_ptr<RegistryKeyNode>, ObjectSecurity, std::owner_less<>> keys;
    std::map<std::string, ReparsePoint> reparsePoints;  // by upper-case path
    std::map<std::string, DWORD> tags;                  // by upper-case path
    std::map<std::string, HardLink> hardLinks;          // by the name's upper-case path
    std::map<std::string, LONGLONG> ids;                // by upper-case path
    std::map<LONGLONG, std::vector<std::string>> paths;
    std::vector<AccessChange> recorded;
    DWORD redirectionTrustFlags = 0;
};

// Components back to a path: {"C:"} -> "C:\", {"C:", "A"} -> "C:\A".
std::string DrivePathOf(const std::vector<std::string>& components);
// Upper-case components of "X:\a\..\b" with "." and ".." resolved; none for any other form.
std::optional<std::vector<std::string>> SplitDrivePath(const std::string& windowsPath);
// The rights an object's generic rights stand for.
ACCESS_MASK MapGenericRights(ACCESS_MASK mask, bool isKey);

}  // namespace Win32Emu
