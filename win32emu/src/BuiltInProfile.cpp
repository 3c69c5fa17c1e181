#include "MachineProfile.h"

namespace Win32Emu {

// The machine every process gets unless a profile file says otherwise: Windows 7 Professional SP1
// on x64, the 32-bit service running under WOW64, an administrator (with a UAC split token)
// logged on at the console in session 1, the client's machine-wide keys and the refresh token the
// client stored in that user's hive, the library roots the service may grant in, and a few
// programs to launch. The desktop client runs as that
// user (medium integrity) and owns every loopback connection that nobody else was said to own.
// Registry keys are named as the 32-bit service sees them.
const char* MachineProfile::builtInJson() {
    return R"json({
    "version": {
        "major": 6,
        "minor": 1,
        "build": 7601,
        "platformId": 2,
        "servicePack": "Service Pack 1",
        "servicePackMajor": 1,
        "servicePackMinor": 0,
        "suiteMask": 256,
        "productType": 1
    },
    "processorArchitecture": "x64",
    "wow64": true,
    "productInfo": 48,
    "systemMetrics": {
        "89": 0
    },
    "folders": {
        "0x23": "C:\\ProgramData",
        "0x24": "C:\\Windows",
        "0x26": "C:\\Program Files (x86)",
        "0x28": "C:\\Windows\\system32\\config\\systemprofile",
        "0x2a": "C:\\Program Files (x86)",
        "0x3e": "C:\\Users"
    },
    "moduleFileName": "C:\\Program Files (x86)\\Orvane Client\\OrvaneService.exe",
    "currentDirectory": "C:\\Windows\\system32",
    "consoleSession": 1,
    "sessions": {
        "0": { "user": "" },
        "1": { "user": "S-1-5-21-2254011875-3712098642-1289462413-1001" }
    },
    "accounts": {
        "S-1-5-18": { "name": "SYSTEM", "domain": "NT AUTHORITY" },
        "S-1-5-21-2254011875-3712098642-1289462413-1001": {
            "name": "Player",
            "domain": "GAMING-PC",
            "administrator": true,
            "linkedToken": true
        }
    },
    "processes": {
        "4": { "name": "System", "session": 0, "user": "S-1-5-18" },
        "484": { "name": "wininit.exe", "session": 0, "user": "S-1-5-18" },
        "556": { "name": "services.exe", "session": 0, "user": "S-1-5-18" },
        "612": { "name": "winlogon.exe", "session": 1, "user": "S-1-5-18" },
        "2412": {
            "name": "explorer.exe",
            "session": 1,
            "user": "S-1-5-21-2254011875-3712098642-1289462413-1001"
        },
        "3104": { "name": "OrvaneService.exe", "session": 0, "user": "S-1-5-18" },
        "5120": {
            "name": "OrvaneClient.exe",
            "session": 1,
            "user": "S-1-5-21-2254011875-3712098642-1289462413-1001"
        }
    },
    "currentProcess": 3104,
    "files": {
        "C:\\Windows\\notepad.exe": {},
        "C:\\Windows\\system32\\cmd.exe": {},
        "C:\\Program Files (x86)\\Orvane Client\\OrvaneService.exe": {},
        "C:\\Program Files (x86)\\Qovex Games\\Starfall\\Starfall.exe": {},
        "C:\\Program Files (x86)\\Qovex Games\\Starfall\\StarfallSetup.exe": {}
    },
    "defaultCaller": 5120,
    "registry": {
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Qovex\\OrvaneClient": {},
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Qovex\\Games": {},
        "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Orvane Client Service": {
            "ImagePath": "\"C:\\Program Files (x86)\\Orvane Client\\OrvaneService.exe\""
        },
        "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Orvane Client Service\\Parameters": {
            "LibraryRoots": {
                "type": "REG_MULTI_SZ",
                "data": ["C:\\Program Files (x86)\\Qovex Games", "C:\\Games"]
            }
        },
        "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Schedule": {
            "ImagePath": {
                "type": "REG_EXPAND_SZ",
                "data": "%systemroot%\\system32\\svchost.exe -k netsvcs"
            }
        },
        "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tcpip": {
            "ImagePath": {
                "type": "REG_EXPAND_SZ",
                "data": "System32\\drivers\\tcpip.sys"
            }
        },
        "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VendorUpdate": {
            "ImagePath": "\"C:\\Program Files (x86)\\Common Files\\Vendor\\Update\\updatesvc.exe\" /svc"
        },
        "HKEY_USERS\\.DEFAULT": {},
        "HKEY_USERS\\S-1-5-18": {},
        "HKEY_USERS\\S-1-5-21-2254011875-3712098642-1289462413-1001\\SOFTWARE\\Qovex\\Orvane": {
            "refreshToken": "rt1.Zk3pQ8vN2wLx7Ty5Rb0Hc4Md6Fs9Ja1Ge"
        }
    }
})json";
}

}  // namespace Win32Emu
