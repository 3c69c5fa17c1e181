#pragma once

// Joining Windows paths, the same on every platform (Poco::Path in Windows notation).

#include <string>

namespace OrvaneClient {

// `directory` made a directory (a last component read as a file name becomes the last
// directory), followed by the directories and file name of `relative`, whose drive or root is
// ignored. Both accept \ and / as separators; the result uses backslashes and ends in the file
// name when `relative` has one ("C:\a" + "b\c.txt" -> "C:\a\b\c.txt"; "C:\ProgramData\" +
// "OrvaneClient" -> "C:\ProgramData\OrvaneClient"). Poco::PathSyntaxException for a path that
// is no Windows path ("C:foo").
std::string JoinPath(const std::string& directory, const std::string& relative);

}  // namespace OrvaneClient
