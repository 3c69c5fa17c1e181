#pragma once

// Drive letters onto host directories: drive X: is the directory <root>/X. Thread-safe.

#include <mutex>
#include <string>
#include <vector>

namespace Win32Emu {

// The components of a path on a drive (X:\a\.\b\..\c, either separator) after the drive,
// with "." dropped and ".." taking one back, never above the drive's root: {"a", "c"}.
std::vector<std::string> DriveComponents(const std::string& drivePath);

class DriveMap {
public:
    void setRoot(const std::string& hostDirectory);
    std::string root() const;

    // X:\a\b (or X:/a/b, or X:) -> <root>/X/a/b. "." and ".." are resolved as Windows resolves
    // them, never above the drive's root, so no Windows path reaches outside its drive. Each
    // component takes the spelling of an existing host entry that matches it without regard to
    // case, as Windows names are case-insensitive. Any other path comes back unchanged.
    std::string hostPath(const std::string& windowsPath) const;

private:
    mutable std::mutex lock;
    std::string hostRoot;
};

}  // namespace Win32Emu
