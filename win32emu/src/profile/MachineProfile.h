#pragma once

// A machine profile: the built-in description of a plausible machine, optionally with a JSON
// document on top that overrides parts of it (format: win32emu/SUPPORTED.md). A profile is read
// and checked whole, then applied to a machine that was just reset.

#include "Win32Emu/MachineTypes.h"

#include <Poco/JSON/Object.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace Win32Emu {

class Machine;

class MachineProfile {
public:
    static MachineProfile builtIn();
    // The built-in profile with `json` on top. Poco::JSON::JSONException for text that is not
    // JSON, Poco::DataFormatException for a member that is unknown or of the wrong kind.
    static MachineProfile withOverrides(const std::string& json);
    static const char* builtInJson();

    void applyTo(Machine& machine) const;

private:
    struct RegistryValueEntry {
        std::string name;
        DWORD type = REG_SZ;
        std::string text;
        DWORD number = 0;
        std::vector<std::string> strings;  // REG_MULTI_SZ
    };
    struct RegistryKeyEntry {
        std::string path;
        std::vector<RegistryValueEntry> values;
    };

    struct SecurityEntry {
        std::string object;
        std::optional<std::string> owner;
        std::optional<std::vector<AccessEntry>> entries;
        bool isProtected = false;
    };
    struct ReparseEntry {
        std::string path;
        std::string target;
        bool junction = true;
        bool byAdministrator = true;
    };

    MachineProfile() = default;
    void overlay(const std::string& json);
    void overlayVersion(const Poco::JSON::Object& version);
    void overlayRegistry(const Poco::JSON::Object& registry);
    void overlaySessions(const Poco::JSON::Object& sessions);
    void overlayAccounts(const Poco::JSON::Object& accounts);
    void overlayProcesses(const Poco::JSON::Object& processes);
    void overlayFiles(const Poco::JSON::Object& files);
    RegistryKeyEntry& registryKey(const std::string& path);
    void overlaySecurity(const Poco::JSON::Object& security);
    void overlayReparsePoints(const Poco::JSON::Object& points);
    void applySecurityTo(Machine& machine) const;

    VersionInfo version;
    WORD processorArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
    bool wow64 = false;
    DWORD productInfo = PRODUCT_UNDEFINED;
    std::map<int, int> systemMetrics;
    std::map<std::pair<std::string, std::string>, bool> exports;
    std::map<int, std::wstring> folders;
    std::wstring moduleFileName;
    std::wstring currentDirectory = L"C:\\Windows\\system32";
    DWORD consoleSession = 0xFFFFFFFF;
    std::map<DWORD, std::string> sessionUsers;
    std::map<std::string, Account> accounts;
    std::vector<ProcessEntry> processes;  // in document order
    DWORD currentProcess = 0;
    DWORD defaultCaller = 0;  // the owner of loopback connections nobody registered
    std::vector<RegistryKeyEntry> registry;
    std::vector<SecurityEntry> security;  // in document order
    std::vector<ReparseEntry> reparsePoints;
    // By path in lower case: the path as written, and its marks.
    std::map<std::string, std::pair<std::string, FileEntry>> files;
};

}  // namespace Win32Emu
