// Security descriptors from their text form (SDDL):
// ConvertStringSecurityDescriptorToSecurityDescriptorW, for the owner, group and DACL forms the
// system writes.

#include "machine/AccessControl.h"
#include "machine/ApiSupport.h"
#include "machine/SidText.h"

#include <cstring>
#include <map>
#include <sddl.h>

using namespace Win32Emu;

namespace {

// The SID abbreviations the system's descriptors use; any other is not emulated.
const std::map<std::string, std::string> SidAliases = {
    {"SY", "S-1-5-18"},
    {"BA", "S-1-5-32-544"},
    {"BU", "S-1-5-32-545"},
    {"AU", "S-1-5-11"},
    {"WD", "S-1-1-0"},
    {"CO", "S-1-3-0"},
};

const std::map<std::string, ACCESS_MASK> RightAliases = {
    {"FA", FILE_ALL_ACCESS},
    {"FR", FILE_GENERIC_READ},
    {"FW", FILE_GENERIC_WRITE},
    {"FX", FILE_GENERIC_EXECUTE},
    {"GA", GENERIC_ALL},
    {"GR", GENERIC_READ},
    {"GW", GENERIC_WRITE},
    {"GX", GENERIC_EXECUTE},
};

const std::map<std::string, BYTE> FlagAliases = {
    {"OI", OBJECT_INHERIT_ACE},
    {"CI", CONTAINER_INHERIT_ACE},
    {"NP", NO_PROPAGATE_INHERIT_ACE},
    {"IO", INHERIT_ONLY_ACE},
};

// ERROR_SUCCESS, or why the text cannot be read here: ERROR_CALL_NOT_IMPLEMENTED for what the
// emulation does not know (it cannot tell an unknown token from an unmodelled one).
struct Parsed {
    std::string owner;
    std::string group;
    bool hasDacl = false;
    bool isProtected = false;
    std::vector<AccessEntry> entries;
};

bool parseSid(const std::string& text, std::string& sid) {
    const auto alias = SidAliases.find(text);
    sid = alias != SidAliases.end() ? alias->second : text;
    return !SidFromText(sid).empty();
}

bool parseRights(const std::string& text, ACCESS_MASK& mask) {
    mask = 0;
    if (text.compare(0, 2, "0x") == 0 || text.compare(0, 2, "0X") == 0) {
        char* end = nullptr;
        const unsigned long value = std::strtoul(text.c_str() + 2, &end, 16);
        mask = static_cast<ACCESS_MASK>(value);
        return text.size() > 2 && *end == '\0';
    }
    if (text.empty() || text.size() % 2 != 0) {
        return false;
    }
    for (size_t i = 0; i < text.size(); i += 2) {
        const auto right = RightAliases.find(text.substr(i, 2));
        if (right == RightAliases.end()) {
            return false;
        }
        mask |= right->second;
    }
    return true;
}

// "A;OICI;FA;;;SY": type, flags, rights, object GUIDs (none), SID.
bool parseEntry(const std::string& text, AccessEntry& entry) {
    std::vector<std::string> fields(1);
    for (const char c : text) {
        if (c == ';') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    if (fields.size() != 6 || !fields[3].empty() || !fields[4].empty() ||
        (fields[0] != "A" && fields[0] != "D") || fields[1].size() % 2 != 0) {
        return false;
    }
    entry.allowed = fields[0] == "A";
    entry.flags = 0;
    for (size_t i = 0; i < fields[1].size(); i += 2) {
        const auto flag = FlagAliases.find(fields[1].substr(i, 2));
        if (flag == FlagAliases.end()) {
            return false;
        }
        entry.flags |= flag->second;
    }
    return parseRights(fields[2], entry.mask) && parseSid(fields[5], entry.sid);
}

bool parse(const std::string& text, Parsed& parsed) {
    size_t at = 0;
    while (at < text.size()) {
        if (text.size() - at < 2 || text[at + 1] != ':') {
            return false;
        }
        const char part = text[at];
        at += 2;
        if (part == 'O' || part == 'G') {
            // A SID runs to the next part ("G:", "D:").
            size_t end = at;
            while (end < text.size() && !(end + 1 < text.size() && text[end + 1] == ':')) {
                ++end;
            }
            if (!parseSid(text.substr(at, end - at), part == 'O' ? parsed.owner : parsed.group)) {
                return false;
            }
            at = end;
        } else if (part == 'D' && !parsed.hasDacl) {
            parsed.hasDacl = true;
            if (text.compare(at, 1, "P") == 0) {
                parsed.isProtected = true;
                ++at;
            }
            while (at < text.size() && text[at] == '(') {
                const size_t close = text.find(')', at);
                AccessEntry entry;
                if (close == std::string::npos ||
                    !parseEntry(text.substr(at + 1, close - at - 1), entry)) {
                    return false;
                }
                parsed.entries.push_back(entry);
                at = close + 1;
            }
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" {

BOOL WINAPI
ConvertStringSecurityDescriptorToSecurityDescriptorW(LPCWSTR StringSecurityDescriptor,
                                                     DWORD StringSDRevision,
                                                     PSECURITY_DESCRIPTOR* SecurityDescriptor,
                                                     PULONG SecurityDescriptorSize) {
    const std::string text = ToUtf8(StringSecurityDescriptor);
    if (InjectedFailure("ConvertStringSecurityDescriptorToSecurityDescriptorW", text)) {
        return FALSE;
    }
    if (StringSecurityDescriptor == nullptr || SecurityDescriptor == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (StringSDRevision != SDDL_REVISION_1) {
        SetLastError(ERROR_UNKNOWN_REVISION);
        return FALSE;
    }
    Parsed parsed;
    if (RefuseUnmodelled(!parse(text, parsed))) {
        return FALSE;
    }
    std::vector<BYTE> block(sizeof(SECURITY_DESCRIPTOR_RELATIVE));
    SECURITY_DESCRIPTOR_RELATIVE header = {};
    header.Revision = SECURITY_DESCRIPTOR_REVISION;
    header.Control = SE_SELF_RELATIVE;
    const auto append = [&block](const std::vector<BYTE>& part) {
        const DWORD at = static_cast<DWORD>(block.size());
        block.insert(block.end(), part.begin(), part.end());
        return at;
    };
    if (!parsed.owner.empty()) {
        header.Owner = append(SidFromText(parsed.owner));
    }
    if (!parsed.group.empty()) {
        header.Group = append(SidFromText(parsed.group));
    }
    if (parsed.hasDacl) {
        header.Control |= SE_DACL_PRESENT | (parsed.isProtected ? SE_DACL_PROTECTED : 0);
        header.Dacl = append(AclBytes(parsed.entries));
    }
    std::memcpy(block.data(), &header, sizeof(header));
    void* descriptor =
        AllocateLocal(block.size(), "ConvertStringSecurityDescriptorToSecurityDescriptorW");
    if (descriptor == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    std::memcpy(descriptor, block.data(), block.size());
    *SecurityDescriptor = descriptor;
    if (SecurityDescriptorSize != nullptr) {
        *SecurityDescriptorSize = static_cast<ULONG>(block.size());
    }
    return TRUE;
}

}  // extern "C"
