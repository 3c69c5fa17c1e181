#include "core/windows/OperatingSystem.h"

#include "core/logfacade/LogFacade.h"
#include "core/windows/Kernel32Function.h"
#include "core/windows/Win32Api.h"

#include <cstring>

namespace OrvaneClient {
namespace {

using GetNativeSystemInfoFunction = void(WINAPI*)(LPSYSTEM_INFO);
using GetProductInfoFunction = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, PDWORD);

constexpr size_t VersionNameCapacity = 1024;

struct EditionName {
    DWORD productType;
    const char* text;
};

// clang-format off
const EditionName EditionNames[] = {
    {PRODUCT_ULTIMATE,                     "Ultimate Edition"},
    {PRODUCT_HOME_BASIC,                   "Home Basic Edition"},
    {PRODUCT_HOME_PREMIUM,                 "Home Premium Edition"},
    {PRODUCT_ENTERPRISE,                   "Enterprise Edition"},
    {PRODUCT_BUSINESS,                     "Business Edition"},
    {PRODUCT_STANDARD_SERVER,              "Standard Edition"},
    {PRODUCT_DATACENTER_SERVER,            "Datacenter Edition"},
    {PRODUCT_SMALLBUSINESS_SERVER,         "Small Business Server"},
    {PRODUCT_ENTERPRISE_SERVER,            "Enterprise Edition"},
    {PRODUCT_STARTER,                      "Starter Edition"},
    {PRODUCT_DATACENTER_SERVER_CORE,       "Datacenter Edition (core installation)"},
    {PRODUCT_STANDARD_SERVER_CORE,         "Standard Edition (core installation)"},
    {PRODUCT_ENTERPRISE_SERVER_CORE,       "Enterprise Edition (core installation)"},
    {PRODUCT_ENTERPRISE_SERVER_IA64,       "Enterprise Edition for Itanium-based Systems"},
    {PRODUCT_WEB_SERVER,                   "Web Server Edition"},
    {PRODUCT_CLUSTER_SERVER,               "Cluster Server Edition"},
    {PRODUCT_SMALLBUSINESS_SERVER_PREMIUM, "Small Business Server Premium Edition"},
    {PRODUCT_PROFESSIONAL,                 "Professional"},
};
// clang-format on

WORD NativeProcessorArchitecture() {
    SYSTEM_INFO systemInfo;
    std::memset(&systemInfo, 0, sizeof(systemInfo));
    // A 32-bit process on 64-bit Windows must ask for the native architecture.
    const auto getNativeSystemInfo =
        FindKernel32Function<GetNativeSystemInfoFunction>("GetNativeSystemInfo");
    if (getNativeSystemInfo != nullptr) {
        getNativeSystemInfo(&systemInfo);
    } else {
        GetSystemInfo(&systemInfo);
    }
    return systemInfo.wProcessorArchitecture;
}

DWORD ProductType(const OSVERSIONINFOEXA& version) {
    DWORD productType = 0;
    const auto getProductInfo = FindKernel32Function<GetProductInfoFunction>("GetProductInfo");
    // Version 6 always exports it; a system that does not gets no edition name rather than a
    // call through a null pointer.
    if (getProductInfo != nullptr) {
        getProductInfo(version.dwMajorVersion, version.dwMinorVersion, 0, 0, &productType);
    }
    return productType;
}

std::string EditionText(const OSVERSIONINFOEXA& version) {
    const DWORD productType = ProductType(version);
    for (const EditionName& edition : EditionNames) {
        if (edition.productType == productType) {
            return edition.text;
        }
    }
    return std::string();
}

std::string VersionSixName(const OSVERSIONINFOEXA& version) {
    std::string name;
    switch (version.dwMinorVersion) {
        case 0:
            name = "Windows Vista ";
            break;
        case 1:
            name = "Windows 7 ";
            break;
        case 2:
            name = "Windows 8 ";
            break;
        case 3:
            name = "Windows 8.1 ";
            break;
        default:
            break;
    }
    return name + EditionText(version);
}

// Windows 11 kept major version 10; only the build number tells it from Windows 10.
std::string VersionTenName(const OSVERSIONINFOEXA& version) {
    constexpr DWORD FirstWindowsElevenBuild = 22000;
    const char* const name =
        version.dwBuildNumber < FirstWindowsElevenBuild ? "Windows 10 " : "Windows 11 ";
    return name + EditionText(version);
}

std::string ServerTwoThousandThreeName(const OSVERSIONINFOEXA& version, WORD architecture) {
    const WORD suite = version.wSuiteMask;
    std::string name;
    if (GetSystemMetrics(SM_SERVERR2) != 0) {
        name = "Windows Server 2003 R2, ";
    } else if (suite & VER_SUITE_STORAGE_SERVER) {
        name = "Windows Storage Server 2003";
    } else if (suite & VER_SUITE_WH_SERVER) {
        name = "Windows Home Server";
    } else if (version.wProductType == VER_NT_WORKSTATION &&
               architecture == PROCESSOR_ARCHITECTURE_AMD64) {
        name = "Windows XP Professional x64 Edition";
    } else {
        name = "Windows Server 2003, ";
    }

    if (version.wProductType == VER_NT_WORKSTATION) {
        return name;
    }
    if (architecture == PROCESSOR_ARCHITECTURE_IA64) {
        if (suite & VER_SUITE_DATACENTER) {
            name += "Datacenter Edition for Itanium-based Systems";
        } else if (suite & VER_SUITE_ENTERPRISE) {
            name += "Enterprise Edition for Itanium-based Systems";
        }
    } else if (architecture == PROCESSOR_ARCHITECTURE_AMD64) {
        if (suite & VER_SUITE_DATACENTER) {
            name += "Datacenter x64 Edition";
        } else if (suite & VER_SUITE_ENTERPRISE) {
            name += "Enterprise x64 Edition";
        } else {
            name += "Standard x64 Edition";
        }
    } else {
        if (suite & VER_SUITE_COMPUTE_SERVER) {
            name += "Compute Cluster Edition";
        } else if (suite & VER_SUITE_DATACENTER) {
            name += "Datacenter Edition";
        } else if (suite & VER_SUITE_ENTERPRISE) {
            name += "Enterprise Edition";
        } else if (suite & VER_SUITE_BLADE) {
            name += "Web Edition";
        } else {
            name += "Standard Edition";
        }
    }
    return name;
}

std::string XpName(const OSVERSIONINFOEXA& version) {
    return std::string("Windows XP ") +
           ((version.wSuiteMask & VER_SUITE_PERSONAL) ? "Home Edition" : "Professional");
}

std::string TwoThousandName(const OSVERSIONINFOEXA& version) {
    std::string name = "Windows 2000 ";
    if (version.wProductType == VER_NT_WORKSTATION) {
        name += "Professional";
    } else if (version.wSuiteMask & VER_SUITE_DATACENTER) {
        name += "Datacenter Server";
    } else if (version.wSuiteMask & VER_SUITE_ENTERPRISE) {
        name += "Advanced Server";
    } else {
        name += "Server";
    }
    return name;
}

bool ReadVersion(OSVERSIONINFOEXA& version) {
    std::memset(&version, 0, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    return GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version)) != FALSE;
}

}  // namespace

