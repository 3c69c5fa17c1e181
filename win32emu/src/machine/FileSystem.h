#pragma once

// The files of the emulated machine: the host's under the drive map, plus the files the machine
// lists (Machine::setFile) with their marks. Shared by CreateFileW and CreateProcessAsUserW.

#include "Win32Emu/MachineTypes.h"
#include "machine/KernelObject.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace Win32Emu {

struct ObjectSecurity;

// `path` as a full Windows path ("C:\Games\run.exe"): '/' as '\', a relative path against the
// process's current directory, a rooted one ("\x") on its drive, "." and ".." resolved (never
// above the drive's root), the drive letter in capitals, no trailing separator but the root's.
// Empty for forms that are not emulated: empty text, UNC and device paths, "C:relative".
std::optional<std::string> FullWindowsPath(const std::string& path);

enum class PathKind {
    File,
    Directory,
    Missing,        // its folder exists: ERROR_FILE_NOT_FOUND
    MissingFolder,  // its folder does not: ERROR_PATH_NOT_FOUND
};

struct PathLookup {
    PathKind kind = PathKind::Missing;
    FileEntry marks;  // a listed file's
};

// What a full path (FullWindowsPath) names now.
PathLookup LookUpPath(const std::string& fullPath);

// An open file or directory: the object it reached (through links, unless opened as the link),
// the key its path is compared by, and what it lets others do.
class FileObject : public KernelObject {
public:
    FileObject(std::string key, DWORD shareMode) : key(std::move(key)), shareMode(shareMode) {}
    const char* typeName() const override { return "File"; }

    const std::string key;  // the full path in lower case
    const DWORD shareMode;
    std::vector<std::string> components;  // the object's resolved path, upper case
    std::string finalPath;                // that path as the file system spells it
    bool directory = false;
    DWORD reparseTag = 0;  // opened as the link itself, or a tag that is not a link
    FileEntry marks;
    // A folder's listing by handle (GetFileInformationByHandleEx), taken at its first asking.
    std::vector<WIN32_FIND_DATAW> listing;
    bool listed = false;
    size_t nextEntry = 0;
};

// Whether an open handle to the same file keeps an open with `access` and `shareMode` out:
// either side refusing to share what the other does, for reading data and for deleting.
bool SharingConflict(const std::string& key, ACCESS_MASK access, DWORD shareMode);

// A directory listing that FindFirstFileExW took, handed out entry by entry.
class FindObject : public KernelObject {
public:
    const char* typeName() const override { return "Find"; }

    std::vector<WIN32_FIND_DATAW> entries;
    size_t next = 0;
};

// The spelling of a resolved path: the host's, a link's or a listed file's, else as given.
// `hint` (may be empty) is the same path in a caller's case, which the host finds at once.
std::string SpelledPath(const std::vector<std::string>& components, const std::string& hint);

// A directory entry as FindFirstFileExW hands it out (dwReserved0: the reparse tag).
WIN32_FIND_DATAW FindEntry(const std::string& name, DWORD attributes, DWORD tag);
// Everything directly inside the resolved folder, by upper-case name: the host's entries, the
// files the machine lists, other names of hard-linked files, reparse points and tags.
std::map<std::string, WIN32_FIND_DATAW> FolderListing(const std::vector<std::string>& folder);

// The key of a full path: Windows compares paths without regard to case.
std::string PathKey(const std::string& fullPath);

// A new folder at a full path (FullWindowsPath), as CreateDirectoryW makes it: the folders on
// the way followed, the name itself never; with `security` its owner, group and list, else what
// it inherits. ERROR_SUCCESS, else the error CreateDirectoryW gives.
DWORD CreateFolder(const std::string& fullPath, const ObjectSecurity* security);
// Creates each missing folder of a full path (FullWindowsPath) as CreateDirectoryW would, with
// what it inherits; ERROR_SUCCESS when they all exist after, else the first folder's error.
DWORD CreateFolderPath(const std::string& fullPath);

}  // namespace Win32Emu
