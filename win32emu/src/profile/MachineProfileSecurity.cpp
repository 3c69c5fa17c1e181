// The parts of a machine profile about access lists and reparse points.

#include "Win32Emu/Machine.h"
#include "machine/SecurityModel.h"
#include "machine/SidText.h"
#include "profile/MachineProfile.h"
#include "profile/ProfileJson.h"

#include <Poco/JSON/Array.h>

#include <algorithm>

namespace Win32Emu {

using namespace ProfileJson;

namespace {

std::string sidText(const Var& value, const std::string& where) {
    const std::string sid = textOf(value, where);
    if (SidFromText(sid).empty()) {
        invalid(where, "must be a SID (S-1-...)");
    }
    return sid;
}

bool isRegistryName(const std::string& object) {
    const std::string root = object.substr(0, object.find('\\'));
    return root == "HKEY_LOCAL_MACHINE" || root == "HKEY_USERS";
}

AccessEntry entryOf(const Var& value, const std::string& where) {
    const Object& members = objectOf(value, where);
    AccessEntry entry;
    bool named = false;
    for (const std::string& name : members.getNames()) {
        const Var member = members.get(name);
        if (name == "allow" || name == "deny") {
            entry.allowed = name == "allow";
            entry.sid = sidText(member, where + "." + name);
            named = !named;
        } else if (name == "mask") {
            entry.mask = dwordOf(member, where + ".mask");
        } else if (name == "flags") {
            entry.flags = static_cast<BYTE>(integerOf(member, where + ".flags", 0, 0x0F));
        } else {
            invalid(where + "." + name, "is not a member of an access entry");
        }
    }
    if (!named) {
        invalid(where, "needs one of allow or deny");
    }
    return entry;
}

}  // namespace

void MachineProfile::overlaySecurity(const Object& objects) {
    for (const std::string& object : objects.getNames()) {
        const std::string where = "security." + object;
        if (!isRegistryName(object) && !SplitDrivePath(object)) {
            invalid(where,
                    "must be a path on a drive or a key from HKEY_LOCAL_MACHINE or HKEY_USERS");
        }
        auto found = std::find_if(security.begin(), security.end(), [&](const SecurityEntry& e) {
            return e.object == object;
        });
        if (found == security.end()) {
            security.push_back(SecurityEntry{object, std::nullopt, std::nullopt, false});
            found = security.end() - 1;
        }
        const Object& members = objectOf(objects.get(object), where);
        for (const std::string& name : members.getNames()) {
            const Var member = members.get(name);
            if (name == "owner") {
                found->owner = sidText(member, where + ".owner");
            } else if (name == "protected") {
                found->isProtected = booleanOf(member, where + ".protected");
            } else if (name == "entries") {
                if (member.type() != typeid(Poco::JSON::Array::Ptr)) {
                    invalid(where + ".entries", "must be an array of access entries");
                }
                const auto array = member.extract<Poco::JSON::Array::Ptr>();
                std::vector<AccessEntry> entries;
                for (size_t i = 0; i < array->size(); ++i) {
                    entries.push_back(
                        entryOf(array->get(i), where + ".entries[" + std::to_string(i) + "]"));
                }
                found->entries = entries;
            } else {
                invalid(where + "." + name, "is not a member of an object's security");
            }
        }
    }
}

void MachineProfile::overlayReparsePoints(const Object& points) {
    for (const std::string& path : points.getNames()) {
        const std::string where = "reparsePoints." + path;
        const auto components = SplitDrivePath(path);
        if (!components || components->size() < 2) {
            invalid(where, "must be a folder on a drive");
        }
        ReparseEntry entry{path, std::string(), true, true};
        const Object& members = objectOf(points.get(path), where);
        for (const std::string& name : members.getNames()) {
            const Var member = members.get(name);
            if (name == "target") {
                entry.target = textOf(member, where + ".target");
                if (!SplitDrivePath(entry.target)) {
                    invalid(where + ".target", "must be a path on a drive");
                }
            } else if (name == "type") {
                const std::string type = textOf(member, where + ".type");
                if (type != "junction" && type != "symlink") {
                    invalid(where + ".type", "must be junction or symlink");
                }
                entry.junction = type == "junction";
            } else if (name == "byAdministrator") {
                entry.byAdministrator = booleanOf(member, where + ".byAdministrator");
            } else {
                invalid(where + "." + name, "is not a member of a reparse point");
            }
        }
        if (entry.target.empty()) {
            invalid(where, "needs a target");
        }
        reparsePoints.push_back(entry);
    }
}

void MachineProfile::applySecurityTo(Machine& machine) const {
    for (const ReparseEntry& point : reparsePoints) {
        machine.setReparsePoint(point.path, point.target, point.junction, point.byAdministrator);
    }
    for (const SecurityEntry& entry : security) {
        if (isRegistryName(entry.object) && !machine.registryKeyExists(entry.object)) {
            machine.createRegistryKey(entry.object);
        }
        if (entry.entries) {
            machine.setAccessList(entry.object, *entry.entries, entry.isProtected);
        }
        if (entry.owner) {
            machine.setOwner(entry.object, *entry.owner);
        }
    }
}

}  // namespace Win32Emu
