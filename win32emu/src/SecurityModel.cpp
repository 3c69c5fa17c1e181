#include "SecurityModel.h"

#include "FileSystem.h"
#include "MachineModel.h"

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
    ACCESS_MASK mapped = mask & ~(GENERIC_ALL | GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE);
    if ((mask & GENERIC_ALL) != 0) {
        mapped |= isKey ? KEY_ALL_ACCESS : FILE_ALL_ACCESS;
    }
    if ((mask & GENERIC_READ) != 0) {
        mapped |= isKey ? KEY_READ : FILE_GENERIC_READ;
    }
    if ((mask & GENERIC_WRITE) != 0) {
        mapped |= isKey ? KEY_WRITE : FILE_GENERIC_WRITE;
    }
    if ((mask & GENERIC_EXECUTE) != 0) {
        mapped |= isKey ? KEY_EXECUTE : FILE_GENERIC_EXECUTE;
    }
    return mapped;
}

void SecurityModel::clear() {
    std::lock_guard<std::mutex> guard(lock);
    files.clear();
    keys.clear();
    reparsePoints.clear();
    recorded.clear();
}

std::string SecurityModel::fileKey(const std::vector<std::string>& components) {
    return joined(components, components.size());
}

std::optional<std::vector<std::string>> SecurityModel::resolveComponents(
    const std::string& path) const {
    std::optional<std::vector<std::string>> components = SplitDrivePath(path);
    if (!components) {
        return std::nullopt;
    }
    std::lock_guard<std::mutex> guard(lock);
    for (int hops = 0; hops <= MaxReparseHops; ++hops) {
        bool redirected = false;
        for (size_t count = 2; count <= components->size() && !redirected; ++count) {
            const auto found = reparsePoints.find(joined(*components, count));
            if (found != reparsePoints.end()) {
                std::vector<std::string> target = found->second.target;
                target.insert(target.end(), components->begin() + count, components->end());
                *components = target;
                redirected = true;
            }
        }
        if (!redirected) {
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

SecurableObject SecurityModel::resolveFile(const std::string& windowsPath, bool followLast) const {
    SecurableObject object;
    if (!followLast && reparseTag(windowsPath) != 0) {
        // The link itself: its folder resolved, its own name kept.
        const std::optional<std::vector<std::string>> split = SplitDrivePath(windowsPath);
        std::vector<std::string> parent(split->begin(), split->end() - 1);
        object.components = *resolveComponents(joined(parent, parent.size()));
        object.components.push_back(split->back());
        return object;
    }
    const std::optional<std::vector<std::string>> components = resolveComponents(windowsPath);
    if (!components) {
        object.error = ERROR_INVALID_NAME;
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
    if (object.isKey) {
        keys[object.key] = security;
    } else {
        files[fileKey(object.components)] = security;
    }
}

std::vector<AccessEntry> SecurityModel::effectiveEntries(const SecurableObject& object) const {
    std::lock_guard<std::mutex> guard(lock);
    return effectiveLocked(object);
}

std::vector<AccessEntry> SecurityModel::effectiveLocked(const SecurableObject& object) const {
    static const ObjectSecurity unset;
    const ObjectSecurity* security = nullptr;
    SecurableObject parent;
    parent.isKey = object.isKey;
    bool isRoot = false;
    if (object.isKey) {
        const auto found = keys.find(object.key);
        security = found == keys.end() ? nullptr : &found->second;
        parent.key = object.key->parent.lock();
        isRoot = !parent.key;
    } else {
        const auto found = files.find(fileKey(object.components));
        security = found == files.end() ? nullptr : &found->second;
        parent.components.assign(object.components.begin(), object.components.end() - 1);
        isRoot = parent.components.empty();
    }
    const std::string& owner = (security == nullptr ? unset : *security).owner;
    if (security == nullptr || !security->hasEntries) {
        if (isRoot) {
            return rootEntries(object.isKey);
        }
        return inheritedBy(effectiveLocked(parent), object.container, owner);
    }
    std::vector<AccessEntry> entries = security->explicitEntries;
    if (!security->isProtected && !isRoot) {
        const std::vector<AccessEntry> inherited =
            inheritedBy(effectiveLocked(parent), object.container, owner);
        entries.insert(entries.end(), inherited.begin(), inherited.end());
    }
    return entries;
}

void SecurityModel::setReparsePoint(const std::string& windowsPath,
                                    const std::string& target,
                                    bool junction) {
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
    reparsePoints[fileKey(*from)] = ReparsePoint{*to, junction, spelling};
}

DWORD SecurityModel::reparseTag(const std::string& windowsPath) const {
    const std::optional<std::vector<std::string>> components = SplitDrivePath(windowsPath);
    if (!components || components->size() < 2) {
        return 0;
    }
    // The folders on the way are followed; the last component is the one asked about.
    std::vector<std::string> parent(components->begin(), components->end() - 1);
    const std::optional<std::vector<std::string>> resolvedParent =
        resolveComponents(joined(parent, parent.size()));
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

void SecurityModel::recordChange(const AccessChange& change) {
    std::lock_guard<std::mutex> guard(lock);
    recorded.push_back(change);
}

std::vector<AccessChange> SecurityModel::changes() const {
    std::lock_guard<std::mutex> guard(lock);
    return recorded;
}

}  // namespace Win32Emu
