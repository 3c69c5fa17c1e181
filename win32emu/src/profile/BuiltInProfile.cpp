#include "profile/MachineProfile.h"

namespace Win32Emu {

// The machine every process gets unless a profile file says otherwise: Windows 11 Professional
// (23H2) on x64, the 32-bit service running under WOW64, an administrator (with a UAC split token)
// logged on at the console in session 1, the client's machine-wide keys and the refresh token the
// client stored in that user's hive, the library roots the service may grant in, a few
// programs to launch, and the access lists Windows ships with on the drive's root, Program Files,
// ProgramData, Windows and the profiles (masks in decimal: 2032127 full control, 1245631
// modify, 1179817 read and execute, 278 write data and append, 2684354560 GENERIC_READ|EXECUTE;
// flags 2 CI, 3 OI|CI, 10 CI|IO, 11 OI|CI|IO). The desktop client runs as that
// user (medium integrity) and owns every loopback connection that nobody else was said to own.
// Registry keys are named as the 32-bit service sees them.
const char* MachineProfile::builtInJson() {
    return R"json({
    "version": {
        "major": 10,
        "minor": 0,
        "build": 22631,
        "platformId": 2,
        "servicePack": "",
        "servicePackMajor": 0,
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
        "S-1-5-11": { "name": "Authenticated Users", "domain": "NT AUTHORITY" },
        "S-1-3-0": { "name": "CREATOR OWNER", "domain": "" },
        "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464": {
            "name": "TrustedInstaller",
            "domain": "NT SERVICE"
        },
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
        "C:\\Program Files (x86)\\Qovex Games\\Starfall\\StarfallSetup.exe": {},
        "C:\\Games\\Mine\\Mine.exe": {}
    },
    "defaultCaller": 5120,
    "security": {
        "C:\\": {
            "owner": "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
            "entries": [
                { "allow": "S-1-5-32-544", "mask": 2032127 },
                { "allow": "S-1-5-32-544", "mask": 2032127, "flags": 11 },
                { "allow": "S-1-5-18", "mask": 2032127 },
                { "allow": "S-1-5-18", "mask": 2032127, "flags": 11 },
                { "allow": "S-1-5-32-545", "mask": 1179817, "flags": 3 },
                { "allow": "S-1-5-11", "mask": 1245631, "flags": 11 },
                { "allow": "S-1-5-11", "mask": 4 }
            ]
        },
        "C:\\Program Files": {
            "owner": "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
            "protected": true,
            "entries": [
                { "allow": "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", "mask": 2032127 },
                { "allow": "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", "mask": 2032127, "flags": 10 },
                { "allow": "S-1-5-18", "mask": 1245631 },
                { "allow": "S-1-5-18", "mask": 2032127, "flags": 11 },
                { "allow": "S-1-5-32-544", "mask": 1245631 },
                { "allow": "S-1-5-32-544", "mask": 2032127, "flags": 11 },
                { "allow": "S-1-5-32-545", "mask": 1179817 },
                { "allow": "S-1-5-32-545", "mask": 2684354560, "flags": 11 },
                { "allow": "S-1-3-0", "mask": 2032127, "flags": 11 }
            ]
        },
        "C:\\Program Files (x86)": {
            "owner": "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
            "protected": true,
            "entries": [
                { "allow": "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", "mask": 2032127 },
                { "allow": "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", "mask": 2032127, "flags": 10 },
                { "allow": "S-1-5-18", "mask": 1245631 },
                { "allow": "S-1-5-18", "mask": 2032127, "flags": 11 },
                { "allow": "S-1-5-32-544", "mask": 1245631 },
                { "allow": "S-1-5-32-544", "mask": 2032127, "flags": 11 },
                { "allow": "S-1-5-32-545", "mask": 1179817 },
                { "allow": "S-1-5-32-545", "mask": 2684354560, "flags": 11 },
                { "allow": "S-1-3-0", "mask": 2032127, "flags": 11 }
            ]
        },
        "C:\\Windows": {
            "owner": "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
            "protected": true,
            "entries": [
                { "allow": "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", "mask": 2032127 },
                { "allow": "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", "mask": 2032127, "flags": 10 },
                { "allow": "S-1-5-18", "mask": 1245631 },
                { "allow": "S-1-5-18", "mask": 2032127, "flags": 11 },
                { "allow": "S-1-5-32-544", "mask": 1245631 },
                { "allow": "S-1-5-32-544", "mask": 2032127, "flags": 11 },
                { "allow": "S-1-5-32-545", "mask": 1179817 },
                { "allow": "S-1-5-32-545", "mask": 2684354560, "flags": 11 },
                { "allow": "S-1-3-0", "mask": 2032127, "flags": 11 }
            ]
        },
        "C:\\Windows\\system32": {
            "owner": "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
            "protected": true,
            "entries": [
                { "allow": "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", "mask": 2032127 },
                { "allow": "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", "mask": 2032127, "flags": 10 },
                { "allow": "S-1-5-18", "mask": 1245631 },
                { "allow": "S-1-5-18", "mask": 2032127, "flags": 11 },
                { "allow": "S-1-5-32-544", "mask": 1245631 },
                { "allow": "S-1-5-32-544", "mask": 2032127, "flags": 11 },
                { "allow": "S-1-5-32-545", "mask": 1179817 },
                { "allow": "S-1-5-32-545", "mask": 2684354560, "flags": 11 },
                { "allow": "S-1-3-0", "mask": 2032127, "flags": 11 }
            ]
        },
        "C:\\ProgramData": {
            "owner": "S-1-5-18",
            "protected": true,
            "entries": [
                { "allow": "S-1-5-18", "mask": 2032127, "flags": 3 },
                { "allow": "S-1-5-32-544", "mask": 2032127, "flags": 3 },
                { "allow": "S-1-3-0", "mask": 2032127, "flags": 11 },
                { "allow": "S-1-5-32-545", "mask": 1179817, "flags": 3 },
                { "allow": "S-1-5-32-545", "mask": 278, "flags": 2 }
            ]
        },
        "C:\\Users": {
            "owner": "S-1-5-18",
            "protected": true,
            "entries": [
                { "allow": "S-1-5-18", "mask": 2032127, "flags": 3 },
                { "allow": "S-1-5-32-544", "mask": 2032127, "flags": 3 },
                { "allow": "S-1-5-32-545", "mask": 1179817 },
                { "allow": "S-1-5-32-545", "mask": 2684354560, "flags": 11 },
                { "allow": "S-1-1-0", "mask": 1179817 },
                { "allow": "S-1-1-0", "mask": 2684354560, "flags": 11 }
            ]
        },
        "C:\\Users\\Player": {
            "owner": "S-1-5-21-2254011875-3712098642-1289462413-1001",
            "protected": true,
            "entries": [
                { "allow": "S-1-5-18", "mask": 2032127, "flags": 3 },
                { "allow": "S-1-5-32-544", "mask": 2032127, "flags": 3 },
                { "allow": "S-1-5-21-2254011875-3712098642-1289462413-1001", "mask": 2032127, "flags": 3 }
            ]
        }
    },
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
