#include "machine/SecurityModel.h"

#include "machine/FileSystem.h"
#include "machine/MachineModel.h"

#include <Poco/Exception.h>
#include <Poco/UTF8String.h>

#include <algorithm>
#include <cctype>
#include <winreg.h>

namespace Win32Emu {

namespace {

constexpr const char* Administrators = "S-1-5-32-544";
constexpr const char* LocalSystem = "S-1-5-18";
constexpr const char* Users = "S-1-5-32-545";
constexpr const char* CreatorOwner = "S-1-3-0";
// More links than this on one path: Windows gives up on such a path too.
constexpr int MaxReparseHops = 31;
// PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY's EnforceRedirectionTrust bit; audit alone follows.
constexpr DWORD EnforceRedirectionTrustFlag = 0x1;

std::vector<AccessEntry> rootEntries(bool isKey) {
    const BYTE inherit = isKey ? CONTAINER_INHERIT_ACE : OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    const ACCESS_MASK all = isKey ? KEY_ALL_ACCESS : FILE_ALL_ACCESS;
    const ACCESS_MASK read = isKey ? KEY_READ : FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
    return {{true, Administrators, all, inherit},
            {true, LocalSystem, all, inherit},
            {true, Users, read, inherit}};
}

// What a child owned by `owner` inherits from its parent's list, as Windows computes it. An
// inheritable CREATOR OWNER entry becomes an entry for the child's owner where it applies, and
// stays as an inherit-only placeholder where it reaches further.
std::vector<AccessEntry> inheritedBy(const std::vector<AccessEntry>& parent,
                                     bool container,
                                     const std::string& owner) {
    std::vector<AccessEntry> inherited;
    for (AccessEntry entry : parent) {
        const BYTE flags = entry.flags;
        const bool noPropagate = (flags & NO_PROPAGATE_INHERIT_ACE) != 0;
        if (container && (flags & CONTAINER_INHERIT_ACE) != 0) {
            entry.flags = noPropagate ? 0 : flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        } else if (container && (flags & OBJECT_INHERIT_ACE) != 0 && !noPropagate) {
            // Kept for the files below, not for the folder itself.
            entry.flags = OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE;
        } else if (!container && (flags & OBJECT_INHERIT_ACE) != 0) {
            entry.flags = 0;
        } else {
            continue;
        }
        entry.flags |= INHERITED_ACE;
        if (entry.sid == CreatorOwner && (entry.flags & INHERIT_ONLY_ACE) == 0) {
            AccessEntry own = entry;
            own.sid = owner;
            own.flags = INHERITED_ACE;
            inherited.push_back(own);
            if ((entry.flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)) == 0) {
                continue;
            }
            entry.flags |= INHERIT_ONLY_ACE;
        }
        inherited.push_back(entry);
    }
    return inherited;
}

std::string joined(const std::vector<std::string>& components, size_t count) {
    std::string path;
    for (size_t i = 0; i < count; ++i) {
        path += (i == 0 ? "" : "\\") + components[i];
    }
    return count == 1 ? path + "\\" : path;
}

// Whether the path exists on the host or through the files the machine lists (whose folders
// exist with them).
// `spelled`, when given, is the same path in its caller's case: the host finds it at once.
bool exists(const std::vector<std::string>& components,
            size_t count,
            bool* directory,
            const std::string& spelled = std::string()) {
    const PathLookup lookup = LookUpPath(spelled.empty() ? joined(components, count) : spelled);
    if (lookup.kind != PathKind::File && lookup.kind != PathKind::Directory) {
        return false;
    }
    if (directory != nullptr) {
        *directory = lookup.kind == PathKind::Directory;
    }
    return true;
}

}  // namespace

std::optional<std::vector<std::string>> SplitDrivePath(const std::string& windowsPath) {
    const auto separator = [](char c) { return c == '\\' || c == '/'; };
    if (windowsPath.size() < 2 || !std::isalpha(static_cast<unsigned char>(windowsPath[0])) ||
        windowsPath[1] != ':' || (windowsPath.size() > 2 && !separator(windowsPath[2]))) {
        return std::nullopt;
    }
    std::vector<std::string> components{Poco::UTF8::toUpper(windowsPath.substr(0, 2))};
    std::string name;
    const auto endName = [&] {
        if (name == "..") {
            if (components.size() > 1) {
                components.pop_back();
            }
        } else if (!name.empty() && name != ".") {
            components.push_back(Poco::UTF8::toUpper(name));
        }
        name.clear();
    };
    for (size_t i = 2; i < windowsPath.size(); ++i) {
        if (separator(windowsPath[i])) {
            endName();
        } else {
            name += windowsPath[i];
        }
    }
    endName();
    return components;
}

