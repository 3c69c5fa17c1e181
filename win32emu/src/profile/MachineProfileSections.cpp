// The parts of a machine profile about people, processes and the registry.

#include "machine/ApiSupport.h"
#include "machine/SidText.h"
#include "profile/MachineProfile.h"
#include "profile/ProfileJson.h"

#include <Poco/JSON/Array.h>
#include <Poco/UTF8String.h>

#include <algorithm>
#include <cctype>

namespace Win32Emu {

using namespace ProfileJson;

namespace {

DWORD registryTypeOf(const std::string& name, const std::string& where) {
    if (name == "REG_SZ") {
        return REG_SZ;
    }
    if (name == "REG_EXPAND_SZ") {
        return REG_EXPAND_SZ;
    }
    if (name == "REG_DWORD") {
        return REG_DWORD;
    }
    if (name == "REG_MULTI_SZ") {
        return REG_MULTI_SZ;
    }
    invalid(where, "type must be REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ or REG_DWORD");
}

// Sessions, accounts and processes name users by SID; the machine builds the SID's bytes from it.
std::string sidOf(const Var& value, const std::string& where, bool emptyAllowed) {
    const std::string sid = textOf(value, where);
    if ((sid.empty() && !emptyAllowed) || (!sid.empty() && SidFromText(sid).empty())) {
        invalid(where, "must be a SID (S-1-...)");
    }
    return sid;
}

// "untrusted", "low", "medium", "high", "system" or the level's RID as a number.
DWORD integrityLevelOf(const Var& value, const std::string& where) {
    if (value.isString()) {
        const std::string name = value.toString();
        const std::pair<const char*, DWORD> levels[] = {
            {"untrusted", SECURITY_MANDATORY_UNTRUSTED_RID},
            {"low", SECURITY_MANDATORY_LOW_RID},
            {"medium", SECURITY_MANDATORY_MEDIUM_RID},
            {"high", SECURITY_MANDATORY_HIGH_RID},
            {"system", SECURITY_MANDATORY_SYSTEM_RID},
        };
        for (const auto& level : levels) {
            if (name == level.first) {
                return level.second;
            }
        }
        invalid(where, "must be untrusted, low, medium, high, system or a number");
    }
    return dwordOf(value, where);
}

bool isRegistryRoot(const std::string& path) {
    const std::string root = path.substr(0, path.find('\\'));
    return EqualNames(root, "HKEY_LOCAL_MACHINE") || EqualNames(root, "HKEY_USERS");
}

bool isSameOrBelow(const std::string& path, const std::string& key) {
    const std::string lowerPath = Poco::UTF8::toLower(path);
    const std::string lowerKey = Poco::UTF8::toLower(key);
    return lowerPath == lowerKey || (lowerPath.size() > lowerKey.size() &&
                                     lowerPath.compare(0, lowerKey.size(), lowerKey) == 0 &&
                                     lowerPath[lowerKey.size()] == '\\');
}

}  // namespace

void MachineProfile::overlaySessions(const Object& sessions) {
    for (const std::string& id : sessions.getNames()) {
        const DWORD session = static_cast<DWORD>(numberOfName(id, "sessions", 0xFFFFFFFFLL));
        const Var entry = sessions.get(id);
        if (entry.isEmpty()) {
            sessionUsers.erase(session);
            continue;
        }
        const Object& members = objectOf(entry, "sessions." + id);
        for (const std::string& name : members.getNames()) {
            if (name != "user") {
                invalid("sessions." + id + "." + name, "is not a member of a session");
            }
            const Var user = members.get(name);
            sessionUsers[session] =
                user.isEmpty() ? std::string() : sidOf(user, "sessions." + id + ".user", true);
        }
    }
}

void MachineProfile::overlayAccounts(const Object& entries) {
    for (const std::string& sid : entries.getNames()) {
        const Var entry = entries.get(sid);
        if (entry.isEmpty()) {
            accounts.erase(sid);
            continue;
        }
        if (SidFromText(sid).empty()) {
            invalid("accounts." + sid, "must be named by a SID (S-1-...)");
        }
        Account& account = accounts[sid];
        account.sid = sid;
        const Object& members = objectOf(entry, "accounts." + sid);
        for (const std::string& name : members.getNames()) {
            const Var value = members.get(name);
            const std::string where = "accounts." + sid + "." + name;
            if (name == "name") {
                account.name = textOf(value, where);
            } else if (name == "domain") {
                account.domain = textOf(value, where);
            } else if (name == "administrator") {
                account.administrator = booleanOf(value, where);
            } else if (name == "linkedToken") {
                account.linkedToken = booleanOf(value, where);
            } else {
                invalid(where, "is not a member of an account");
            }
        }
    }
}

void MachineProfile::overlayProcesses(const Object& entries) {
    for (const std::string& id : entries.getNames()) {
        const DWORD processId = static_cast<DWORD>(numberOfName(id, "processes", 0xFFFFFFFFLL));
        const Var entry = entries.get(id);
        if (entry.isEmpty()) {
            processes.erase(std::remove_if(processes.begin(),
                                           processes.end(),
                                           [&](const ProcessEntry& process) {
                                               return process.processId == processId;
                                           }),
                            processes.end());
            continue;
        }
        auto existing = std::find_if(processes.begin(), processes.end(), [&](const auto& p) {
            return p.processId == processId;
        });
        if (existing == processes.end()) {
            // New processes go last: the snapshot lists them in the order they were started.
            ProcessEntry added;
            added.processId = processId;
            added.userSid = "S-1-5-18";
            existing = processes.insert(processes.end(), added);
        }
        ProcessEntry& process = *existing;
        const Object& members = objectOf(entry, "processes." + id);
        for (const std::string& name : members.getNames()) {
            const Var value = members.get(name);
            const std::string where = "processes." + id + "." + name;
            if (name == "name") {
                process.executableName = textOf(value, where);
            } else if (name == "session") {
                process.sessionId = dwordOf(value, where);
            } else if (name == "user") {
                process.userSid = sidOf(value, where, false);
            } else if (name == "elevated") {
                process.elevated = booleanOf(value, where);
            } else if (name == "integrity") {
                process.integrityLevel = integrityLevelOf(value, where);
            } else if (name == "appContainer") {
                process.appContainer = booleanOf(value, where);
            } else if (name == "failOpenProcess") {
                process.openProcessError = dwordOf(value, where);
            } else if (name == "failOpenProcessToken") {
                process.openProcessTokenError = dwordOf(value, where);
            } else if (name == "failProcessIdToSessionId") {
                process.sessionIdError = dwordOf(value, where);
            } else {
                invalid(where, "is not a member of a process");
            }
        }
    }
}

void MachineProfile::overlayFiles(const Object& entries) {
    for (const std::string& path : entries.getNames()) {
        const std::string where = "files." + path;
        // A full path to a file on a drive: "C:\dir\name".
        const bool full = path.size() > 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
                          path[1] == ':' && (path[2] == '\\' || path[2] == '/');
        if (!full) {
            invalid(where, "must be a full path to a file (C:\\...)");
        }
        const std::string key = Poco::UTF8::toLower(path);
        const Var entry = entries.get(path);
        if (entry.isEmpty()) {
            files.erase(key);
            continue;
        }
        auto& file = files[key];
        file.first = path;
        const Object& members = objectOf(entry, where);
        for (const std::string& name : members.getNames()) {
            const Var value = members.get(name);
            if (name == "heldOpen") {
                file.second.heldOpen = booleanOf(value, where + "." + name);
            } else if (name == "unreadable") {
                file.second.unreadable = booleanOf(value, where + "." + name);
            } else if (name == "links") {
                file.second.links = static_cast<DWORD>(integerOf(value, where + ".links", 1, 1024));
            } else {
                invalid(where + "." + name, "is not a member of a file");
            }
        }
    }
}

MachineProfile::RegistryKeyEntry& MachineProfile::registryKey(const std::string& path) {
    for (RegistryKeyEntry& entry : registry) {
        if (EqualNames(entry.path, path)) {
            return entry;
        }
    }
    registry.push_back(RegistryKeyEntry{path, {}});
    return registry.back();
}

void MachineProfile::overlayRegistry(const Object& keys) {
    for (const std::string& path : keys.getNames()) {
        const std::string where = "registry." + path;
        if (!isRegistryRoot(path)) {
            invalid(where, "must start with HKEY_LOCAL_MACHINE\\ or HKEY_USERS\\");
        }
        const Var entry = keys.get(path);
        if (entry.isEmpty()) {
            registry.erase(std::remove_if(registry.begin(),
                                          registry.end(),
                                          [&](const RegistryKeyEntry& key) {
                                              return isSameOrBelow(key.path, path);
                                          }),
                           registry.end());
            continue;
        }
        const Object& values = objectOf(entry, where);
        RegistryKeyEntry& key = registryKey(path);
        for (const std::string& name : values.getNames()) {
            const Var value = values.get(name);
            const std::string valueWhere = where + "." + name;
            auto existing = std::find_if(key.values.begin(), key.values.end(), [&](const auto& v) {
                return EqualNames(v.name, name);
            });
            if (value.isEmpty()) {
                if (existing != key.values.end()) {
                    key.values.erase(existing);
                }
                continue;
            }
            RegistryValueEntry parsed;
            parsed.name = name;
            Var data = value;
            if (isObject(value)) {
                const Object& typed = objectOf(value, valueWhere);
                parsed.type =
                    registryTypeOf(textOf(typed.get("type"), valueWhere + ".type"), valueWhere);
                data = typed.get("data");
                for (const std::string& member : typed.getNames()) {
                    if (member != "type" && member != "data") {
                        invalid(valueWhere + "." + member, "is not a member of a typed value");
                    }
                }
            } else {
                parsed.type = data.isString() ? REG_SZ : REG_DWORD;
            }
            if (parsed.type == REG_DWORD) {
                parsed.number = dwordOf(data, valueWhere);
            } else if (parsed.type == REG_MULTI_SZ) {
                if (data.type() != typeid(Poco::JSON::Array::Ptr)) {
                    invalid(valueWhere + ".data", "must be an array of strings");
                }
                const auto array = data.extract<Poco::JSON::Array::Ptr>();
                for (size_t i = 0; i < array->size(); ++i) {
                    parsed.strings.push_back(
                        textOf(array->get(i), valueWhere + ".data[" + std::to_string(i) + "]"));
                }
            } else {
                parsed.text = textOf(data, valueWhere);
            }
            if (existing != key.values.end()) {
                *existing = parsed;
            } else {
                key.values.push_back(parsed);
            }
        }
    }
}

}  // namespace Win32Emu
