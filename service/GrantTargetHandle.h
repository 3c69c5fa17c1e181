#pragma once

// A directory held by a handle from the check to the grant, so that the rules and the grant see
// the same folder whatever its name comes to lead to meanwhile.

#include "core/windows/FinalPath.h"
#include "core/windows/ScopedHandle.h"

#include <optional>
#include <string>

namespace OrvaneClient {

// Opens `path` (UTF-8) for reading and writing its access list and listing what it holds: the
// link itself when it is one, shared with readers and writers but not with deletion, so that it
// can be neither removed nor renamed while held. Empty, with the last error, when it cannot be
// opened.
ScopedHandle OpenGrantDirectory(const std::string& path);

// Why the object the handle holds must not be granted: it is a link, or not a directory.
std::optional<std::string> HeldObjectRefusal(HANDLE folder);

}  // namespace OrvaneClient
