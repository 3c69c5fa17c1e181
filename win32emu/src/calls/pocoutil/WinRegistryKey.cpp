// Poco::Util::WinRegistryKey over the emulated registry calls. POCO ships this class's header on
// every platform but its code only on Windows; this is the part of that code the service reads
// with, written from the header's contract and POCO's Windows behaviour: the same registry calls
// and the same exceptions (NotFoundException for a missing key or value, or a value of another
// type). The members nothing calls are left undefined, so a new caller fails to link.

#include "machine/ApiSupport.h"

#include <Poco/Exception.h>
#include <Poco/Util/WinRegistryKey.h>

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

WinRegistryKey::~WinRegistryKey() {
    close();
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
    // Nothing here writes the registry through this class: a writable key is not modelled.
    if (!_readOnly) {
        throw NotImplementedException("Writable registry key", key());
    }
    const std::wstring usubKey = wide(_subKey);
    if (RegOpenKeyExW(_hRootKey, usubKey.c_str(), 0, KEY_READ | _extraSam, &_hKey) !=
        ERROR_SUCCESS) {
        _hKey = 0;
        throw NotFoundException("Cannot open registry ", key());
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
