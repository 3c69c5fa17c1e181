#pragma once

#include "core/windows/Win32Api.h"

#include <optional>
#include <string>

namespace OrvaneClient {

// Where the object a handle holds really is: its normalized final path (UTF-8), on its drive
// ("C:\Games\Mine") when it has one, a path in another form ("\\?\UNC\...") as it comes. Empty
// when it cannot be had; the last error is then that of GetFinalPathNameByHandleW (unchanged
// when the path outgrew the size the call first asked for).
std::optional<std::string> FinalPathOf(HANDLE object);

}  // namespace OrvaneClient
