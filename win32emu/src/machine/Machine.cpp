#include "Win32Emu/Machine.h"

#include "machine/ApiSupport.h"
#include "machine/Exports.h"
#include "machine/FileSystem.h"
#include "machine/Identity.h"
#include "machine/IdentityObjects.h"
#include "machine/MachineModel.h"
#include "machine/SidText.h"
#include "profile/MachineProfile.h"

#include <Poco/Environment.h>
#include <Poco/Exception.h>
#include <Poco/FileStream.h>
#include <Poco/StreamCopier.h>
#include <Poco/String.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <shlobj.h>

namespace Win32Emu {

struct Machine::State {
    MachineModel model;
};

namespace {

// Set once by the constructor of the one Machine; the emulated calls reach the model through it.
MachineModel* theModel = nullptr;
// Set while the constructor loads the profile: the calls it makes reach the model that is being
// built, not Machine::instance(), whose initialisation is still under way on this thread.
thread_local bool loadingProfile = false;

std::string defaultHostRoot() {
    const std::string home = Poco::Environment::get("HOME", "");
    return home.empty() ? std::string("/tmp/orvane-win32emu") : home + "/.orvane-win32emu";
}

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

// The machine builds SIDs from these strings; a malformed one is a mistake in the test or profile.
void requireSid(const std::string& sid, bool emptyAllowed) {
    if ((sid.empty() && !emptyAllowed) || (!sid.empty() && SidFromText(sid).empty())) {
        throw Poco::InvalidArgumentException("Not a SID", sid);
    }
}

}  // namespace

MachineModel& Model() {
    if (!loadingProfile) {
        Machine::instance();
    }
    return *theModel;
}

Machine& Machine::instance() {
    // Never destroyed: threads and static destructors may still make emulated calls at exit.
    static Machine* const machine = new Machine();
    return *machine;
}

Machine::Machine() : state(new State) {
    theModel = &state->model;
    const std::string root = Poco::Environment::get("WIN32EMU_ROOT", "");
    setHostRoot(root.empty() ? defaultHostRoot() : root);
    const std::string profile = Poco::Environment::get("WIN32EMU_PROFILE", "");
    loadingProfile = true;
    try {
        if (profile.empty()) {
            loadDefaultProfile();
        } else {
            loadProfileFile(profile);
        }
    } catch (const Poco::Exception& error) {
        // The machine cannot start as asked; running on another one would mislead.
        std::fprintf(stderr,
                     "win32emu: cannot load the machine profile %s: %s\n",
                     profile.c_str(),
                     error.displayText().c_str());
        std::exit(EXIT_FAILURE);
    }
    loadingProfile = false;
}

Machine::~Machine() {
    delete state;
}

void Machine::reset() {
    MachineModel& model = state->model;
    {
        std::lock_guard<std::mutex> guard(model.lock);
        model.configuration = Configuration();
    }
    model.registry.clear();
    model.security.clear();
    model.faults.clear();
}

void Machine::loadDefaultProfile() {
    const MachineProfile profile = MachineProfile::builtIn();
    reset();
    profile.applyTo(*this);
}

namespace {

std::string readProfileFile(const std::string& hostPath) {
    Poco::FileInputStream stream(hostPath);
    std::string json;
    Poco::StreamCopier::copyToString(stream, json);
    if (stream.bad()) {
        throw Poco::ReadFileException("Cannot read the machine profile", hostPath);
    }
    return json;
}

}  // namespace

void Machine::loadProfileFile(const std::string& hostPath) {
    loadProfileJson(readProfileFile(hostPath));
}

void Machine::checkProfileFile(const std::string& hostPath) {
    MachineProfile::withOverrides(readProfileFile(hostPath));
}

void Machine::loadProfileJson(const std::string& json) {
    // Read and checked whole before the machine changes: a bad profile leaves it as it was.
    const MachineProfile profile = MachineProfile::withOverrides(json);
    reset();
    profile.applyTo(*this);
}

std::string Fault::describe() const {
    std::string text = callName;
    if (principal) {
        text += "(\"" + *principal + "\")";
    }
    if (object) {
        text += " on a " + *object;
    }
    text += nth == 0 ? ", every call" : ", call " + std::to_string(nth);
    return text + ", error " + std::to_string(errorCode);
}

void Machine::injectFault(const Fault& fault) {
    // A misspelt fault would never fire and leave a test that cannot fail.
    if (!IsFaultableCall(fault.call())) {
        throw Poco::InvalidArgumentException("Not an emulated call that can be made to fail",
                                             fault.call());
    }
    if (fault.objectType() && !IsObjectTypeName(*fault.objectType())) {
        throw Poco::InvalidArgumentException("Not an emulated object type", *fault.objectType());
    }
    state->model.faults.arm(fault);
}

void Machine::failNext(const std::string& call, DWORD error) {
    injectFault(Fault(call, error));
}

void Machine::failWhen(const std::string& call, const std::string& argument, DWORD error) {
    injectFault(Fault(call, error).withArgument(argument).always());
}

void Machine::beforeCall(const std::string& call, std::function<void()> action) {
    if (!IsFaultableCall(call)) {
        throw Poco::InvalidArgumentException("Not an emulated call", call);
    }
    state->model.faults.hookBefore(call, std::move(action));
}

std::vector<std::string> Machine::unfiredFaults() const {
    return state->model.faults.unfired();
}

void Machine::clearFaults() {
    state->model.faults.clear();
}

size_t Machine::openHandleCount() const {
    return state->model.handles.size();
}

size_t Machine::localAllocCount() const {
    return state->model.localAllocationCount();
}

size_t Machine::environmentBlockCount() const {
    return state->model.environmentBlockCount();
}

std::vector<OpenObject> Machine::openHandles() const {
    std::vector<OpenObject> result;
    for (const auto& entry : state->model.handles.entries()) {
        result.push_back(OpenObject{reinterpret_cast<std::uintptr_t>(entry.first),
                                    entry.second.object->typeName(),
                                    entry.second.createdBy});
    }
    return result;
}

std::vector<OpenObject> Machine::openLocalAllocs() const {
    std::vector<OpenObject> result;
    for (const auto& block : state->model.localAllocations()) {
        result.push_back(
            OpenObject{reinterpret_cast<std::uintptr_t>(block.first), "LocalAlloc", block.second});
    }
    return result;
}

std::optional<TokenInfo> Machine::tokenInfo(HANDLE handle) const {
    const std::optional<HandleEntry> entry = state->model.handles.entry(handle);
    const auto token = entry ? std::dynamic_pointer_cast<TokenObject>(entry->object) : nullptr;
    if (!token) {
        return std::nullopt;
    }
    TokenInfo info;
    info.tokenId = token->id;
    info.userSid = token->userSid;
    info.sessionId = token->sessionId;
    info.type = token->type;
    info.impersonationLevel = token->impersonationLevel;
    info.elevation = token->elevation;
    info.access = entry->access;
    info.createdBy = entry->createdBy;
    return info;
}

void Machine::setVersion(const VersionInfo& version) {
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.version = version;
}

VersionInfo Machine::version() const {
    std::lock_guard<std::mutex> guard(state->model.lock);
    return state->model.configuration.version;
}

void Machine::setProcessorArchitecture(WORD architecture) {
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.processorArchitecture = architecture;
}

void Machine::setExported(const std::string& module, const std::string& function, bool exported) {
    const std::string entry = ExportEntryName(module, function);
    if (entry.empty()) {
        throw Poco::InvalidArgumentException("Not an emulated export", module + "!" + function);
    }
    std::lock_guard<std::mutex> guard(state->model.lock);
    if (exported) {
        state->model.configuration.hiddenExports.erase(entry);
    } else {
        state->model.configuration.hiddenExports.insert(entry);
    }
}

void Machine::setProductInfo(DWORD productType) {
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.productInfo = productType;
}

void Machine::setSystemMetric(int index, int value) {
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.systemMetrics[index] = value;
}

void Machine::setWow64(bool wow64) {
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.wow64 = wow64;
}

void Machine::setFolderPath(int csidl, const std::wstring& path) {
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.folders[csidl & ~CSIDL_FLAG_MASK] = path;
}

void Machine::setModuleFileName(const std::wstring& path) {
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.moduleFileName = path;
}

void Machine::setFile(const std::string& windowsPath, const FileEntry& entry) {
    // Only a full path on a drive: a relative one would depend on the current directory.
    const bool onDrive = windowsPath.size() >= 3 && windowsPath[1] == ':' &&
                         (windowsPath[2] == '\\' || windowsPath[2] == '/');
    const std::optional<std::string> full =
        onDrive ? FullWindowsPath(windowsPath) : std::optional<std::string>();
    if (!full || full->size() <= 3) {
        throw Poco::InvalidArgumentException("Not a full path to a file", windowsPath);
    }
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.files[PathKey(*full)] = ListedFile{*full, entry};
}

std::vector<LaunchRecord> Machine::launches() const {
    std::lock_guard<std::mutex> guard(state->model.lock);
    return state->model.configuration.launches;
}

void Machine::setCurrentDirectory(const std::wstring& path) {
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.currentDirectory = path;
}

void Machine::setHostRoot(const std::string& hostDirectory) {
    state->model.drives.setRoot(hostDirectory);
}

std::string Machine::hostRoot() const {
    return state->model.drives.root();
}

std::string Machine::hostPath(const std::string& windowsPath) const {
    return state->model.drives.hostPath(windowsPath);
}

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

void Machine::setConsoleSession(DWORD sessionId) {
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.consoleSession = sessionId;
}

DWORD Machine::consoleSession() const {
    std::lock_guard<std::mutex> guard(state->model.lock);
    return state->model.configuration.consoleSession;
}

void Machine::setSessionUser(DWORD sessionId, const std::string& sid) {
    requireSid(sid, true);
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.sessionUsers[sessionId] = sid;
}

void Machine::removeSession(DWORD sessionId) {
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.sessionUsers.erase(sessionId);
}

std::string Machine::sessionUser(DWORD sessionId) const {
    std::lock_guard<std::mutex> guard(state->model.lock);
    const auto& users = state->model.configuration.sessionUsers;
    const auto found = users.find(sessionId);
    return found == users.end() ? std::string() : found->second;
}

void Machine::setAccount(const Account& account) {
    requireSid(account.sid, false);
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.accounts[Poco::toUpper(account.sid)] = account;
}

std::optional<Account> Machine::account(const std::string& sid) const {
    std::lock_guard<std::mutex> guard(state->model.lock);
    const auto& accounts = state->model.configuration.accounts;
    const auto found = accounts.find(Poco::toUpper(sid));
    if (found == accounts.end()) {
        return std::nullopt;
    }
    return found->second;
}

void Machine::setProcess(const ProcessEntry& process) {
    requireSid(process.userSid, false);
    std::lock_guard<std::mutex> guard(state->model.lock);
    Configuration& configuration = state->model.configuration;
    for (ProcessEntry& existing : configuration.processes) {
        if (existing.processId == process.processId) {
            // Changed in place, it is the process that started then.
            const std::uint64_t startTime = existing.startTime;
            existing = process;
            if (existing.startTime == 0) {
                existing.startTime = startTime;
            }
            return;
        }
    }
    const auto exited = configuration.exitedProcesses.find(process.processId);
    if (exited != configuration.exitedProcesses.end()) {
        if (!exited->second.expired()) {
            throw Poco::InvalidArgumentException("A handle still holds process",
                                                 std::to_string(process.processId));
        }
        configuration.exitedProcesses.erase(exited);
    }
    configuration.processes.push_back(process);
    if (process.startTime == 0) {
        configuration.processes.back().startTime = FileTimeNow();
    }
}

void Machine::removeProcess(DWORD processId) {
    std::lock_guard<std::mutex> guard(state->model.lock);
    Configuration& configuration = state->model.configuration;
    const auto object = configuration.processObjects.find(processId);
    if (object != configuration.processObjects.end()) {
        object->second->exit(FileTimeNow());
        configuration.exitedProcesses[processId] = object->second;
        configuration.processObjects.erase(object);
    }
    std::vector<ProcessEntry>& processes = configuration.processes;
    processes.erase(
        std::remove_if(processes.begin(),
                       processes.end(),
                       [&](const ProcessEntry& process) { return process.processId == processId; }),
        processes.end());
}

std::vector<ProcessEntry> Machine::processes() const {
    std::lock_guard<std::mutex> guard(state->model.lock);
    return state->model.configuration.processes;
}

void Machine::setCurrentProcess(DWORD processId) {
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.currentProcessId = processId;
}

DWORD Machine::currentProcessId() const {
    std::lock_guard<std::mutex> guard(state->model.lock);
    return state->model.configuration.currentProcessId;
}

void Machine::setConnectionOwner(WORD localPort, DWORD processId) {
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.connectionOwners[localPort] = processId;
}

void Machine::setConnectionOwner(WORD localPort, WORD remotePort, DWORD processId) {
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.endpointOwners[{localPort, remotePort}] = processId;
}

void Machine::setDefaultConnectionOwner(DWORD processId) {
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.defaultConnectionOwner = processId;
}

DWORD Machine::defaultConnectionOwner() const {
    std::lock_guard<std::mutex> guard(state->model.lock);
    return state->model.configuration.defaultConnectionOwner;
}

DWORD Machine::redirectionTrustPolicy() const {
    return state->model.security.redirectionTrust();
}

}  // namespace Win32Emu
