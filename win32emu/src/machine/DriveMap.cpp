#include "machine/DriveMap.h"

#include <Poco/DirectoryIterator.h>
#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/Path.h>
#include <Poco/UTF8String.h>

#include <cctype>
#include <vector>

namespace Win32Emu {

namespace {

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

// The name of the entry in `directory` that matches `name`: itself when it exists or nothing
// matches, else the first entry equal to it without regard to case.
std::string hostSpelling(const std::string& directory, const std::string& name) {
    try {
        if (Poco::File(directory + "/" + name).exists()) {
            return name;
        }
        for (Poco::DirectoryIterator entry(directory), end; entry != end; ++entry) {
            if (Poco::UTF8::icompare(entry.name(), name) == 0) {
                return entry.name();
            }
        }
    } catch (const Poco::Exception&) {
        // A directory that does not exist (yet) or cannot be read: keep the name as given.
    }
    return name;
}

}  // namespace

std::vector<std::string> DriveComponents(const std::string& drivePath) {
    std::vector<std::string> components;
    std::string component;
    const auto endComponent = [&] {
        if (component == "..") {
            if (!components.empty()) {
                components.pop_back();
            }
        } else if (!component.empty() && component != ".") {
            components.push_back(component);
        }
        component.clear();
    };
    for (size_t i = 2; i < drivePath.size(); ++i) {
        if (isSeparator(drivePath[i])) {
            endComponent();
        } else {
            component += drivePath[i];
        }
    }
    endComponent();
    return components;
}

void DriveMap::setRoot(const std::string& hostDirectory) {
    std::string absolute = Poco::Path(hostDirectory).absolute().toString(Poco::Path::PATH_UNIX);
    while (absolute.size() > 1 && absolute.back() == '/') {
        absolute.pop_back();
    }
    std::lock_guard<std::mutex> guard(lock);
    hostRoot = absolute;
}

std::string DriveMap::root() const {
    std::lock_guard<std::mutex> guard(lock);
    return hostRoot;
}

std::string DriveMap::hostPath(const std::string& windowsPath) const {
    const bool onDrive =
        windowsPath.size() >= 2 && std::isalpha(static_cast<unsigned char>(windowsPath[0])) &&
        windowsPath[1] == ':' && (windowsPath.size() == 2 || isSeparator(windowsPath[2]));
    if (!onDrive) {
        return windowsPath;
    }

    const std::vector<std::string> components = DriveComponents(windowsPath);

    std::string result =
        root() + "/" + static_cast<char>(std::toupper(static_cast<unsigned char>(windowsPath[0])));
    for (const std::string& name : components) {
        result += "/" + hostSpelling(result, name);
    }
    return result;
}

}  // namespace Win32Emu
