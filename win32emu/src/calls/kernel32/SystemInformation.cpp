// Version and system information: GetVersionExA, VerifyVersionInfoA, VerSetConditionMask,
// GetSystemInfo, GetNativeSystemInfo, GetProductInfo, IsWow64Process.

#include "machine/ApiSupport.h"
#include "machine/MachineModel.h"

#include <cstring>

using namespace Win32Emu;

namespace {

Configuration configuration() {
    std::lock_guard<std::mutex> guard(Model().lock);
    return Model().configuration;
}

void fillSystemInfo(LPSYSTEM_INFO info, WORD architecture, bool wow64) {
    std::memset(info, 0, sizeof(*info));
    info->wProcessorArchitecture = architecture;
    info->dwPageSize = 4096;
    info->dwAllocationGranularity = 65536;
    info->dwNumberOfProcessors = 4;
    info->dwActiveProcessorMask = 0xF;
    info->wProcessorLevel = 6;
    info->wProcessorRevision = 0x3A09;
    info->lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(0x10000);
    const bool is64Bit = !wow64 && (architecture == PROCESSOR_ARCHITECTURE_AMD64 ||
                                    architecture == PROCESSOR_ARCHITECTURE_IA64 ||
                                    architecture == PROCESSOR_ARCHITECTURE_ARM64);
    info->lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(
        is64Bit ? static_cast<std::uintptr_t>(0x7FFFFFEFFFFULL) : std::uintptr_t{0x7FFEFFFF});
    switch (architecture) {
        case PROCESSOR_ARCHITECTURE_AMD64:
            info->dwProcessorType = PROCESSOR_AMD_X8664;
            break;
        case PROCESSOR_ARCHITECTURE_IA64:
            info->dwProcessorType = PROCESSOR_INTEL_IA64;
            break;
        default:
            info->dwProcessorType = PROCESSOR_INTEL_PENTIUM;
            break;
    }
}

// -1, 0 or 1 as `actual` compares with `wanted`.
int compare(DWORD actual, DWORD wanted) {
    return actual < wanted ? -1 : (actual > wanted ? 1 : 0);
}

bool satisfies(int comparison, BYTE condition) {
    switch (condition) {
        case VER_EQUAL:
            return comparison == 0;
        case VER_GREATER:
            return comparison > 0;
        case VER_GREATER_EQUAL:
            return comparison >= 0;
        case VER_LESS:
            return comparison < 0;
        case VER_LESS_EQUAL:
            return comparison <= 0;
        default:
            return false;
    }
}

BYTE conditionFor(DWORDLONG conditionMask, int bitIndex) {
    return static_cast<BYTE>((conditionMask >> (bitIndex * VER_NUM_BITS_PER_CONDITION_MASK)) &
                             VER_CONDITION_MASK);
}

}  // namespace

