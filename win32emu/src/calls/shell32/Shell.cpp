// Shell folders: SHGetFolderPathW, which makes the folder when asked to.

#include "machine/ApiSupport.h"
#include "machine/FileSystem.h"
#include "machine/IdentityObjects.h"
#include "machine/MachineModel.h"

#include <Poco/String.h>

#include <algorithm>
#include <shlobj.h>
#include <string>

using namespace Win32Emu;

extern "C" {

HRESULT WINAPI
SHGetFolderPathW(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, LPWSTR pszPath) {
    static_cast<void>(hwnd);
    const int folder = csidl & ~CSIDL_FLAG_MASK;
    if (const std::optional<DWORD> error =
            InjectedError("SHGetFolderPathW", std::to_string(folder))) {
        SetLastError(*error);
        return *error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(*error);
    }
    if (pszPath == nullptr || (dwFlags != SHGFP_TYPE_CURRENT && dwFlags != SHGFP_TYPE_DEFAULT)) {
        return E_INVALIDARG;
    }
    pszPath[0] = L'\0';
    std::wstring path;
    {
        std::lock_guard<std::mutex> guard(Model().lock);
        const auto& folders = Model().configuration.folders;
        const auto found = folders.find(folder);
        if (found == folders.end()) {
            return E_INVALIDARG;
        }
        path = found->second;
        // A user's own profile, for a token of that user: the profiles folder and the account's
        // name, as Windows names new profiles.
        const auto profiles = folders.find(CSIDL_PROFILES);
        const auto token = hToken == nullptr || folder != CSIDL_PROFILE
                               ? nullptr
                               : Model().handles.findAs<TokenObject>(hToken);
        if (token) {
            const auto& accounts = Model().configuration.accounts;
            const auto account = accounts.find(Poco::toUpper(token->userSid));
            if (account == accounts.end() || profiles == folders.end()) {
                return E_FAIL;
            }
            path = profiles->second + L"\\" + ToWide(account->second.name);
        }
    }
    // A folder the machine lacks: known CSIDL, no folder.
    if (path.empty()) {
        return E_FAIL;
    }
    if (path.size() >= MAX_PATH) {
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    }
    // Asked to, the shell makes the folder and those above it, with what they inherit.
    if ((csidl & CSIDL_FLAG_CREATE) != 0) {
        const std::optional<std::string> fullPath = FullWindowsPath(ToUtf8(path));
        const DWORD error = fullPath ? CreateFolderPath(*fullPath) : ERROR_CALL_NOT_IMPLEMENTED;
        if (error != ERROR_SUCCESS) {
            return HRESULT_FROM_WIN32(error);
        }
    }
    std::copy(path.begin(), path.end(), pszPath);
    pszPath[path.size()] = L'\0';
    return S_OK;
}

}  // extern "C"
