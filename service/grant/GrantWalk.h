#pragma once

// The grant's own propagation: one pass from a folder (or key) held open down to its last
// child, each child opened relative to its parent's handle as itself, judged on that handle and
// its list written on that handle alone, so that nothing planted meanwhile is followed or
// written through. The caller writes the top's own list afterwards.

#include "core/windows/Win32Api.h"

#include <string>

namespace OrvaneClient {

// ERROR_SUCCESS, or the Win32 error that stopped the walk with why, for the refusal line.
// Nothing below is written after the walk stops; what it wrote before stays.
struct WalkOutcome {
    DWORD error = ERROR_SUCCESS;
    std::string refusal;
};

// Writes into everything below `top` (held with FILE_LIST_DIRECTORY) what it inherits from
// `topAcl`, the folder's new list: each child keeps its own entries and gets its inherited ones
// anew, auto-inherited. Children with a protected list, and what lies below them, are left as
// they are. Junctions and symbolic links refuse; other reparse points (WOF, dedup, cloud files,
// execution aliases) are files like others, never recalled. A file with several hard links is
// written only when all its names lie inside the folder. `topPath` (UTF-8) names the folder in
// refusals.
WalkOutcome GrantFolderTree(HANDLE top, const ACL* topAcl, const std::string& topPath);

// The same below the key `top` (opened as itself): each subkey opened with REG_OPTION_OPEN_LINK
// relative to its parent; a registry link refuses. `topName` is the key's
// "HKEY_LOCAL_MACHINE\..." name.
WalkOutcome GrantKeyTree(HKEY top, const ACL* topAcl, const std::string& topName);

// Whether the key, opened as itself, is a registry link.
bool IsRegistryLink(HKEY key);

}  // namespace OrvaneClient
