// The registry calls of advapi32 over the emulated registry. As on Windows they return their
// error code and leave the last error alone.

#include "machine/ApiSupport.h"
#include "machine/MachineModel.h"
#include "machine/RegistryKeyObject.h"

#include <algorithm>
#include <cstring>

using namespace Win32Emu;

namespace {

// A key handle resolved: one of the predefined root keys or a key opened before.
struct KeyHandle {
    RegistryKeyPtr key;
    Hive hive = Hive::LocalMachine;
    REGSAM access = 0;
    std::string path;
    bool predefined = false;
};

LONG resolve(HKEY handle, KeyHandle& resolved) {
    if (handle == HKEY_LOCAL_MACHINE || handle == HKEY_USERS) {
        resolved.hive = handle == HKEY_LOCAL_MACHINE ? Hive::LocalMachine : Hive::Users;
        resolved.key = Model().registry.hive(resolved.hive);
        resolved.access = KEY_ALL_ACCESS;
        resolved.path = handle == HKEY_LOCAL_MACHINE ? "HKEY_LOCAL_MACHINE" : "HKEY_USERS";
        resolved.predefined = true;
        return ERROR_SUCCESS;
    }
    if (handle == HKEY_CLASSES_ROOT || handle == HKEY_CURRENT_USER ||
        handle == HKEY_CURRENT_CONFIG || handle == HKEY_PERFORMANCE_DATA) {
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    const auto object = Model().handles.findAs<RegistryKeyObject>(handle);
    if (!object) {
        return ERROR_INVALID_HANDLE;
    }
    resolved.key = object->key;
    resolved.hive = object->hive;
    resolved.access = object->access;
    resolved.path = object->path;
    return ERROR_SUCCESS;
}

// Generic rights mapped onto the key rights they stand for.
REGSAM keyRights(REGSAM desired) {
    REGSAM rights = desired & ~static_cast<REGSAM>(KEY_WOW64_RES);
    if ((rights & (GENERIC_READ | GENERIC_EXECUTE)) != 0) {
        rights |= KEY_READ;
    }
    if ((rights & GENERIC_WRITE) != 0) {
        rights |= KEY_WRITE;
    }
    if ((rights & (GENERIC_ALL | MAXIMUM_ALLOWED)) != 0) {
        rights |= KEY_ALL_ACCESS;
    }
    return rights;
}

std::string joinPath(const std::string& base, const std::string& subKey) {
    return subKey.empty() ? base : base + "\\" + subKey;
}

// The path below `base`, through the caller's registry view when it starts at a root key.
std::vector<std::string> pathBelow(const KeyHandle& base, const std::string& subKey, REGSAM sam) {
    std::vector<std::string> path = RegistryModel::splitPath(subKey);
    if (base.predefined && Model().uses32BitRegistryView(sam)) {
        RegistryModel::redirectTo32BitView(base.hive, path);
    }
    return path;
}

LONG openKey(HKEY hKey, LPCWSTR lpSubKey, REGSAM samDesired, PHKEY phkResult, bool openLink) {
    KeyHandle base;
    const LONG resolved = resolve(hKey, base);
    const std::string subKey = ToUtf8(lpSubKey);
    if (const std::optional<DWORD> error = InjectedError(
            "RegOpenKeyExW", resolved == ERROR_SUCCESS ? joinPath(base.path, subKey) : subKey)) {
        return static_cast<LONG>(*error);
    }
    if (resolved != ERROR_SUCCESS) {
        return resolved;
    }
    if (phkResult == nullptr ||
        (samDesired & KEY_WOW64_RES) == static_cast<REGSAM>(KEY_WOW64_RES)) {
        return ERROR_INVALID_PARAMETER;
    }
    const std::vector<std::string> path = pathBelow(base, subKey, samDesired);
    // A root key opened again is the root key itself.
    if (base.predefined && subKey.empty()) {
        *phkResult = hKey;
        return ERROR_SUCCESS;
    }
    RegistryKeyPtr key;
    const LONG result = Model().registry.openKey(base.key, path, false, key, nullptr, openLink);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    *phkResult = reinterpret_cast<HKEY>(Model().handles.insert(
        std::make_shared<RegistryKeyObject>(
            key, base.hive, keyRights(samDesired), joinPath(base.path, subKey)),
        "RegOpenKeyExW"));
    return ERROR_SUCCESS;
}

// Resolves `hKey` and checks that it was opened with `needed`.
LONG resolveFor(HKEY hKey, REGSAM needed, KeyHandle& resolved) {
    const LONG result = resolve(hKey, resolved);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    return (resolved.access & needed) == needed ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

// Copies a name into a caller's buffer of *length characters; on success *length is the name's
// length without the terminating zero.
LONG copyName(const std::string& name, LPWSTR buffer, LPDWORD length) {
    const std::wstring wide = ToWide(name);
    if (*length <= wide.size()) {
        return ERROR_MORE_DATA;
    }
    std::copy(wide.begin(), wide.end(), buffer);
    buffer[wide.size()] = L'\0';
    *length = static_cast<DWORD>(wide.size());
    return ERROR_SUCCESS;
}

// Copies value data the way RegQueryValueExW does: size only without a buffer, ERROR_MORE_DATA
// (with the size needed) when the buffer is too small.
LONG copyData(const RegistryValue& value, LPDWORD type, LPBYTE data, LPDWORD size) {
    if (data != nullptr && size == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (type != nullptr) {
        *type = value.type;
    }
    const DWORD needed = static_cast<DWORD>(value.data.size());
    if (data != nullptr && *size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (data != nullptr && needed > 0) {
        std::memcpy(data, value.data.data(), needed);
    }
    if (size != nullptr) {
        *size = needed;
    }
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" {

LSTATUS WINAPI
RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
    // Opening a link as itself is the one option emulated.
    if ((ulOptions & ~static_cast<DWORD>(REG_OPTION_OPEN_LINK)) != 0) {
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    return openKey(hKey, lpSubKey, samDesired, phkResult, (ulOptions & REG_OPTION_OPEN_LINK) != 0);
}

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
    if (const std::optional<DWORD> error = InjectedError("RegCloseKey")) {
        return static_cast<LONG>(*error);
    }
    KeyHandle resolved;
    const LONG result = resolve(hKey, resolved);
    if (result != ERROR_SUCCESS || resolved.predefined) {
        return result;
    }
    return Model().handles.remove(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS WINAPI RegQueryValueExW(HKEY hKey,
                                LPCWSTR lpValueName,
                                LPDWORD lpReserved,
                                LPDWORD lpType,
                                LPBYTE lpData,
                                LPDWORD lpcbData) {
    const std::string name = ToUtf8(lpValueName);
    if (const std::optional<DWORD> error = InjectedError("RegQueryValueExW", name)) {
        return static_cast<LONG>(*error);
    }
    KeyHandle key;
    const LONG result = resolveFor(hKey, KEY_QUERY_VALUE, key);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    if (lpReserved != nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    RegistryValue value;
    const LONG found = Model().registry.queryValue(key.key, name, value);
    if (found != ERROR_SUCCESS) {
        return found;
    }
    return copyData(value, lpType, lpData, lpcbData);
}

LSTATUS WINAPI RegEnumKeyExW(HKEY hKey,
                             DWORD dwIndex,
                             LPWSTR lpName,
                             LPDWORD lpcchName,
                             LPDWORD lpReserved,
                             LPWSTR lpClass,
                             LPDWORD lpcchClass,
                             PFILETIME lpftLastWriteTime) {
    if (const std::optional<DWORD> error = InjectedError("RegEnumKeyExW")) {
        return static_cast<LONG>(*error);
    }
    KeyHandle key;
    const LONG result = resolveFor(hKey, KEY_ENUMERATE_SUB_KEYS, key);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    if (lpName == nullptr || lpcchName == nullptr || lpReserved != nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    std::string name;
    const LONG found = Model().registry.subKeyAt(key.key, dwIndex, name);
    if (found != ERROR_SUCCESS) {
        return found;
    }
    const LONG copied = copyName(name, lpName, lpcchName);
    if (copied != ERROR_SUCCESS) {
        return copied;
    }
    // Keys have no class and no recorded write time here.
    if (lpClass != nullptr && lpcchClass != nullptr && *lpcchClass > 0) {
        lpClass[0] = L'\0';
    }
    if (lpcchClass != nullptr) {
        *lpcchClass = 0;
    }
    if (lpftLastWriteTime != nullptr) {
        *lpftLastWriteTime = FILETIME{0, 0};
    }
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegEnumValueW(HKEY hKey,
                             DWORD dwIndex,
                             LPWSTR lpValueName,
                             LPDWORD lpcchValueName,
                             LPDWORD lpReserved,
                             LPDWORD lpType,
                             LPBYTE lpData,
                             LPDWORD lpcbData) {
    if (const std::optional<DWORD> error = InjectedError("RegEnumValueW")) {
        return static_cast<LONG>(*error);
    }
    KeyHandle key;
    const LONG result = resolveFor(hKey, KEY_QUERY_VALUE, key);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    if (lpValueName == nullptr || lpcchValueName == nullptr || lpReserved != nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    std::string name;
    RegistryValue value;
    const LONG found = Model().registry.valueAt(key.key, dwIndex, name, value);
    if (found != ERROR_SUCCESS) {
        return found;
    }
    const LONG copied = copyName(name, lpValueName, lpcchValueName);
    if (copied != ERROR_SUCCESS) {
        return copied;
    }
    return copyData(value, lpType, lpData, lpcbData);
}

LSTATUS WINAPI RegQueryInfoKeyW(HKEY hKey,
                                LPWSTR lpClass,
                                LPDWORD lpcchClass,
                                LPDWORD lpReserved,
                                LPDWORD lpcSubKeys,
                                LPDWORD lpcbMaxSubKeyLen,
                                LPDWORD lpcbMaxClassLen,
                                LPDWORD lpcValues,
                                LPDWORD lpcbMaxValueNameLen,
                                LPDWORD lpcbMaxValueLen,
                                LPDWORD lpcbSecurityDescriptor,
                                PFILETIME lpftLastWriteTime) {
    if (const std::optional<DWORD> error = InjectedError("RegQueryInfoKeyW")) {
        return static_cast<LONG>(*error);
    }
    KeyHandle key;
    const LONG result = resolveFor(hKey, KEY_QUERY_VALUE, key);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    if (lpReserved != nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    RegistryModel::KeyInfo info;
    const LONG found = Model().registry.info(key.key, info);
    if (found != ERROR_SUCCESS) {
        return found;
    }
    if (lpClass != nullptr && lpcchClass != nullptr && *lpcchClass > 0) {
        lpClass[0] = L'\0';
    }
    // clang-format off
    if (lpcchClass != nullptr) *lpcchClass = 0;
    if (lpcSubKeys != nullptr) *lpcSubKeys = info.subKeys;
    if (lpcbMaxSubKeyLen != nullptr) *lpcbMaxSubKeyLen = info.maxSubKeyLength;
    if (lpcbMaxClassLen != nullptr) *lpcbMaxClassLen = 0;
    if (lpcValues != nullptr) *lpcValues = info.values;
    if (lpcbMaxValueNameLen != nullptr) *lpcbMaxValueNameLen = info.maxValueNameLength;
    if (lpcbMaxValueLen != nullptr) *lpcbMaxValueLen = info.maxValueLength;
    if (lpcbSecurityDescriptor != nullptr) *lpcbSecurityDescriptor = 0;
    if (lpftLastWriteTime != nullptr) *lpftLastWriteTime = FILETIME{0, 0};
    // clang-format on
    return ERROR_SUCCESS;
}

}  // extern "C"
