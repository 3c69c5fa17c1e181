#pragma once

// What the access-list calls share with the Machine's queries of them.

#include "SecurityModel.h"

#include <accctrl.h>
#include <string>
#include <vector>

namespace Win32Emu {

// The object a security call names: a file path (relative ones against the current directory)
// or "MACHINE\..." / "USERS\..." in the view the object type picks.
SecurableObject ResolveSecurable(const std::string& name, SE_OBJECT_TYPE type);
// An ACL in Windows' binary layout (revision 2), and back; EntriesOfAcl gives ERROR_INVALID_ACL
// for a list that is not well formed.
std::vector<BYTE> AclBytes(const std::vector<AccessEntry>& entries);
DWORD EntriesOfAcl(const ACL* acl, std::vector<AccessEntry>& entries);

}  // namespace Win32Emu