std::string GetWindowsVersionName() {
    char buffer[VersionNameCapacity] = {};
    if (TryGetWindowsVersionName(buffer, sizeof(buffer))) {
        return buffer;
    }
    LogError("Failed to get Windows version name");
    return "Unknown Windows";
}

bool TryGetWindowsVersionName(char* buffer, size_t size) {
    OSVERSIONINFOEXA version;
    if (!ReadVersion(version)) {
        return false;
    }
    const WORD architecture = NativeProcessorArchitecture();

    if (version.dwPlatformId != VER_PLATFORM_WIN32_NT || version.dwMajorVersion <= 4) {
        return false;
    }

    std::string text = "Microsoft ";
    if (version.dwMajorVersion == 10) {
        text += VersionTenName(version);
    } else if (version.dwMajorVersion == 6) {
        text += VersionSixName(version);
    } else if (version.dwMajorVersion == 5 && version.dwMinorVersion == 2) {
        text += ServerTwoThousandThreeName(version, architecture);
    } else if (version.dwMajorVersion == 5 && version.dwMinorVersion == 1) {
        text += XpName(version);
    } else if (version.dwMajorVersion == 5 && version.dwMinorVersion == 0) {
        text += TwoThousandName(version);
    }
    // Any other version gets no name of its own: the build number still tells it apart.

    // szCSDVersion is not guaranteed to be terminated within its 128 characters.
    const std::string servicePack(version.szCSDVersion,
                                  strnlen(version.szCSDVersion, sizeof(version.szCSDVersion)));
    if (!servicePack.empty()) {
        text += " " + servicePack;
    }
    text += " (build " + std::to_string(version.dwBuildNumber) + ")";
    if (version.dwMajorVersion >= 6) {
        if (architecture == PROCESSOR_ARCHITECTURE_AMD64) {
            text += ", 64-bit";
        } else if (architecture == PROCESSOR_ARCHITECTURE_INTEL) {
            text += ", 32-bit";
        }
    }

    if (buffer == nullptr || text.size() >= size) {
        return false;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return true;
}

bool IsXpSp3OrLater() {
    BOOL wow64 = FALSE;
    // A failed query leaves wow64 FALSE: the process is then judged as a native one.
    IsWow64Process(GetCurrentProcess(), &wow64);

    OSVERSIONINFOEXA minimum;
    std::memset(&minimum, 0, sizeof(minimum));
    minimum.dwOSVersionInfoSize = sizeof(minimum);
    minimum.dwMajorVersion = 5;
    // XP x64 and Server 2003 are version 5.2; a WOW64 process runs on one of those at least.
    minimum.dwMinorVersion = wow64 ? 2 : 1;
    minimum.wServicePackMajor = 3;

    DWORDLONG conditions = 0;
    conditions = VerSetConditionMask(conditions, VER_MAJORVERSION, VER_GREATER_EQUAL);
    conditions = VerSetConditionMask(conditions, VER_MINORVERSION, VER_GREATER_EQUAL);
    conditions = VerSetConditionMask(conditions, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    conditions = VerSetConditionMask(conditions, VER_SERVICEPACKMINOR, VER_GREATER_EQUAL);
    return VerifyVersionInfoA(
               &minimum,
               VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR | VER_SERVICEPACKMINOR,
               conditions) != FALSE;
}

bool VersionAtLeast(DWORD major, DWORD minor, bool whenUnknown) {
    OSVERSIONINFOEXA version;
    if (!ReadVersion(version)) {
        return whenUnknown;
    }
    return version.dwMajorVersion > major ||
           (version.dwMajorVersion == major && version.dwMinorVersion >= minor);
}

}  // namespace OrvaneClient
