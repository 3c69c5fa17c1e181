// The installer's one custom action (deferred, as LocalSystem): LibraryRoots, fix-dir's allow-list,
// becomes the administrator's value once it exists. An install, upgrade, repair or reinstall
// writes the default (CustomActionData: the games' folder) only where the value is absent, and
// never reads or rewrites a value that is there, whatever its type. No component owns the value,
// so no uninstall or upgrade removes it; the service's key goes with the service.
//
// Not a component with a registry search and a condition: Wine's AppSearch cannot read a
// REG_MULTI_SZ value and ignores NeverOverwrite, and on Windows a component's condition counts at
// its first install only: a repair reinstalls the component that install wrote.
// clang-format off
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
// clang-format on

#include <string>

namespace {

const wchar_t ParametersKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\Orvane Client Service\\Parameters";
const wchar_t LibraryRootsName[] = L"LibraryRoots";

// One line in the installer's log (msiexec /l*v).
void Log(MSIHANDLE install, const std::wstring& text) {
    const MSIHANDLE record = MsiCreateRecord(1);
    if (record == 0) {
        return;
    }
    MsiRecordSetStringW(record, 0, text.c_str());
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
    MsiCloseHandle(record);
}

std::wstring Property(MSIHANDLE install, const wchar_t* name) {
    wchar_t empty[1] = L"";
    DWORD size = 0;
    if (MsiGetPropertyW(install, name, empty, &size) != ERROR_MORE_DATA) {
        return std::wstring();
    }
    std::wstring value(size + 1, L'\0');
    size = static_cast<DWORD>(value.size());
    if (MsiGetPropertyW(install, name, &value[0], &size) != ERROR_SUCCESS) {
        return std::wstring();
    }
    value.resize(size);
    return value;
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall WriteLibraryRootsIfAbsent(MSIHANDLE install) {
    const std::wstring defaultRoot = Property(install, L"CustomActionData");
    if (defaultRoot.empty()) {
        Log(install, L"LibraryRoots: no default folder was handed to the action");
        return ERROR_INSTALL_FAILURE;
    }

    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                                     ParametersKey,
                                     0,
                                     nullptr,
                                     REG_OPTION_NON_VOLATILE,
                                     KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY,
                                     nullptr,
                                     &key,
                                     nullptr);
    if (status != ERROR_SUCCESS) {
        Log(install, L"LibraryRoots: RegCreateKeyExW failed, error " + std::to_wstring(status));
        return ERROR_INSTALL_FAILURE;
    }

    status = RegQueryValueExW(key, LibraryRootsName, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_SUCCESS) {
        RegCloseKey(key);
        Log(install, L"LibraryRoots: present, kept as it is");
        return ERROR_SUCCESS;
    }
    if (status != ERROR_FILE_NOT_FOUND) {
        RegCloseKey(key);
        // Unknown is not absent: an administrator's value may be there.
        Log(install, L"LibraryRoots: RegQueryValueExW failed, error " + std::to_wstring(status));
        return ERROR_INSTALL_FAILURE;
    }

    // REG_MULTI_SZ: the one folder, then the empty string that ends the list.
    std::wstring data = defaultRoot;
    data.push_back(L'\0');
    data.push_back(L'\0');
    status = RegSetValueExW(key,
                            LibraryRootsName,
                            0,
                            REG_MULTI_SZ,
                            reinterpret_cast<const BYTE*>(data.data()),
                            static_cast<DWORD>(data.size() * sizeof(wchar_t)));
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        Log(install, L"LibraryRoots: RegSetValueExW failed, error " + std::to_wstring(status));
        return ERROR_INSTALL_FAILURE;
    }
    Log(install, L"LibraryRoots: absent, set to " + defaultRoot);
    return ERROR_SUCCESS;
}
