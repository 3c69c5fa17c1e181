#pragma once

// Access lists as Windows propagates them, computed by the grant itself so that it can write
// each child's list on that child's own handle: what a child inherits from its parent's list,
// the generic rights of explicit entries mapped, and the self-relative descriptor that carries
// a list to SetKernelObjectSecurity or RegSetKeySecurity.

#include "core/windows/Win32Api.h"

#include <vector>

namespace OrvaneClient {

// The child's new list: its own (explicit) entries as they are, in their order, then what it
// inherits from `parent` as Windows gives it: containers keep container and object inheritance
// (an object-only entry becomes inherit-only), files get the entry's effective access;
// NO_PROPAGATE entries stop at this level; an effective entry for CREATOR OWNER names
// `owner`, and generic rights are mapped to the object's rights (file or key), with an
// inherit-only copy kept in their place for what lies further below. Empty when `child` or
// `parent` is not a well-formed list.
std::vector<BYTE> ChildAccessList(
    const ACL* parent, const ACL* child, PSID owner, bool container, bool isKey);

// Maps generic rights of the explicit entries that apply to the object itself to the object's
// rights, as Windows stores them. False for a list that is not well formed.
bool MapExplicitGenericRights(ACL* acl, bool isKey);

// A self-relative descriptor holding `acl` as its DACL, auto-inherited, and protected when
// `isProtected`; nothing else (owner and group stay as they are when only the DACL is written).
std::vector<BYTE> DaclDescriptor(const ACL* acl, bool isProtected);

}  // namespace OrvaneClient
