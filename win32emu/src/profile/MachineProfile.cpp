#include "profile/MachineProfile.h"

#include "Win32Emu/Machine.h"
#include "machine/ApiSupport.h"
#include "machine/Exports.h"
#include "profile/ProfileJson.h"

#include <limits>

namespace Win32Emu {

using namespace ProfileJson;

namespace {

WORD architectureOf(const Var& value, const std::string& where) {
    if (value.isString()) {
        const std::string name = value.extract<std::string>();
        if (name == "x86") {
            return PROCESSOR_ARCHITECTURE_INTEL;
        }
        if (name == "x64") {
            return PROCESSOR_ARCHITECTURE_AMD64;
        }
        if (name == "ia64") {
            return PROCESSOR_ARCHITECTURE_IA64;
        }
        if (name == "arm64") {
            return PROCESSOR_ARCHITECTURE_ARM64;
        }
        invalid(where, "must be x86, x64, ia64, arm64 or a PROCESSOR_ARCHITECTURE_ number");
    }
    return static_cast<WORD>(integerOf(value, where, 0, 0xFFFF));
}

}  // namespace

MachineProfile MachineProfile::builtIn() {
    MachineProfile profile;
    profile.overlay(builtInJson());
    return profile;
}

MachineProfile MachineProfile::withOverrides(const std::string& json) {
    MachineProfile profile = builtIn();
    profile.overlay(json);
    return profile;
}

void MachineProfile::overlay(const std::string& json) {
    const Object::Ptr document = parseDocument(json);
    for (const std::string& name : document->getNames()) {
        const Var value = document->get(name);
        if (name == "version") {
            overlayVersion(objectOf(value, name));
        } else if (name == "processorArchitecture") {
            processorArchitecture = architectureOf(value, name);
        } else if (name == "wow64") {
            wow64 = booleanOf(value, name);
        } else if (name == "productInfo") {
            productInfo = dwordOf(value, name);
        } else if (name == "systemMetrics") {
            const Object& metrics = objectOf(value, name);
            for (const std::string& index : metrics.getNames()) {
                const int metric = static_cast<int>(numberOfName(index, name, 0x7FFFFFFF));
                systemMetrics[metric] =
                    static_cast<int>(integerOf(metrics.get(index),
                                               name + "." + index,
                                               std::numeric_limits<int>::min(),
                                               std::numeric_limits<int>::max()));
            }
        } else if (name == "exports") {
            const Object& modules = objectOf(value, name);
            for (const std::string& module : modules.getNames()) {
                const Object& functions = objectOf(modules.get(module), name + "." + module);
                for (const std::string& function : functions.getNames()) {
                    const std::string where = name + "." + module + "." + function;
                    if (ExportEntryName(module, function).empty()) {
                        invalid(where, "is not an emulated export");
                    }
                    exports[{module, function}] = booleanOf(functions.get(function), where);
                }
            }
        } else if (name == "folders") {
            const Object& entries = objectOf(value, name);
            for (const std::string& csidl : entries.getNames()) {
                const int folder = static_cast<int>(numberOfName(csidl, name, 0xFF));
                const Var path = entries.get(csidl);
                if (path.isEmpty()) {
                    folders.erase(folder);
                } else {
                    folders[folder] = ToWide(textOf(path, name + "." + csidl));
                }
            }
        } else if (name == "moduleFileName") {
            moduleFileName = ToWide(textOf(value, name));
        } else if (name == "currentDirectory") {
            currentDirectory = ToWide(textOf(value, name));
        } else if (name == "consoleSession") {
            consoleSession = dwordOf(value, name);
        } else if (name == "sessions") {
            overlaySessions(objectOf(value, name));
        } else if (name == "accounts") {
            overlayAccounts(objectOf(value, name));
        } else if (name == "processes") {
            overlayProcesses(objectOf(value, name));
        } else if (name == "currentProcess") {
            currentProcess = dwordOf(value, name);
        } else if (name == "defaultCaller") {
            defaultCaller = dwordOf(value, name);
        } else if (name == "registry") {
            overlayRegistry(objectOf(value, name));
        } else if (name == "security") {
            overlaySecurity(objectOf(value, name));
        } else if (name == "reparsePoints") {
            overlayReparsePoints(objectOf(value, name));
        } else if (name == "files") {
            overlayFiles(objectOf(value, name));
        } else {
            invalid(name, "is not a member of a machine profile");
        }
    }
}

void MachineProfile::overlayVersion(const Object& members) {
    for (const std::string& name : members.getNames()) {
        const Var value = members.get(name);
        const std::string where = "version." + name;
        if (name == "major") {
            version.majorVersion = dwordOf(value, where);
        } else if (name == "minor") {
            version.minorVersion = dwordOf(value, where);
        } else if (name == "build") {
            version.buildNumber = dwordOf(value, where);
        } else if (name == "platformId") {
            version.platformId = dwordOf(value, where);
        } else if (name == "servicePack") {
            version.servicePack = textOf(value, where);
            if (version.servicePack.size() > 127) {
                invalid(where, "is longer than 127 characters");
            }
        } else if (name == "servicePackMajor") {
            version.servicePackMajor = static_cast<WORD>(integerOf(value, where, 0, 0xFFFF));
        } else if (name == "servicePackMinor") {
            version.servicePackMinor = static_cast<WORD>(integerOf(value, where, 0, 0xFFFF));
        } else if (name == "suiteMask") {
            version.suiteMask = static_cast<WORD>(integerOf(value, where, 0, 0xFFFF));
        } else if (name == "productType") {
            version.productType = static_cast<BYTE>(integerOf(value, where, 0, 0xFF));
        } else {
            invalid(where, "is not a member of version");
        }
    }
}

void MachineProfile::applyTo(Machine& machine) const {
    machine.setVersion(version);
    machine.setProcessorArchitecture(processorArchitecture);
    machine.setWow64(wow64);
    machine.setProductInfo(productInfo);
    for (const auto& metric : systemMetrics) {
        machine.setSystemMetric(metric.first, metric.second);
    }
    for (const auto& entry : exports) {
        machine.setExported(entry.first.first, entry.first.second, entry.second);
    }
    for (const auto& folder : folders) {
        machine.setFolderPath(folder.first, folder.second);
    }
    machine.setModuleFileName(moduleFileName);
    machine.setCurrentDirectory(currentDirectory);
    machine.setConsoleSession(consoleSession);
    for (const auto& session : sessionUsers) {
        machine.setSessionUser(session.first, session.second);
    }
    if (sessionUsers.count(0) == 0) {
        machine.removeSession(0);
    }
    for (const auto& account : accounts) {
        machine.setAccount(account.second);
    }
    for (const ProcessEntry& process : processes) {
        machine.setProcess(process);
    }
    machine.setCurrentProcess(currentProcess);
    for (const auto& file : files) {
        machine.setFile(file.second.first, file.second.second);
    }
    machine.setDefaultConnectionOwner(defaultCaller);
    // After wow64: keys are named as the process sees them, through its registry view.
    for (const RegistryKeyEntry& key : registry) {
        machine.createRegistryKey(key.path);
        for (const RegistryValueEntry& value : key.values) {
            if (value.type == REG_DWORD) {
                machine.setRegistryDword(key.path, value.name, value.number);
            } else if (value.type == REG_MULTI_SZ) {
                machine.setRegistryMultiString(key.path, value.name, value.strings);
            } else {
                machine.setRegistryString(key.path, value.name, value.text, value.type);
            }
        }
    }
    applySecurityTo(machine);
}

}  // namespace Win32Emu
