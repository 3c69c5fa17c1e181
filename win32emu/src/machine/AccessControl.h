#pragma once

// Access control on the machine's files and registry keys, shared by the security calls and the
// Machine's queries of them: what an object name resolves to, who may use it, and its
// descriptor read and written in Windows' binary layout.

#include "machine/SecurityModel.h"

#include <accctrl.h>
#include <optional>
#include <string>
#include <vector>

namespace Win32Emu {

// The object a security call names: a file path (relative ones against the current directory)
// or "MACHINE\..." / "USERS\..." in the view the object type picks.
SecurableObject ResolveSecurable(const std::string& name, SE_OBJECT_TYPE type);
// A file name made absolute as Windows makes it: against the current directory, or its drive.
// Empty, with `error` set, for an empty name (ERROR_PATH_NOT_FOUND) and for UNC, device and
// drive-relative names (ERROR_CALL_NOT_IMPLEMENTED).
std::optional<std::string> AbsoluteFilePath(const std::string& name, DWORD& error);
// Whether the emulated process may use `right` on the object (its owner may always read and
// write the access list).
bool CallerMay(const SecurableObject& object, ACCESS_MASK right);
// The two halves of the Get/Set...SecurityInfo calls once the object is resolved and the
// caller's rights checked: the descriptor asked for (a counted LocalAlloc block), and writing
// the parts given, recording each changed entry under `name`.
DWORD ReadSecurity(const SecurableObject& object,
                   SECURITY_INFORMATION info,
                   PSID* owner,
                   PSID* group,
                   PACL* dacl,
                   PACL* sacl,
                   PSECURITY_DESCRIPTOR* descriptor,
                   const char* call);
// The write calls' checks of what they were given, before the object: no audit list, valid
// SIDs for the owner and group asked for, a DACL that is there and well formed (its entries
// into `given`).
DWORD CheckSecurityToWrite(
    SECURITY_INFORMATION info, PSID owner, PSID group, PACL dacl, std::vector<AccessEntry>& given);
DWORD WriteSecurity(const SecurableObject& object,
                    const std::string& name,
                    SECURITY_INFORMATION info,
                    PSID owner,
                    PSID group,
                    const std::vector<AccessEntry>& given);
// What a self-relative descriptor given to a write holds.
struct GivenSecurity {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    std::string owner;  // empty: none given
    std::string group;
    bool daclPresent = false;
    std::vector<AccessEntry> dacl;
};
DWORD ParseSelfRelative(PSECURITY_DESCRIPTOR descriptor, GivenSecurity& given);
// The writes of SetKernelObjectSecurity and RegSetKeySecurity: the parts named, on this object
// alone, the list stored as given (inherited entries included, with its protected and
// auto-inherited bits); what lies below keeps what it held.
DWORD WriteObjectSecurity(const SecurableObject& object,
                          const std::string& name,
                          SECURITY_INFORMATION info,
                          const GivenSecurity& given);
// The objects directly inside a folder or key: links as themselves, other names of hard-linked
// files as their files.
std::vector<SecurableObject> ChildObjects(const SecurableObject& object);
// An ACL in Windows' binary layout (revision 2), and back; EntriesOfAcl gives ERROR_INVALID_ACL
// for a list that is not well formed.
std::vector<BYTE> AclBytes(const std::vector<AccessEntry>& entries);
DWORD EntriesOfAcl(const ACL* acl, std::vector<AccessEntry>& entries);

}  // namespace Win32Emu
