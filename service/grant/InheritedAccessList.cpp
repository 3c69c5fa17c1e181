#include "service/grant/InheritedAccessList.h"

#include <cstring>

namespace OrvaneClient {
namespace {

constexpr ACCESS_MASK GenericRights = GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL;
// S-1-3-0, in its binary layout.
constexpr BYTE CreatorOwner[] = {1, 1, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0};

struct Ace {
    const BYTE* bytes;
    ACE_HEADER header;
    ACCESS_MASK mask;
};

// The entries of a list, or false when it is not well formed.
bool EntriesOf(const ACL* acl, std::vector<Ace>& entries) {
    entries.clear();
    if (acl == nullptr || acl->AclSize < sizeof(ACL)) {
        return acl == nullptr;
    }
    const auto* bytes = reinterpret_cast<const BYTE*>(acl);
    size_t offset = sizeof(ACL);
    for (WORD i = 0; i < acl->AceCount; ++i) {
        Ace entry = {bytes + offset, {}, 0};
        if (offset + sizeof(ACE_HEADER) + sizeof(ACCESS_MASK) > acl->AclSize) {
            return false;
        }
        std::memcpy(&entry.header, entry.bytes, sizeof(entry.header));
        if (entry.header.AceSize < sizeof(ACE_HEADER) + sizeof(ACCESS_MASK) ||
            offset + entry.header.AceSize > acl->AclSize) {
            return false;
        }
        // Every kind of entry holds its mask right after its header.
        std::memcpy(&entry.mask, entry.bytes + sizeof(ACE_HEADER), sizeof(entry.mask));
        entries.push_back(entry);
        offset += entry.header.AceSize;
    }
    return true;
}

// Allow and deny entries hold one SID after their mask: those are the ones whose trustee or
// rights inheritance rewrites.
bool IsPlainEntry(const Ace& entry) {
    return (entry.header.AceType == ACCESS_ALLOWED_ACE_TYPE ||
            entry.header.AceType == ACCESS_DENIED_ACE_TYPE) &&
           entry.header.AceSize >= offsetof(ACCESS_ALLOWED_ACE, SidStart) + sizeof(CreatorOwner);
}

bool NamesCreatorOwner(const Ace& entry) {
    return IsPlainEntry(entry) && std::memcmp(entry.bytes + offsetof(ACCESS_ALLOWED_ACE, SidStart),
                                              CreatorOwner,
                                              sizeof(CreatorOwner)) == 0;
}

// What the generic rights stand for on files and on keys, as the system maps them.
ACCESS_MASK MappedRights(ACCESS_MASK mask, bool isKey) {
    static GENERIC_MAPPING fileMapping = {
        FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    static GENERIC_MAPPING keyMapping = {KEY_READ, KEY_WRITE, KEY_EXECUTE, KEY_ALL_ACCESS};
    DWORD mapped = mask;
    MapGenericMask(&mapped, isKey ? &keyMapping : &fileMapping);
    return mapped;
}

class ListBuilder {
public:
    ListBuilder() : bytes(sizeof(ACL)) {}

    void copy(const Ace& entry) {
        bytes.insert(bytes.end(), entry.bytes, entry.bytes + entry.header.AceSize);
        ++count;
    }
    // The entry with other flags, rights, and (for a plain entry) trustee.
    void add(const Ace& entry, BYTE flags, ACCESS_MASK mask, PSID trustee = nullptr) {
        const size_t at = bytes.size();
        if (trustee == nullptr) {
            copy(entry);
        } else {
            const size_t sidLength = 8 + 4 * static_cast<size_t>(static_cast<BYTE*>(trustee)[1]);
            const size_t size = offsetof(ACCESS_ALLOWED_ACE, SidStart) + sidLength;
            bytes.resize(at + size);
            std::memcpy(bytes.data() + at, entry.bytes, offsetof(ACCESS_ALLOWED_ACE, SidStart));
            std::memcpy(
                bytes.data() + at + offsetof(ACCESS_ALLOWED_ACE, SidStart), trustee, sidLength);
            const WORD aceSize = static_cast<WORD>(size);
            std::memcpy(bytes.data() + at + offsetof(ACE_HEADER, AceSize), &aceSize, sizeof(WORD));
            ++count;
        }
        bytes[at + offsetof(ACE_HEADER, AceFlags)] = flags;
        std::memcpy(bytes.data() + at + sizeof(ACE_HEADER), &mask, sizeof(mask));
    }
    std::vector<BYTE> finish() {
        ACL header = {};
        header.AclRevision = ACL_REVISION;
        header.AclSize = static_cast<WORD>(bytes.size());
        header.AceCount = count;
        std::memcpy(bytes.data(), &header, sizeof(header));
        return std::move(bytes);
    }

private:
    std::vector<BYTE> bytes;
    WORD count = 0;
};

}  // namespace

std::vector<BYTE> ChildAccessList(
    const ACL* parent, const ACL* child, PSID owner, bool container, bool isKey) {
    std::vector<Ace> parentEntries;
    std::vector<Ace> childEntries;
    if (!EntriesOf(parent, parentEntries) || !EntriesOf(child, childEntries)) {
        return {};
    }
    ListBuilder list;
    for (const Ace& entry : childEntries) {
        if ((entry.header.AceFlags & INHERITED_ACE) == 0) {
            list.copy(entry);
        }
    }
    for (const Ace& entry : parentEntries) {
        const BYTE flags = entry.header.AceFlags;
        const bool noPropagate = (flags & NO_PROPAGATE_INHERIT_ACE) != 0;
        BYTE inherited = 0;
        if (container && (flags & CONTAINER_INHERIT_ACE) != 0) {
            inherited = noPropagate ? 0 : flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        } else if (container && (flags & OBJECT_INHERIT_ACE) != 0 && !noPropagate) {
            // Kept for the files below, not for the folder itself.
            inherited = OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE;
        } else if (!container && (flags & OBJECT_INHERIT_ACE) != 0) {
            inherited = 0;
        } else {
            continue;
        }
        inherited |= INHERITED_ACE;
        const bool effective = (inherited & INHERIT_ONLY_ACE) == 0;
        const bool reachesFurther = (inherited & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)) != 0;
        const bool creatorOwner = NamesCreatorOwner(entry) && owner != nullptr;
        const bool generic = (entry.mask & GenericRights) != 0;
        if (effective && IsPlainEntry(entry) && (creatorOwner || generic)) {
            // What applies here is written as what it stands for; what reaches further stays
            // as it was, inherit-only.
            list.add(entry,
                     INHERITED_ACE,
                     MappedRights(entry.mask, isKey),
                     creatorOwner ? owner : nullptr);
            if (reachesFurther) {
                list.add(entry, static_cast<BYTE>(inherited | INHERIT_ONLY_ACE), entry.mask);
            }
            continue;
        }
        list.add(entry, inherited, entry.mask);
    }
    return list.finish();
}

bool MapExplicitGenericRights(ACL* acl, bool isKey) {
    std::vector<Ace> entries;
    if (!EntriesOf(acl, entries)) {
        return false;
    }
    for (const Ace& entry : entries) {
        if ((entry.header.AceFlags & (INHERITED_ACE | INHERIT_ONLY_ACE)) == 0) {
            const ACCESS_MASK mapped = MappedRights(entry.mask, isKey);
            std::memcpy(
                const_cast<BYTE*>(entry.bytes) + sizeof(ACE_HEADER), &mapped, sizeof(mapped));
        }
    }
    return true;
}

std::vector<BYTE> DaclDescriptor(const ACL* acl, bool isProtected) {
    SECURITY_DESCRIPTOR_RELATIVE header = {};
    header.Revision = SECURITY_DESCRIPTOR_REVISION;
    header.Control = SE_SELF_RELATIVE | SE_DACL_PRESENT | SE_DACL_AUTO_INHERITED;
    if (isProtected) {
        header.Control |= SE_DACL_PROTECTED;
    }
    header.Dacl = sizeof(header);
    std::vector<BYTE> descriptor(sizeof(header) + acl->AclSize);
    std::memcpy(descriptor.data(), &header, sizeof(header));
    std::memcpy(descriptor.data() + sizeof(header), acl, acl->AclSize);
    return descriptor;
}

}  // namespace OrvaneClient
