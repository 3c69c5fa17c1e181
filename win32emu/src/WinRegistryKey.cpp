// Poco::Util::WinRegistryKey over the emulated registry calls. POCO ships this class's header on
// every platform but its code only on Windows; this is that code, written from the header's
// contract and POCO's Windows behaviour: the same registry calls and the same exceptions
// (NotFoundException for a missing key or value, or a value of another type; SystemException when
// a write fails, a read-only key included).

#include "ApiSupport.h"

#include <Poco/Exception.h>
#include <Poco/Util/WinRegistryKey.h>

#include <cstring>
#include <vector>

namespace Poco {
namespace Util {

namespace {

std::wstring wide(const std::string& text) {
    return Win32Emu::ToWide(text);
}

std::string utf8(const std::wstring& text) {
    return Win32Emu::ToUtf8(text);
}

// Wide characters read from a value, up to the first zero.
std::string stringFromData(const std::vector<BYTE>& data) {
    return Win32Emu::Utf8FromWideData(data);
}

}  // namespace

WinRegistryKey::WinRegistryKey(const std::string& key, bool readOnly, REGSAM extraSam)
    : _hKey(0), _readOnly(readOnly), _extraSam(extraSam) {
    const std::string::size_type pos = key.find('\\');
    if (pos == std::string::npos) {
        throw InvalidArgumentException("Not a valid registry key", key);
    }
    _hRootKey = handleFor(key.substr(0, pos));
    _subKey = key.substr(pos + 1);
}

WinRegistryKey::WinRegistryKey(HKEY hRootKey,
                               const std::string& subKey,
                               bool readOnly,
                               REGSAM extraSam)
    : _hRootKey(hRootKey), _subKey(subKey), _hKey(0), _readOnly(readOnly), _extraSam(extraSam) {}

WinRegistryKey::~WinRegistryKey() {
    close();
}

void WinRegistryKey::setString(const std::string& name, const std::string& value) {
    open();
    const std::wstring uname = wide(name);
    const std::wstring uvalue = wide(value);
    if (RegSetValueExW(_hKey,
                       uname.c_str(),
                       0,
                       REG_SZ,
                       reinterpret_cast<const BYTE*>(uvalue.c_str()),
                       static_cast<DWORD>((uvalue.size() + 1) * sizeof(wchar_t))) !=
        ERROR_SUCCESS) {
        handleSetError(name);
    }
}

std::string WinRegistryKey::getString(const std::string& name) {
    open();
    const std::wstring uname = wide(name);
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExW(_hKey, uname.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_LINK)) {
        throw NotFoundException(key(name));
    }
    if (size == 0) {
        return std::string();
    }
    std::vector<BYTE> buffer(size);
    if (RegQueryValueExW(_hKey, uname.c_str(), nullptr, nullptr, buffer.data(), &size) !=
        ERROR_SUCCESS) {
        throw NotFoundException(key(name));
    }
    buffer.resize(size);
    return stringFromData(buffer);
}

void WinRegistryKey::setStringExpand(const std::string& name, const std::string& value) {
    open();
    const std::wstring uname = wide(name);
    const std::wstring uvalue = wide(value);
    if (RegSetValueExW(_hKey,
                       uname.c_str(),
                       0,
                       REG_EXPAND_SZ,
                       reinterpret_cast<const BYTE*>(uvalue.c_str()),
                       static_cast<DWORD>((uvalue.size() + 1) * sizeof(wchar_t))) !=
        ERROR_SUCCESS) {
        handleSetError(name);
    }
}

std::string WinRegistryKey::getStringExpand(const std::string& name) {
    const std::wstring raw = wide(getString(name));
    const DWORD needed = ExpandEnvironmentStringsW(raw.c_str(), nullptr, 0);
    if (needed == 0) {
        return utf8(raw);
    }
    std::vector<wchar_t> expanded(needed);
    ExpandEnvironmentStringsW(raw.c_str(), expanded.data(), needed);
    return utf8(expanded.data());
}

void WinRegistryKey::setBinary(const std::string& name, const std::vector<char>& value) {
    open();
    const std::wstring uname = wide(name);
    if (RegSetValueExW(_hKey,
                       uname.c_str(),
                       0,
                       REG_BINARY,
                       reinterpret_cast<const BYTE*>(value.data()),
                       static_cast<DWORD>(value.size())) != ERROR_SUCCESS) {
        handleSetError(name);
    }
}

std::vector<char> WinRegistryKey::getBinary(const std::string& name) {
    open();
    const std::wstring uname = wide(name);
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExW(_hKey, uname.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_BINARY) {
        throw NotFoundException(key(name));
    }
    std::vector<char> result(size);
    if (size > 0 && RegQueryValueExW(_hKey,
                                     uname.c_str(),
                                     nullptr,
                                     nullptr,
                                     reinterpret_cast<BYTE*>(result.data()),
                                     &size) != ERROR_SUCCESS) {
        throw NotFoundException(key(name));
    }
    result.resize(size);
    return result;
}

void WinRegistryKey::setInt(const std::string& name, int value) {
    open();
    const std::wstring uname = wide(name);
    const DWORD data = static_cast<DWORD>(value);
    if (RegSetValueExW(_hKey,
                       uname.c_str(),
                       0,
                       REG_DWORD,
                       reinterpret_cast<const BYTE*>(&data),
                       sizeof(data)) != ERROR_SUCCESS) {
        handleSetError(name);
    }
}

int WinRegistryKey::getInt(const std::string& name) {
    open();
    const std::wstring uname = wide(name);
    DWORD type = REG_NONE;
    DWORD data = 0;
    DWORD size = sizeof(data);
    // A value larger than four bytes does not fit and fails like a missing one.
    if (RegQueryValueExW(
            _hKey, uname.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) !=
            ERROR_SUCCESS ||
        (type != REG_DWORD && type != REG_DWORD_BIG_ENDIAN)) {
        throw NotFoundException(key(name));
    }
    return static_cast<int>(data);
}

#if defined(POCO_HAVE_INT64)

void WinRegistryKey::setInt64(const std::string& name, Poco::Int64 value) {
    open();
    const std::wstring uname = wide(name);
    if (RegSetValueExW(_hKey,
                       uname.c_str(),
                       0,
                       REG_QWORD,
                       reinterpret_cast<const BYTE*>(&value),
                       sizeof(value)) != ERROR_SUCCESS) {
        handleSetError(name);
    }
}

Poco::Int64 WinRegistryKey::getInt64(const std::string& name) {
    open();
    const std::wstring uname = wide(name);
    DWORD type = REG_NONE;
    Poco::Int64 data = 0;
    DWORD size = sizeof(data);
    if (RegQueryValueExW(
            _hKey, uname.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) !=
            ERROR_SUCCESS ||
        type != REG_QWORD) {
        throw NotFoundException(key(name));
    }
    return data;
}

#endif  // POCO_HAVE_INT64

void WinRegistryKey::deleteValue(const std::string& name) {
    open();
    const std::wstring uname = wide(name);
    if (RegDeleteValueW(_hKey, uname.c_str()) != ERROR_SUCCESS) {
        throw NotFoundException(key(name));
    }
}

void WinRegistryKey::deleteKey() {
    Keys keys;
    subKeys(keys);
    close();
    for (const std::string& subKeyName : keys) {
        WinRegistryKey subKey(_hRootKey, _subKey + "\\" + subKeyName, _readOnly, _extraSam);
        subKey.deleteKey();
    }
    const std::wstring usubKey = wide(_subKey);
    if (RegDeleteKeyExW(_hRootKey, usubKey.c_str(), _extraSam, 0) != ERROR_SUCCESS) {
        throw NotFoundException(key());
    }
}

bool WinRegistryKey::exists() {
    HKEY hKey = nullptr;
    const std::wstring usubKey = wide(_subKey);
    if (RegOpenKeyExW(_hRootKey, usubKey.c_str(), 0, KEY_READ | _extraSam, &hKey) !=
        ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(hKey);
    return true;
}

WinRegistryKey::Type WinRegistryKey::type(const std::string& name) {
    open();
    const std::wstring uname = wide(name);
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExW(_hKey, uname.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
        throw NotFoundException(key(name));
    }
    return static_cast<Type>(type);
}

bool WinRegistryKey::exists(const std::string& name) {
    HKEY hKey = nullptr;
    const std::wstring usubKey = wide(_subKey);
    if (RegOpenKeyExW(_hRootKey, usubKey.c_str(), 0, KEY_READ | _extraSam, &hKey) !=
        ERROR_SUCCESS) {
        return false;
    }
    const std::wstring uname = wide(name);
    const bool found =
        RegQueryValueExW(hKey, uname.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(hKey);
    return found;
}

void WinRegistryKey::subKeys(Keys& keys) {
    open();
    DWORD subKeyCount = 0;
    DWORD maxLength = 0;
    if (RegQueryInfoKeyW(_hKey,
                         nullptr,
                         nullptr,
                         nullptr,
                         &subKeyCount,
                         &maxLength,
                         nullptr,
                         nullptr,
                         nullptr,
                         nullptr,
                         nullptr,
                         nullptr) != ERROR_SUCCESS) {
        return;
    }
    std::vector<wchar_t> buffer(maxLength + 1);
    for (DWORD index = 0; index < subKeyCount; ++index) {
        DWORD length = static_cast<DWORD>(buffer.size());
        if (RegEnumKeyExW(
                _hKey, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr) ==
            ERROR_SUCCESS) {
            keys.push_back(utf8(std::wstring(buffer.data(), length)));
        }
    }
}

void WinRegistryKey::values(Values& vals) {
    open();
    DWORD valueCount = 0;
    DWORD maxLength = 0;
    if (RegQueryInfoKeyW(_hKey,
                         nullptr,
                         nullptr,
                         nullptr,
                         nullptr,
                         nullptr,
                         nullptr,
                         &valueCount,
                         &maxLength,
                         nullptr,
                         nullptr,
                         nullptr) != ERROR_SUCCESS) {
        return;
    }
    std::vector<wchar_t> buffer(maxLength + 1);
    for (DWORD index = 0; index < valueCount; ++index) {
        DWORD length = static_cast<DWORD>(buffer.size());
        if (RegEnumValueW(
                _hKey, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr) ==
            ERROR_SUCCESS) {
            vals.push_back(utf8(std::wstring(buffer.data(), length)));
        }
    }
}

void WinRegistryKey::open() {
    if (_hKey != 0) {
        return;
    }
    const std::wstring usubKey = wide(_subKey);
    if (_readOnly) {
        if (RegOpenKeyExW(_hRootKey, usubKey.c_str(), 0, KEY_READ | _extraSam, &_hKey) !=
            ERROR_SUCCESS) {
            _hKey = 0;
            throw NotFoundException("Cannot open registry ", key());
        }
    } else {
        if (RegCreateKeyExW(_hRootKey,
                            usubKey.c_str(),
                            0,
                            nullptr,
                            REG_OPTION_NON_VOLATILE,
                            KEY_READ | KEY_WRITE | _extraSam,
                            nullptr,
                            &_hKey,
                            nullptr) != ERROR_SUCCESS) {
            _hKey = 0;
            throw SystemException("Cannot open registry ", key());
        }
    }
}

void WinRegistryKey::close() {
    if (_hKey != 0) {
        RegCloseKey(_hKey);
        _hKey = 0;
    }
}

std::string WinRegistryKey::key() const {
    std::string result;
    if (_hRootKey == HKEY_CLASSES_ROOT) {
        result = "HKEY_CLASSES_ROOT";
    } else if (_hRootKey == HKEY_CURRENT_CONFIG) {
        result = "HKEY_CURRENT_CONFIG";
    } else if (_hRootKey == HKEY_CURRENT_USER) {
        result = "HKEY_CURRENT_USER";
    } else if (_hRootKey == HKEY_LOCAL_MACHINE) {
        result = "HKEY_LOCAL_MACHINE";
    } else if (_hRootKey == HKEY_USERS) {
        result = "HKEY_USERS";
    } else if (_hRootKey == HKEY_PERFORMANCE_DATA) {
        result = "HKEY_PERFORMANCE_DATA";
    } else {
        result = "(UNKNOWN)";
    }
    result += '\\';
    result += _subKey;
    return result;
}

std::string WinRegistryKey::key(const std::string& valueName) const {
    std::string result = key();
    if (!valueName.empty()) {
        result += '\\';
        result += valueName;
    }
    return result;
}

HKEY WinRegistryKey::handle() {
    open();
    return _hKey;
}

void WinRegistryKey::handleSetError(const std::string& name) {
    throw SystemException("Failed to set registry value", key(name));
}

HKEY WinRegistryKey::handleFor(const std::string& rootKey) {
    if (rootKey == "HKEY_CLASSES_ROOT") {
        return HKEY_CLASSES_ROOT;
    }
    if (rootKey == "HKEY_CURRENT_CONFIG") {
        return HKEY_CURRENT_CONFIG;
    }
    if (rootKey == "HKEY_CURRENT_USER") {
        return HKEY_CURRENT_USER;
    }
    if (rootKey == "HKEY_LOCAL_MACHINE") {
        return HKEY_LOCAL_MACHINE;
    }
    if (rootKey == "HKEY_USERS") {
        return HKEY_USERS;
    }
    if (rootKey == "HKEY_PERFORMANCE_DATA") {
        return HKEY_PERFORMANCE_DATA;
    }
    throw InvalidArgumentException("Not a valid root key", rootKey);
}

}  // namespace Util
}  // namespace Poco
