// User environment blocks: CreateEnvironmentBlock from the token's account and the machine's
// folders; every block counted from its creation until DestroyEnvironmentBlock.

#include "machine/ApiSupport.h"
#include "machine/IdentityObjects.h"
#include "machine/MachineModel.h"

#include <Poco/String.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <shlobj.h>
#include <userenv.h>

extern char** environ;

using namespace Win32Emu;

namespace {

using Variables = std::vector<std::pair<std::string, std::string>>;

void setVariable(Variables& variables, const std::string& name, const std::string& value) {
    for (auto& variable : variables) {
        if (EqualNames(variable.first, name)) {
            variable.second = value;
            return;
        }
    }
    variables.emplace_back(name, value);
}

std::string folder(const Configuration& configuration, int csidl, const std::string& fallback) {
    const auto found = configuration.folders.find(csidl);
    return found == configuration.folders.end() || found->second.empty() ? fallback
                                                                         : ToUtf8(found->second);
}

std::string architectureName(WORD architecture) {
    switch (architecture) {
        case PROCESSOR_ARCHITECTURE_AMD64:
            return "AMD64";
        case PROCESSOR_ARCHITECTURE_IA64:
            return "IA64";
        case PROCESSOR_ARCHITECTURE_ARM64:
            return "ARM64";
        default:
            return "x86";
    }
}

// What userenv gives a user: the system's variables, then the profile's. Folders come from the
// machine as the emulated process sees them (a WOW64 process reads the 32-bit ProgramFilesDir).
void addUserVariables(const Configuration& configuration,
                      const std::string& userSid,
                      const Account& account,
                      Variables& variables) {
    const std::string windows = folder(configuration, CSIDL_WINDOWS, "C:\\Windows");
    const std::string drive = windows.substr(0, 2);
    const bool vista = configuration.version.majorVersion >= 6;
    const bool wide = configuration.processorArchitecture != PROCESSOR_ARCHITECTURE_INTEL;
    const std::string programFiles =
        folder(configuration, CSIDL_PROGRAM_FILES, drive + "\\Program Files");
    const std::string profiles = drive + (vista ? "\\Users" : "\\Documents and Settings");
    const std::string profile = userSid == "S-1-5-18"
                                    ? windows + "\\system32\\config\\systemprofile"
                                    : profiles + "\\" + account.name;
    const std::string appData = profile + (vista ? "\\AppData\\Roaming" : "\\Application Data");
    const std::string localAppData =
        profile + (vista ? "\\AppData\\Local" : "\\Local Settings\\Application Data");
    const std::string temp =
        profile + (vista ? "\\AppData\\Local\\Temp" : "\\Local Settings\\Temp");

    const std::string allUsers =
        vista ? folder(configuration, CSIDL_COMMON_APPDATA, drive + "\\ProgramData")
              : profiles + "\\All Users";
    setVariable(variables, "ALLUSERSPROFILE", allUsers);
    setVariable(variables, "CommonProgramFiles", programFiles + "\\Common Files");
    setVariable(variables, "ComSpec", windows + "\\system32\\cmd.exe");
    setVariable(variables, "NUMBER_OF_PROCESSORS", "4");
    setVariable(variables, "OS", "Windows_NT");
    setVariable(variables,
                "Path",
                windows + "\\system32;" + windows + ";" + windows + "\\System32\\Wbem;" + windows +
                    "\\System32\\WindowsPowerShell\\v1.0\\");
    setVariable(variables, "PATHEXT", ".COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH;.MSC");
    setVariable(
        variables, "PROCESSOR_ARCHITECTURE", architectureName(configuration.processorArchitecture));
    setVariable(variables, "ProgramFiles", programFiles);
    if (wide) {
        const std::string programFiles32 =
            folder(configuration, CSIDL_PROGRAM_FILESX86, drive + "\\Program Files (x86)");
        setVariable(variables, "ProgramFiles(x86)", programFiles32);
        setVariable(variables, "CommonProgramFiles(x86)", programFiles32 + "\\Common Files");
        setVariable(variables, "ProgramW6432", drive + "\\Program Files");
        setVariable(variables, "CommonProgramW6432", drive + "\\Program Files\\Common Files");
    }
    if (vista) {
        setVariable(variables, "ProgramData", allUsers);
        setVariable(variables, "PUBLIC", profiles + "\\Public");
        setVariable(variables, "LOCALAPPDATA", localAppData);
    }
    setVariable(variables, "SystemDrive", drive);
    setVariable(variables, "SystemRoot", windows);
    setVariable(variables, "windir", windows);

    setVariable(variables, "APPDATA", appData);
    setVariable(variables, "HOMEDRIVE", profile.substr(0, 2));
    setVariable(variables, "HOMEPATH", profile.substr(2));
    setVariable(variables, "TEMP", temp);
    setVariable(variables, "TMP", temp);
    setVariable(variables, "USERDOMAIN", account.domain);
    setVariable(variables, "USERNAME", account.name);
    setVariable(variables, "USERPROFILE", profile);
}

// Wide "NAME=value" strings, each with its zero, and the empty one that ends the block; in
// malloc'd memory, as DestroyEnvironmentBlock frees it.
WCHAR* buildBlock(const Variables& variables) {
    std::wstring text;
    for (const auto& variable : variables) {
        text += ToWide(variable.first + "=" + variable.second);
        text += L'\0';
    }
    text += L'\0';
    if (variables.empty()) {
        text += L'\0';
    }
    auto* block = static_cast<WCHAR*>(std::malloc(text.size() * sizeof(WCHAR)));
    if (block != nullptr) {
        std::memcpy(block, text.data(), text.size() * sizeof(WCHAR));
    }
    return block;
}

}  // namespace

