#pragma once

// SIDs between their text form ("S-1-5-21-...") and Windows' binary layout.

#include <string>
#include <vector>
#include <windows.h>

namespace Win32Emu {

// The binary SID that `text` names, or empty when it is not a SID (revision 1, an authority
// below 2^48, at most 15 sub-authorities that fit in 32 bits each).
std::vector<BYTE> SidFromText(const std::string& text);
// The text form of a valid SID, as ConvertSidToStringSidA writes it: the authority in decimal
// below 2^32, else as 0x and twelve hex digits.
std::string SidToText(const SID* sid);
// A SID of revision 1 with at most 15 sub-authorities (null is not one).
bool IsValidSidLayout(const void* sid);
// The bytes a SID takes, read from its count without checking it, as Windows reads it.
DWORD SidByteLength(const void* sid);

}  // namespace Win32Emu