extern "C" {

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation) {
    if (InjectedFailure("GetVersionExA")) {
        return FALSE;
    }
    if (lpVersionInformation == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD size = lpVersionInformation->dwOSVersionInfoSize;
    if (size != sizeof(OSVERSIONINFOA) && size != sizeof(OSVERSIONINFOEXA)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    const VersionInfo version = configuration().version;
    lpVersionInformation->dwMajorVersion = version.majorVersion;
    lpVersionInformation->dwMinorVersion = version.minorVersion;
    lpVersionInformation->dwBuildNumber = version.buildNumber;
    lpVersionInformation->dwPlatformId = version.platformId;
    std::memset(lpVersionInformation->szCSDVersion, 0, sizeof(lpVersionInformation->szCSDVersion));
    version.servicePack.copy(lpVersionInformation->szCSDVersion,
                             sizeof(lpVersionInformation->szCSDVersion) - 1);
    if (size == sizeof(OSVERSIONINFOEXA)) {
        auto* extended = reinterpret_cast<LPOSVERSIONINFOEXA>(lpVersionInformation);
        extended->wServicePackMajor = version.servicePackMajor;
        extended->wServicePackMinor = version.servicePackMinor;
        extended->wSuiteMask = version.suiteMask;
        extended->wProductType = version.productType;
        extended->wReserved = 0;
    }
    return TRUE;
}

ULONGLONG WINAPI VerSetConditionMask(ULONGLONG ConditionMask, DWORD TypeMask, BYTE Condition) {
    // One type bit per call; with several, the highest one takes the condition (as Windows).
    Condition &= VER_CONDITION_MASK;
    if (TypeMask == 0 || Condition == 0) {
        return ConditionMask;
    }
    for (int bit = 7; bit >= 0; --bit) {
        if ((TypeMask & (1u << bit)) != 0) {
            return ConditionMask |
                   (static_cast<ULONGLONG>(Condition) << (bit * VER_NUM_BITS_PER_CONDITION_MASK));
        }
    }
    return ConditionMask;
}

BOOL WINAPI VerifyVersionInfoA(LPOSVERSIONINFOEXA lpVersionInformation,
                               DWORD dwTypeMask,
                               DWORDLONG dwlConditionMask) {
    if (InjectedFailure("VerifyVersionInfoA")) {
        return FALSE;
    }
    if (lpVersionInformation == nullptr || dwTypeMask == 0 || dwlConditionMask == 0) {
        SetLastError(ERROR_BAD_ARGUMENTS);
        return FALSE;
    }
    const VersionInfo actual = configuration().version;
    const OSVERSIONINFOEXA& wanted = *lpVersionInformation;
    bool satisfied = true;

    // Major, minor, service-pack major and minor form one version, compared in that order with
    // the condition of the first of them asked for: 6.1 SP0 is "greater or equal" to 5.2 SP3.
    struct Part {
        DWORD bit;
        int index;
        DWORD actual;
        DWORD wanted;
    };
    const Part versionParts[] = {
        {VER_MAJORVERSION, 1, actual.majorVersion, wanted.dwMajorVersion},
        {VER_MINORVERSION, 0, actual.minorVersion, wanted.dwMinorVersion},
        {VER_SERVICEPACKMAJOR, 5, actual.servicePackMajor, wanted.wServicePackMajor},
        {VER_SERVICEPACKMINOR, 4, actual.servicePackMinor, wanted.wServicePackMinor},
    };
    BYTE versionCondition = 0;
    int versionComparison = 0;
    for (const Part& part : versionParts) {
        if ((dwTypeMask & part.bit) == 0) {
            continue;
        }
        const BYTE condition = conditionFor(dwlConditionMask, part.index);
        if (condition == 0 || condition > VER_LESS_EQUAL) {
            SetLastError(ERROR_BAD_ARGUMENTS);
            return FALSE;
        }
        if (versionCondition == 0) {
            versionCondition = condition;
        }
        if (versionComparison == 0) {
            versionComparison = compare(part.actual, part.wanted);
        }
    }
    if (versionCondition != 0) {
        satisfied = satisfies(versionComparison, versionCondition);
    }

    const Part singleParts[] = {
        {VER_BUILDNUMBER, 2, actual.buildNumber, wanted.dwBuildNumber},
        {VER_PLATFORMID, 3, actual.platformId, wanted.dwPlatformId},
        {VER_PRODUCT_TYPE, 7, actual.productType, wanted.wProductType},
    };
    for (const Part& part : singleParts) {
        if ((dwTypeMask & part.bit) == 0) {
            continue;
        }
        const BYTE condition = conditionFor(dwlConditionMask, part.index);
        if (condition == 0 || condition > VER_LESS_EQUAL) {
            SetLastError(ERROR_BAD_ARGUMENTS);
            return FALSE;
        }
        satisfied = satisfied && satisfies(compare(part.actual, part.wanted), condition);
    }

    if ((dwTypeMask & VER_SUITENAME) != 0) {
        const BYTE condition = conditionFor(dwlConditionMask, 6);
        const WORD common = actual.suiteMask & wanted.wSuiteMask;
        if (condition == VER_AND) {
            satisfied = satisfied && common == wanted.wSuiteMask;
        } else if (condition == VER_OR) {
            satisfied = satisfied && (wanted.wSuiteMask == 0 || common != 0);
        } else {
            SetLastError(ERROR_BAD_ARGUMENTS);
            return FALSE;
        }
    }

    if (!satisfied) {
        SetLastError(ERROR_OLD_WIN_VERSION);
        return FALSE;
    }
    return TRUE;
}

void WINAPI GetSystemInfo(LPSYSTEM_INFO lpSystemInfo) {
    if (lpSystemInfo == nullptr) {
        return;
    }
    const Configuration current = configuration();
    // A WOW64 process is told it runs on x86; GetNativeSystemInfo tells the truth.
    const WORD architecture =
        current.wow64 ? WORD{PROCESSOR_ARCHITECTURE_INTEL} : current.processorArchitecture;
    fillSystemInfo(lpSystemInfo, architecture, current.wow64);
}

void WINAPI GetNativeSystemInfo(LPSYSTEM_INFO lpSystemInfo) {
    if (lpSystemInfo == nullptr) {
        return;
    }
    const Configuration current = configuration();
    fillSystemInfo(lpSystemInfo, current.processorArchitecture, current.wow64);
}

BOOL WINAPI GetProductInfo(DWORD dwOSMajorVersion,
                           DWORD dwOSMinorVersion,
                           DWORD dwSpMajorVersion,
                           DWORD dwSpMinorVersion,
                           PDWORD pdwReturnedProductType) {
    static_cast<void>(dwOSMinorVersion);
    static_cast<void>(dwSpMajorVersion);
    static_cast<void>(dwSpMinorVersion);
    if (InjectedFailure("GetProductInfo")) {
        return FALSE;
    }
    if (pdwReturnedProductType == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Editions exist from version 6 on; for an earlier version Windows answers "undefined".
    if (dwOSMajorVersion < 6) {
        *pdwReturnedProductType = PRODUCT_UNDEFINED;
        return FALSE;
    }
    *pdwReturnedProductType = configuration().productInfo;
    return TRUE;
}

BOOL WINAPI IsWow64Process(HANDLE hProcess, PBOOL Wow64Process) {
    if (InjectedFailure("IsWow64Process")) {
        return FALSE;
    }
    if (hProcess != GetCurrentProcess()) {
        // Other processes' handles arrive with the process calls.
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (Wow64Process == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *Wow64Process = configuration().wow64 ? TRUE : FALSE;
    return TRUE;
}

}  // extern "C"