ACCESS_MASK MapGenericRights(ACCESS_MASK mask, bool isKey) {
    static GENERIC_MAPPING fileMapping = {
        FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    static GENERIC_MAPPING keyMapping = {KEY_READ, KEY_WRITE, KEY_EXECUTE, KEY_ALL_ACCESS};
    DWORD mapped = mask;
    MapGenericMask(&mapped, isKey ? &keyMapping : &fileMapping);
    return mapped;
}

void SecurityModel::clear() {
    std::lock_guard<std::mutex> guard(lock);
    files.clear();
    keys.clear();
    reparsePoints.clear();
    tags.clear();
    hardLinks.clear();
    ids.clear();
    paths.clear();
    recorded.clear();
    redirectionTrustFlags = 0;
}

std::string SecurityModel::fileKey(const std::vector<std::string>& components) {
    return joined(components, components.size());
}

std::optional<std::vector<std::string>> SecurityModel::resolveComponents(const std::string& path,
                                                                         size_t held,
                                                                         DWORD* error) const {
    std::optional<std::vector<std::string>> components = SplitDrivePath(path);
    if (!components) {
        return std::nullopt;
    }
    std::lock_guard<std::mutex> guard(lock);
    for (int hops = 0; hops <= MaxReparseHops; ++hops) {
        bool redirected = false;
        // Links are looked for below what is held open, until the path has been redirected.
        const size_t first = hops == 0 ? std::max<size_t>(2, held + 1) : 2;
        for (size_t count = first; count <= components->size() && !redirected; ++count) {
            const auto found = reparsePoints.find(joined(*components, count));
            if (found != reparsePoints.end()) {
                // The mitigation refuses to cross a junction someone without admin rights made.
                const bool enforced = (redirectionTrustFlags & EnforceRedirectionTrustFlag) != 0;
                if (enforced && found->second.junction && !found->second.byAdministrator) {
                    if (error != nullptr) {
                        *error = ERROR_UNTRUSTED_MOUNT_POINT;
                    }
                    return std::nullopt;
                }
                std::vector<std::string> target = found->second.target;
                target.insert(target.end(), components->begin() + count, components->end());
                *components = target;
                redirected = true;
            }
        }
        if (!redirected) {
            // Another name of a file is that file.
            const auto link = hardLinks.find(fileKey(*components));
            if (link != hardLinks.end()) {
                *components = link->second.file;
            }
            return components;
        }
    }
    return std::nullopt;
}

std::string DrivePathOf(const std::vector<std::string>& components) {
    return joined(components, components.size());
}

std::string SecurityModel::reparseSpelling(const std::vector<std::string>& components) const {
    std::lock_guard<std::mutex> guard(lock);
    const auto found = reparsePoints.find(fileKey(components));
    return found == reparsePoints.end() ? std::string() : found->second.spelling;
}

std::vector<std::pair<std::string, DWORD>> SecurityModel::reparsePointsIn(
    const std::vector<std::string>& folder) const {
    std::vector<std::pair<std::string, DWORD>> inside;
    std::lock_guard<std::mutex> guard(lock);
    for (const auto& [path, point] : reparsePoints) {
        const std::optional<std::vector<std::string>> components = SplitDrivePath(path);
        if (components && components->size() == folder.size() + 1 &&
            std::equal(folder.begin(), folder.end(), components->begin())) {
            const std::string& spelled = point.spelling;
            inside.emplace_back(
                spelled.substr(spelled.find_last_of('\\') + 1),
                point.junction ? IO_REPARSE_TAG_MOUNT_POINT : IO_REPARSE_TAG_SYMLINK);
        }
    }
    return inside;
}

SecurableObject SecurityModel::resolveFile(const std::string& windowsPath,
                                           bool followLast,
                                           size_t held) const {
    SecurableObject object;
    if (!followLast && linkTag(windowsPath, held) != 0) {
        // The link itself: its folder resolved, its own name kept.
        const std::optional<std::vector<std::string>> split = SplitDrivePath(windowsPath);
        std::vector<std::string> parent(split->begin(), split->end() - 1);
        object.components = *resolveComponents(joined(parent, parent.size()), held);
        object.components.push_back(split->back());
        return object;
    }
    DWORD error = ERROR_INVALID_NAME;
    const std::optional<std::vector<std::string>> components =
        resolveComponents(windowsPath, held, &error);
    if (!components) {
        object.error = error;
        return object;
    }
    object.components = *components;
    bool directory = true;
    // Not redirected: the name as given is the object's, in the caller's spelling.
    const bool asGiven = SplitDrivePath(windowsPath) == components;
    if (!exists(object.components,
                object.components.size(),
                &directory,
                asGiven ? windowsPath : std::string())) {
        const bool parentExists = object.components.size() <= 1 ||
                                  exists(object.components, object.components.size() - 1, nullptr);
        object.error = parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
        return object;
    }
    object.container = directory;
    return object;
}

SecurableObject SecurityModel::resolveKey(Hive hive, const std::vector<std::string>& path) const {
    SecurableObject object;
    object.isKey = true;
    object.error = Model().registry.openKey(Model().registry.hive(hive), path, false, object.key);
    return object;
}

ObjectSecurity SecurityModel::stored(const SecurableObject& object) const {
    std::lock_guard<std::mutex> guard(lock);
    if (object.isKey) {
        const auto found = keys.find(object.key);
        return found == keys.end() ? ObjectSecurity() : found->second;
    }
    const auto found = files.find(fileKey(object.components));
    return found == files.end() ? ObjectSecurity() : found->second;
}

void SecurityModel::store(const SecurableObject& object, const ObjectSecurity& security) {
    std::lock_guard<std::mutex> guard(lock);
    ObjectSecurity& held = object.isKey ? keys[object.key] : files[fileKey(object.components)];
    held = security;
    held.container = object.container;
}

std::vector<AccessEntry> SecurityModel::effectiveEntries(const SecurableObject& object) const {
    std::lock_guard<std::mutex> guard(lock);
    return effectiveLocked(object);
}

SecurableObject SecurityModel::parentOf(const SecurableObject& object) const {
    SecurableObject parent;
    parent.isKey = object.isKey;
    if (object.isKey) {
        parent.key = object.key->parent.lock();
    } else if (!object.components.empty()) {
        parent.components.assign(object.components.begin(), object.components.end() - 1);
    }
    return parent;
}

// What the object inherits now from its parent's list; none for a root or a protected list.
std::vector<AccessEntry> SecurityModel::inheritedLocked(const SecurableObject& object,
                                                        const ObjectSecurity& security) const {
    const SecurableObject parent = parentOf(object);
    const bool isRoot = object.isKey ? !parent.key : parent.components.empty();
    if (isRoot || (security.hasEntries && security.isProtected)) {
        return {};
    }
    return inheritedBy(effectiveLocked(parent), object.container, security.owner);
}

std::vector<AccessEntry> SecurityModel::effectiveLocked(const SecurableObject& object) const {
    static const ObjectSecurity unset;
    const ObjectSecurity* security = nullptr;
    bool isRoot = false;
    if (object.isKey) {
        const auto found = keys.find(object.key);
        security = found == keys.end() ? nullptr : &found->second;
        isRoot = !object.key->parent.lock();
    } else {
        const auto found = files.find(fileKey(object.components));
        security = found == files.end() ? nullptr : &found->second;
        isRoot = object.components.size() <= 1;
    }
    if (isRoot && (security == nullptr || !security->hasEntries)) {
        return rootEntries(object.isKey);
    }
    const ObjectSecurity& held = security == nullptr ? unset : *security;
    std::vector<AccessEntry> entries =
        held.hasEntries ? held.explicitEntries : std::vector<AccessEntry>();
    if (held.hasEntries && held.isProtected && !held.inheritanceStored) {
        return entries;
    }
    const std::vector<AccessEntry> inherited =
        held.inheritanceStored ? held.inheritedEntries : inheritedLocked(object, held);
    entries.insert(entries.end(), inherited.begin(), inherited.end());
    return entries;
}

void SecurityModel::storeAndPropagate(const SecurableObject& object, ObjectSecurity security) {
    std::lock_guard<std::mutex> guard(lock);
    security.container = object.container;
    security.inheritedEntries = inheritedLocked(object, security);
    security.inheritanceStored = true;
    security.autoInherited = true;
    if (object.isKey) {
        keys[object.key] = security;
    } else {
        files[fileKey(object.components)] = security;
    }
    propagateLocked(object);
}

void SecurityModel::propagateLocked(const SecurableObject& object) {
    // Each object below, with the parent it inherits through, from the top down.
    std::vector<std::pair<size_t, std::pair<SecurableObject, SecurableObject>>> below;
    if (object.isKey) {
        for (const auto& held : keys) {
            const RegistryKeyPtr key = held.first.lock();
            if (!key) {
                continue;
            }
            size_t depth = 0;
            bool inside = false;
            for (RegistryKeyPtr up = key->parent.lock(); up; up = up->parent.lock()) {
                ++depth;
                inside = inside || up == object.key;
            }
            if (inside) {
                SecurableObject child;
                child.isKey = true;
                child.key = key;
                below.push_back({depth, {child, parentOf(child)}});
            }
        }
    } else {
        const std::string top = fileKey(object.components);
        const std::string prefix = top.back() == '\\' ? top : top + "\\";
        const auto inside = [&prefix](const std::string& path) {
            return path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0;
        };
        for (auto it = files.upper_bound(prefix);
             it != files.end() && it->first.compare(0, prefix.size(), prefix) == 0;
             ++it) {
            SecurableObject child;
            child.components = *SplitDrivePath(it->first);
            child.container = it->second.container;
            below.push_back({child.components.size(), {child, parentOf(child)}});
        }
        // A file named inside inherits through that name too, wherever its first name lies.
        for (const auto& [name, link] : hardLinks) {
            if (inside(name)) {
                SecurableObject file;
                file.components = link.file;
                file.container = false;
                SecurableObject parent;
                parent.components = *SplitDrivePath(name);
                parent.components.pop_back();
                below.push_back({parent.components.size() + 1, {file, parent}});
            }
        }
    }
    std::stable_sort(below.begin(), below.end(), [](const auto& left, const auto& right) {
        return left.first < right.first;
    });
    for (const auto& [depth, pair] : below) {
        const auto& [child, parent] = pair;
        ObjectSecurity& security = child.isKey ? keys[child.key] : files[fileKey(child.components)];
        if (security.hasEntries && security.isProtected) {
            continue;
        }
        security.inheritedEntries =
            inheritedBy(effectiveLocked(parent), security.container, security.owner);
        security.inheritanceStored = true;
    }
}

void SecurityModel::freeze(const std::vector<SecurableObject>& objects) {
    std::lock_guard<std::mutex> guard(lock);
    for (const SecurableObject& object : objects) {
        const bool isRoot =
            object.isKey ? !object.key->parent.lock() : object.components.size() <= 1;
        if (isRoot) {
            continue;
        }
        ObjectSecurity& security =
            object.isKey ? keys[object.key] : files[fileKey(object.components)];
        if (security.inheritanceStored) {
            continue;
        }
        security.container = object.container;
        security.inheritedEntries = inheritedLocked(object, security);
        security.inheritanceStored = true;
    }
}

void SecurityModel::setReparseTag(const std::string& windowsPath, DWORD tag) {
    const std::optional<std::vector<std::string>> path = SplitDrivePath(windowsPath);
    if (!path || path->size() < 2) {
        return;
    }
    std::lock_guard<std::mutex> guard(lock);
    tags[fileKey(*path)] = tag;
}

DWORD SecurityModel::linkTag(const std::string& windowsPath, size_t held) const {
    const std::optional<std::vector<std::string>> components = SplitDrivePath(windowsPath);
    if (!components || components->size() < 2) {
        return 0;
    }
    std::vector<std::string> parent(components->begin(), components->end() - 1);
    const std::optional<std::vector<std::string>> resolvedParent =
        resolveComponents(joined(parent, parent.size()), held);
    if (!resolvedParent) {
        return 0;
    }
    std::vector<std::string> path = *resolvedParent;
    path.push_back(components->back());
    std::lock_guard<std::mutex> guard(lock);
    const auto found = reparsePoints.find(fileKey(path));
    if (found == reparsePoints.end()) {
        return 0;
    }
    return found->second.junction ? IO_REPARSE_TAG_MOUNT_POINT : IO_REPARSE_TAG_SYMLINK;
}

void SecurityModel::setHardLink(const std::string& name, const std::vector<std::string>& existing) {
    const std::optional<std::vector<std::string>> path = SplitDrivePath(name);
    if (!path || path->size() < 2) {
        return;
    }
    std::string spelling = name;
    std::replace(spelling.begin(), spelling.end(), '/', '\\');
    std::lock_guard<std::mutex> guard(lock);
    hardLinks[fileKey(*path)] = HardLink{existing, spelling};
}

std::vector<std::string> SecurityModel::otherNames(const std::vector<std::string>& file) const {
    std::vector<std::string> names;
    std::lock_guard<std::mutex> guard(lock);
    for (const auto& [key, link] : hardLinks) {
        if (link.file == file) {
            names.push_back(link.spelling);
        }
    }
    return names;
}

std::vector<std::pair<std::string, DWORD>> SecurityModel::tagsIn(
    const std::vector<std::string>& folder) const {
    std::vector<std::pair<std::string, DWORD>> inside;
    std::lock_guard<std::mutex> guard(lock);
    for (const auto& [path, tag] : tags) {
        const std::optional<std::vector<std::string>> components = SplitDrivePath(path);
        if (components && components->size() == folder.size() + 1 &&
            std::equal(folder.begin(), folder.end(), components->begin())) {
            inside.emplace_back(components->back(), tag);
        }
    }
    return inside;
}

std::vector<std::string> SecurityModel::hardLinksIn(const std::vector<std::string>& folder) const {
    std::vector<std::string> names;
    std::lock_guard<std::mutex> guard(lock);
    for (const auto& [key, link] : hardLinks) {
        const std::optional<std::vector<std::string>> components = SplitDrivePath(key);
        if (components && components->size() == folder.size() + 1 &&
            std::equal(folder.begin(), folder.end(), components->begin())) {
            names.push_back(link.spelling.substr(link.spelling.find_last_of('\\') + 1));
        }
    }
    return names;
}

LONGLONG SecurityModel::fileId(const std::vector<std::string>& components) {
    std::lock_guard<std::mutex> guard(lock);
    const std::string key = fileKey(components);
    const auto found = ids.find(key);
    if (found != ids.end()) {
        return found->second;
    }
    // Ids as NTFS numbers its records: small, never reused while the machine lives.
    const LONGLONG id = 0x10000 + static_cast<LONGLONG>(ids.size());
    ids[key] = id;
    paths[id] = components;
    return id;
}

std::optional<std::vector<std::string>> SecurityModel::pathOfId(LONGLONG id) const {
    std::lock_guard<std::mutex> guard(lock);
    const auto found = paths.find(id);
    if (found == paths.end()) {
        return std::nullopt;
    }
    return found->second;
}

void SecurityModel::setReparsePoint(const std::string& windowsPath,
                                    const std::string& target,
                                    bool junction,
                                    bool byAdministrator) {
    const std::optional<std::vector<std::string>> from = SplitDrivePath(windowsPath);
    const std::optional<std::vector<std::string>> to = SplitDrivePath(target);
    if (!from || !to || from->size() < 2) {
        return;
    }
    std::lock_guard<std::mutex> guard(lock);
    std::string spelling = windowsPath;
    std::replace(spelling.begin(), spelling.end(), '/', '\\');
    if (spelling.back() == '\\') {
        spelling.pop_back();
    }
    reparsePoints[fileKey(*from)] = ReparsePoint{*to, junction, byAdministrator, spelling};
}

void SecurityModel::setRedirectionTrust(DWORD flags) {
    std::lock_guard<std::mutex> guard(lock);
    redirectionTrustFlags = flags;
}

DWORD SecurityModel::redirectionTrust() const {
    std::lock_guard<std::mutex> guard(lock);
    return redirectionTrustFlags;
}

DWORD SecurityModel::reparseTag(const std::string& windowsPath, size_t held) const {
    if (const DWORD link = linkTag(windowsPath, held)) {
        return link;
    }
    const std::optional<std::vector<std::string>> components = resolveComponents(windowsPath, held);
    if (!components) {
        return 0;
    }
    std::lock_guard<std::mutex> guard(lock);
    const auto found = tags.find(fileKey(*components));
    return found == tags.end() ? 0 : found->second;
}

void SecurityModel::recordChange(const AccessChange& change) {
    std::lock_guard<std::mutex> guard(lock);
    recorded.push_back(change);
}

std::vector<AccessChange> SecurityModel::changes() const {
    std::lock_guard<std::mutex> guard(lock);
    return recorded;
}

}  // namespace Win32Emu
