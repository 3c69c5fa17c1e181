#pragma once

// The forms of a path that a request may name, for every operation that touches a file as
// LocalSystem: nothing that leaves the machine or opens a device, and no stream.

#include <optional>
#include <string>
#include <vector>

namespace OrvaneClient {

bool IsPathSeparator(char c);
// "X:\..." (either separator): absolute on a drive.
bool IsDrivePath(const std::string& path);

// What makes `path` no local file path, to follow "the path" or another subject ("is a UNC
// path"), or none: UNC paths ("\\server\share", "\\?\UNC\..."), device and namespace paths
// ("\\.\pipe\x", "\\?\C:\x"), and names holding a stream ("run.exe:payload"; a drive's
// colon is no stream). Relative paths are local. Touching such a path as LocalSystem would
// authenticate the machine to another host, or hand its identity to a pipe server.
std::optional<std::string> NonLocalPathForm(const std::string& path);

// Whether Windows reads `name` as the name it spells: not "." or "..", no trailing dot or space
// (which it strips), no short 8.3 alias ("PROGRA~2"), wildcard, stream or control character.
bool IsCanonicalName(const std::string& name);

// "C:\a\b" -> {"C:", "A", "B"} in upper case, for comparing as Windows compares names. Lenient:
// for the machine's own locations, which are trusted to be canonical. Empty for no drive path.
std::vector<std::string> UpperComponents(const std::string& path);

}  // namespace OrvaneClient
