#pragma once

// The forms of a path that a request may name, for every operation that touches a file as
// LocalSystem: a local file named by its drive, and nothing else.

#include <optional>
#include <string>
#include <vector>

namespace OrvaneClient {

bool IsPathSeparator(char c);
// "X:\..." (either separator): absolute on a drive.
bool IsDrivePath(const std::string& path);

// Why `path` is not a local file named by its drive, to follow "the path" or another subject
// ("is a UNC path"), or none. Allowed are a drive-absolute path ("C:\Games\run.exe", either
// separator) and a relative one ("system32\cmd.exe", which the caller makes absolute against
// its current directory). Everything else is refused: UNC and device paths ("\\host\share",
// "\\?\...", "\\.\pipe\x", "//host"), object-manager names ("\??\C:\x", "\Device\Mup\x"), a
// path rooted without a drive ("\x"), a drive-relative one ("C:x"), a stream ("run.exe:x") and
// a DOS device name ("NUL", "COM1.exe"). Touching such a path as LocalSystem would authenticate
// the machine to another host, or hand its identity to a pipe or device.
std::optional<std::string> LocalPathFormRefusal(const std::string& path);

// Whether Windows reads `name` as the name it spells: not "." or "..", no trailing dot or space
// (which it strips), no short 8.3 alias ("PROGRA~2"), wildcard, stream or control character.
bool IsCanonicalName(const std::string& name);

// "C:\a\b" -> {"C:", "A", "B"} in upper case, for comparing as Windows compares names. Lenient:
// for the machine's own locations, which are trusted to be canonical. Empty for no drive path.
std::vector<std::string> UpperComponents(const std::string& path);

}  // namespace OrvaneClient
