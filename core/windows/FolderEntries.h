#pragma once

// A folder's entries through the handle that holds it, each opened relative to that handle: the
// way down a tree that no name planted meanwhile can redirect.

#include "core/windows/ScopedHandle.h"
#include "core/windows/Win32Api.h"

#include <string>
#include <vector>

namespace OrvaneClient {

struct FolderEntry {
    std::wstring name;
    bool directory = false;
};

// The entries of the folder held by `folder` (opened with FILE_LIST_DIRECTORY), "." and ".."
// left out. False with the last error set.
bool ListFolderEntries(HANDLE folder, std::vector<FolderEntry>& entries);

// Opens the entry `name` of the folder held by `folder` as itself: a link as the link, a
// placeholder or compressed file neither recalled nor decompressed. Shared with readers and
// writers but not with deletion, so that while it is held it is neither removed nor renamed.
// The status NtCreateFile gave; on success `opened` holds the entry.
NTSTATUS OpenFolderEntry(HANDLE folder,
                         const std::wstring& name,
                         ACCESS_MASK access,
                         ScopedHandle& opened);

}  // namespace OrvaneClient
