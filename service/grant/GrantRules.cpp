#include "service/grant/GrantRules.h"

#include "service/grant/PathForms.h"

#include <Poco/UTF8String.h>

#include <algorithm>

namespace OrvaneClient {
namespace {

using Components = std::vector<std::string>;

bool StartsWith(const Components& path, const Components& prefix) {
    return !prefix.empty() && path.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), path.begin());
}

bool SameOrInside(const Components& path, const std::string& location) {
    return StartsWith(path, UpperComponents(location));
}

bool SameOrContains(const Components& path, const std::string& location) {
    return StartsWith(UpperComponents(location), path);
}

bool Same(const Components& path, const std::string& location) {
    return path == UpperComponents(location);
}

// Splits a requested path into upper-case components for the rules and its canonical spelling,
// or says why its form is refused.
std::optional<std::string> FormRefusal(const std::string& directory,
                                       Components& components,
                                       std::string& canonical) {
    if (std::optional<std::string> form = LocalPathFormRefusal(directory)) {
        return "the path " + *form;
    }
    if (!IsDrivePath(directory)) {
        return std::string("the path is not absolute");
    }
    components.push_back(Poco::UTF8::toUpper(directory.substr(0, 2)));
    canonical = components.front();
    std::string rest = directory.substr(3);
    // One trailing separator is how folders are often written; more would be doubled.
    if (!rest.empty() && IsPathSeparator(rest.back())) {
        rest.pop_back();
    }
    if (rest.empty()) {
        return std::string("the path is a drive root");
    }
    std::string name;
    for (size_t i = 0; i <= rest.size(); ++i) {
        if (i == rest.size() || IsPathSeparator(rest[i])) {
            if (!IsCanonicalName(name)) {
                return std::string("the path is not in canonical form");
            }
            components.push_back(Poco::UTF8::toUpper(name));
            canonical += "\\" + name;
            name.clear();
        } else {
            name += rest[i];
        }
    }
    return std::nullopt;
}

// The first `count` components as a path; names compare without regard to case on Windows.
std::string Joined(const Components& components, size_t count) {
    std::string path = components[0] + "\\";
    for (size_t i = 1; i < count; ++i) {
        path += (i == 1 ? "" : "\\") + components[i];
    }
    return path;
}

std::optional<std::string> LocationRefusal(const Components& path,
                                           const ProtectedLocations& locations) {
    if (SameOrInside(path, locations.windowsDirectory)) {
        return std::string("the Windows directory or a folder inside it");
    }
    if (SameOrInside(path, locations.installDirectory) ||
        SameOrContains(path, locations.installDirectory)) {
        return std::string("the service's install directory, a folder inside it or one holding it");
    }
    for (const std::string& programFiles : locations.programFilesDirectories) {
        if (Same(path, programFiles)) {
            return std::string("a Program Files folder");
        }
    }
    if (Same(path, locations.commonAppDataDirectory)) {
        return std::string("the common application data folder");
    }
    const bool ownProfile =
        !locations.ownProfileDirectory.empty() && SameOrInside(path, locations.ownProfileDirectory);
    if (SameOrInside(path, locations.profilesDirectory) && !ownProfile) {
        return std::string("the profiles folder or the profile of another user");
    }
    for (const std::string& image : locations.serviceImageDirectories) {
        if (SameOrContains(path, image)) {
            return std::string("a folder that holds an installed service or driver");
        }
    }
    if (SameOrInside(path, locations.clientDataDirectory)) {
        return std::string("the client's data folder or a folder inside it");
    }
    // A root's grant would reach every user's future installs, and whatever holds a root holds
    // them too: only folders strictly inside one.
    const std::vector<std::string>& roots = locations.libraryRoots;
    if (std::any_of(roots.begin(), roots.end(), [&](const std::string& root) {
            return SameOrContains(path, root);
        })) {
        return std::string("a library root itself");
    }
    // Fail closed: only what an administrator listed, and the user's own profile.
    const bool inRoot = std::any_of(roots.begin(), roots.end(), [&](const std::string& root) {
        return SameOrInside(path, root);
    });
    if (!inRoot && !ownProfile) {
        return std::string("outside the library roots and the user's profile");
    }
    return std::nullopt;
}

std::optional<std::string> LinkRefusal(const Components& path, const PathProbe& probe) {
    for (size_t count = 2; count <= path.size(); ++count) {
        const PathState state = probe(Joined(path, count));
        if (state == PathState::Missing) {
            break;
        }
        if (state == PathState::ReparsePoint) {
            return std::string("a folder on the path is a junction or symbolic link");
        }
        if (state == PathState::Unknown) {
            return std::string("a folder on the path cannot be examined");
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> RegistryKeyRefusal(const std::string& key) {
    const std::string prefix(LocalMachineKeyPrefix);
    if (key.compare(0, prefix.size(), prefix) != 0) {
        return std::string("the key is not one of the machine's");
    }
    return std::nullopt;
}

GrantVerdict JudgeGrant(const std::string& directory,
                        const ProtectedLocations& locations,
                        const PathProbe& probe) {
    GrantVerdict verdict;
    Components path;
    std::string canonical;
    verdict.refusal = FormRefusal(directory, path, canonical);
    if (!verdict.refusal) {
        verdict.refusal = LocationRefusal(path, locations);
    }
    if (!verdict.refusal) {
        verdict.refusal = LinkRefusal(path, probe);
    }
    if (!verdict.refusal) {
        verdict.approvedPath = canonical;
    }
    return verdict;
}

}  // namespace OrvaneClient
