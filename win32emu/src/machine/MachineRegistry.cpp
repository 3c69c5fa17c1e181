// The machine's registry as profiles and tests set and read it, by key path
// ("HKEY_LOCAL_MACHINE\SOFTWARE..."), in the process's view.

#include "Win32Emu/Machine.h"
#include "machine/ApiSupport.h"
#include "machine/MachineModel.h"
#include "machine/MachineState.h"

#include <Poco/Exception.h>

#include <cstring>

namespace Win32Emu {

namespace {

// A registry key path as the emulated process names it, resolved to the model's key.
struct KeyAddress {
    Hive hive;
    std::vector<std::string> path;
};

KeyAddress resolveKeyPath(const MachineModel& model, const std::string& key) {
    const std::string::size_type separator = key.find('\\');
    const std::string rootName = key.substr(0, separator);
    KeyAddress address{Hive::LocalMachine, {}};
    if (EqualNames(rootName, "HKEY_LOCAL_MACHINE")) {
        address.hive = Hive::LocalMachine;
    } else if (EqualNames(rootName, "HKEY_USERS")) {
        address.hive = Hive::Users;
    } else {
        throw Poco::InvalidArgumentException("Not an emulated registry root key", key);
    }
    if (separator != std::string::npos) {
        address.path = RegistryModel::splitPath(key.substr(separator + 1));
    }
    if (model.uses32BitRegistryView(0)) {
        RegistryModel::redirectTo32BitView(address.hive, address.path);
    }
    return address;
}

std::optional<RegistryValue> findValue(MachineModel& model,
                                       const std::string& key,
                                       const std::string& name) {
    const KeyAddress address = resolveKeyPath(model, key);
    RegistryModel& registry = model.registry;
    RegistryKeyPtr node;
    RegistryValue value;
    if (registry.openKey(registry.hive(address.hive), address.path, false, node) != ERROR_SUCCESS ||
        registry.queryValue(node, name, value) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

void Machine::createRegistryKey(const std::string& key) {
    const KeyAddress address = resolveKeyPath(state->model, key);
    RegistryKeyPtr node;
    state->model.registry.openKey(
        state->model.registry.hive(address.hive), address.path, true, node);
}

void Machine::deleteRegistryKey(const std::string& key) {
    const KeyAddress address = resolveKeyPath(state->model, key);
    state->model.registry.deleteKey(state->model.registry.hive(address.hive), address.path, true);
}

bool Machine::registryKeyExists(const std::string& key) const {
    const KeyAddress address = resolveKeyPath(state->model, key);
    RegistryKeyPtr node;
    return state->model.registry.openKey(
               state->model.registry.hive(address.hive), address.path, false, node) ==
           ERROR_SUCCESS;
}

void Machine::setRegistryString(const std::string& key,
                                const std::string& name,
                                const std::string& value,
                                DWORD type) {
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        throw Poco::InvalidArgumentException("Not a string type for registry value", name);
    }
    const KeyAddress address = resolveKeyPath(state->model, key);
    RegistryKeyPtr node;
    RegistryModel& registry = state->model.registry;
    registry.openKey(registry.hive(address.hive), address.path, true, node);
    registry.setValue(node, name, RegistryValue{type, WideStringData(value)});
}

void Machine::setRegistryDword(const std::string& key, const std::string& name, DWORD value) {
    const KeyAddress address = resolveKeyPath(state->model, key);
    RegistryKeyPtr node;
    RegistryModel& registry = state->model.registry;
    registry.openKey(registry.hive(address.hive), address.path, true, node);
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&value);
    registry.setValue(
        node, name, RegistryValue{REG_DWORD, std::vector<BYTE>(bytes, bytes + sizeof(value))});
}

void Machine::setRegistryLink(const std::string& key, const std::string& target) {
    const KeyAddress address = resolveKeyPath(state->model, key);
    const KeyAddress to = resolveKeyPath(state->model, target);
    RegistryKeyPtr node;
    RegistryModel& registry = state->model.registry;
    registry.openKey(registry.hive(address.hive), address.path, true, node, nullptr, true);
    registry.makeLink(node, to.hive, to.path);
    std::string name = to.hive == Hive::Users ? "\\REGISTRY\\USER" : "\\REGISTRY\\MACHINE";
    for (const std::string& component : to.path) {
        name += "\\" + component;
    }
    // The target's NT name, without a terminating zero.
    std::vector<BYTE> data = WideStringData(name);
    data.resize(data.size() - sizeof(WCHAR));
    registry.setValue(node, "SymbolicLinkValue", RegistryValue{REG_LINK, data});
}

void Machine::setRegistryMultiString(const std::string& key,
                                     const std::string& name,
                                     const std::vector<std::string>& strings) {
    std::vector<BYTE> data;
    for (const std::string& text : strings) {
        const std::vector<BYTE> one = WideStringData(text);
        data.insert(data.end(), one.begin(), one.end());
    }
    data.resize(data.size() + sizeof(WCHAR), 0);
    const KeyAddress address = resolveKeyPath(state->model, key);
    RegistryKeyPtr node;
    RegistryModel& registry = state->model.registry;
    registry.openKey(registry.hive(address.hive), address.path, true, node);
    registry.setValue(node, name, RegistryValue{REG_MULTI_SZ, data});
}

std::optional<std::string> Machine::registryString(const std::string& key,
                                                   const std::string& name) const {
    const std::optional<RegistryValue> value = findValue(state->model, key, name);
    if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ)) {
        return std::nullopt;
    }
    return Utf8FromWideData(value->data);
}

std::optional<DWORD> Machine::registryDword(const std::string& key, const std::string& name) const {
    const std::optional<RegistryValue> value = findValue(state->model, key, name);
    if (!value || value->type != REG_DWORD || value->data.size() != sizeof(DWORD)) {
        return std::nullopt;
    }
    DWORD result = 0;
    std::memcpy(&result, value->data.data(), sizeof(result));
    return result;
}

}  // namespace Win32Emu
