#pragma once

#include <string>

namespace OrvaneClient {

// Whether `path` (UTF-8) can be opened for reading with no sharing at all: false when the file
// does not exist, the process may not read it, or another handle to it is open anywhere
// (ERROR_SHARING_VIOLATION). The handle is closed at once; nothing is logged and nothing changes.
// The last error is that of CreateFileW after a failure.
bool CanOpenFileExclusively(const std::string& path);

}  // namespace OrvaneClient
