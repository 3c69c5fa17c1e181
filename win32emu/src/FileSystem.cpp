#include "FileSystem.h"

#include "ApiSupport.h"
#include "MachineModel.h"

#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/UTF8String.h>

#include <algorithm>
#include <cctype>
#include <vector>

namespace Win32Emu {

namespace {

bool hasDrive(const std::string& path) {
    return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

enum class HostKind { None, File, Directory };

HostKind hostKind(const std::string& fullPath) {
    try {
        const Poco::File file(Model().drives.hostPath(fullPath));
        if (!file.exists()) {
            return HostKind::None;
        }
        return file.isDirectory() ? HostKind::Directory : HostKind::File;
    } catch (const Poco::Exception&) {
        // Whatever the host cannot tell (a dangling link, no permission) does not exist here.
        return HostKind::None;
    }
}

// Whether a listed file lies somewhere below the directory `key`.
bool listsBelow(const Configuration& configuration, const std::string& key) {
    const std::string prefix = key.back() == '\\' ? key : key + "\\";
    const auto next = configuration.files.lower_bound(prefix);
    return next != configuration.files.end() && next->first.compare(0, prefix.size(), prefix) == 0;
}

bool isDirectory(const std::string& fullPath) {
    if (hostKind(fullPath) == HostKind::Directory) {
        return true;
    }
    MachineModel& model = Model();
    std::lock_guard<std::mutex> guard(model.lock);
    return listsBelow(model.configuration, PathKey(fullPath));
}

}  // namespace

std::string PathKey(const std::string& fullPath) {
    return Poco::UTF8::toLower(fullPath);
}

std::optional<std::string> FullWindowsPath(const std::string& text) {
    std::string path = text;
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    if (path.empty() || path.compare(0, 2, "\\\\") == 0) {
        return std::nullopt;
    }
    if (hasDrive(path)) {
        if (path.size() == 2 || path[2] != '\\') {
            return std::nullopt;
        }
    } else {
        std::wstring current;
        {
            std::lock_guard<std::mutex> guard(Model().lock);
            current = Model().configuration.currentDirectory;
        }
        const std::string directory = ToUtf8(current);
        if (!hasDrive(directory)) {
            return std::nullopt;
        }
        path = path[0] == '\\' ? directory.substr(0, 2) + path : directory + "\\" + path;
    }

    const std::vector<std::string> components = DriveComponents(path);

    std::string full(1, static_cast<char>(std::toupper(static_cast<unsigned char>(path[0]))));
    full += ":";
    for (const std::string& name : components) {
        full += "\\" + name;
    }
    return components.empty() ? full + "\\" : full;
}

PathLookup LookUpPath(const std::string& fullPath) {
    PathLookup lookup;
    {
        MachineModel& model = Model();
        std::lock_guard<std::mutex> guard(model.lock);
        const auto listed = model.configuration.files.find(PathKey(fullPath));
        if (listed != model.configuration.files.end()) {
            lookup.kind = PathKind::File;
            lookup.marks = listed->second.entry;
            return lookup;
        }
    }
    if (isDirectory(fullPath)) {
        lookup.kind = PathKind::Directory;
        return lookup;
    }
    if (hostKind(fullPath) == HostKind::File) {
        lookup.kind = PathKind::File;
        return lookup;
    }
    const std::string::size_type last = fullPath.find_last_of('\\');
    const bool atRoot = last == 2 && fullPath.size() == 3;  // "C:\" itself
    const std::string parent = fullPath.substr(0, last == 2 ? 3 : last);
    lookup.kind = !atRoot && isDirectory(parent) ? PathKind::Missing : PathKind::MissingFolder;
    return lookup;
}

std::string SpelledPath(const std::vector<std::string>& components, const std::string& hint) {
    const std::string upper = DrivePathOf(components);
    if (components.size() < 2) {
        return upper;
    }
    MachineModel& model = Model();
    const std::string& lookup = hint.empty() ? upper : hint;
    const std::string host = model.drives.hostPath(lookup);
    std::string spelled = upper.substr(0, 2) + host.substr(model.drives.root().size() + 2);
    std::replace(spelled.begin(), spelled.end(), '/', '\\');
    if (hostKind(lookup) != HostKind::None) {
        return spelled;
    }
    const std::string link = model.security.reparseSpelling(components);
    if (!link.empty()) {
        return link;
    }
    // A listed file at or below the path spells it as it was listed.
    std::lock_guard<std::mutex> guard(model.lock);
    const std::string key = PathKey(upper);
    const auto listed = model.configuration.files.lower_bound(key);
    if (listed != model.configuration.files.end() &&
        listed->first.compare(0, key.size(), key) == 0 &&
        (listed->first.size() == key.size() || listed->first[key.size()] == '\\') &&
        listed->second.path.size() >= key.size()) {
        return listed->second.path.substr(0, key.size());
    }
    return spelled;
}

}  // namespace Win32Emu
