#pragma once

// A one-line description of the running Windows, for the log:
//   Microsoft Windows 7 Professional Service Pack 1 (build 7601), 64-bit
// built from GetVersionExA, the native processor architecture, the product type (version 6)
// and SM_SERVERR2. Callable from any thread.

#include "core/windows/Win32Api.h"

#include <cstddef>
#include <string>

namespace OrvaneClient {

// The description; never fails. When TryGetWindowsVersionName fails, logs "Failed to get
// Windows version name" at error level and returns "Unknown Windows".
std::string GetWindowsVersionName();

// Writes the description, zero-terminated, into `buffer` of `size` bytes and returns true.
// Returns false and leaves the buffer alone when GetVersionExA fails, when the system is not a
// Windows NT system of version 5 or later, or when the text does not fit into `size` bytes.
bool TryGetWindowsVersionName(char* buffer, size_t size);

// True on Windows XP Service Pack 3 or later (5.2 SP3 or later for a WOW64 process), as
// VerifyVersionInfoA answers.
bool IsXpSp3OrLater();

// Whether the system's version is at least major.minor (GetVersionExA); `whenUnknown` when the
// version cannot be read. The one place that tests the version.
bool VersionAtLeast(DWORD major, DWORD minor, bool whenUnknown);

}  // namespace OrvaneClient