extern "C" {

BOOL WINAPI CreateEnvironmentBlock(LPVOID* lpEnvironment, HANDLE hToken, BOOL bInherit) {
    const std::optional<HandleEntry> entry = Model().handles.entry(hToken);
    if (InjectedFailure(
            "CreateEnvironmentBlock", std::string(), entry ? entry->object->typeName() : "")) {
        return FALSE;
    }
    if (lpEnvironment == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (hToken == nullptr) {
        // The block of the system alone, without a user, is not emulated.
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    const auto token = entry ? std::dynamic_pointer_cast<TokenObject>(entry->object) : nullptr;
    if (!token) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // A primary token is duplicated to impersonate the user while the profile is read.
    const ACCESS_MASK needed =
        token->type == TokenPrimary ? TOKEN_QUERY | TOKEN_DUPLICATE : TOKEN_QUERY;
    if ((entry->access & needed) != needed) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }

    Variables variables;
    if (bInherit) {
        for (char** variable = environ; variable != nullptr && *variable != nullptr; ++variable) {
            const std::string text(*variable);
            const std::string::size_type equals = text.find('=');
            if (equals != std::string::npos && equals > 0) {
                setVariable(variables, text.substr(0, equals), text.substr(equals + 1));
            }
        }
    }
    {
        MachineModel& model = Model();
        std::lock_guard<std::mutex> guard(model.lock);
        const auto account = model.configuration.accounts.find(Poco::toUpper(token->userSid));
        if (account == model.configuration.accounts.end()) {
            // A user without an account here has no profile to read.
            SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
            return FALSE;
        }
        addUserVariables(model.configuration, token->userSid, account->second, variables);
    }
    // Windows keeps its blocks sorted by name, without regard to case.
    std::stable_sort(variables.begin(), variables.end(), [](const auto& a, const auto& b) {
        return Poco::icompare(a.first, b.first) < 0;
    });
    WCHAR* block = buildBlock(variables);
    if (block == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    Model().addEnvironmentBlock(block, EnvironmentOrigin{token->userSid, token->id});
    *lpEnvironment = block;
    return TRUE;
}

BOOL WINAPI DestroyEnvironmentBlock(LPVOID lpEnvironment) {
    if (InjectedFailure("DestroyEnvironmentBlock")) {
        return FALSE;
    }
    // Only blocks the emulation handed out (allocated with malloc) are freed; anything else is
    // refused rather than handed to free().
    if (lpEnvironment == nullptr || !Model().removeEnvironmentBlock(lpEnvironment)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::free(lpEnvironment);
    return TRUE;
}

BOOL WINAPI GetProfilesDirectoryW(LPWSTR lpProfileDir, LPDWORD lpcchSize) {
    if (InjectedFailure("GetProfilesDirectoryW")) {
        return FALSE;
    }
    if (lpcchSize == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::wstring path;
    {
        MachineModel& model = Model();
        std::lock_guard<std::mutex> guard(model.lock);
        const auto found = model.configuration.folders.find(CSIDL_PROFILES);
        if (found != model.configuration.folders.end()) {
            path = found->second;
        }
    }
    if (path.empty()) {
        // Windows reads the folder from the ProfileList key; a machine without one has no value.
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    const DWORD needed = static_cast<DWORD>(path.size() + 1);
    const bool fits = lpProfileDir != nullptr && *lpcchSize >= needed;
    *lpcchSize = needed;
    if (!fits) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::copy(path.begin(), path.end(), lpProfileDir);
    lpProfileDir[path.size()] = L'\0';
    return TRUE;
}

}  // extern "C"
