// Process mitigation policies: SetProcessMitigationPolicy, for the emulated process itself.

#include "machine/ApiSupport.h"
#include "machine/MachineModel.h"

#include <cstring>

using namespace Win32Emu;

namespace {

constexpr DWORD FirstTrustingBuild = 19045;

}  // namespace

extern "C" {

BOOL WINAPI SetProcessMitigationPolicy(PROCESS_MITIGATION_POLICY MitigationPolicy,
                                       PVOID lpBuffer,
                                       SIZE_T dwLength) {
    if (InjectedFailure("SetProcessMitigationPolicy",
                        std::to_string(static_cast<int>(MitigationPolicy)))) {
        return FALSE;
    }
    if (MitigationPolicy != ProcessRedirectionTrustPolicy) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    // Windows 8 knows the call but not this policy, which came with Windows 10 22H2 (build
    // 19045) and Windows 11.
    VersionInfo version;
    {
        std::lock_guard<std::mutex> guard(Model().lock);
        version = Model().configuration.version;
    }
    const bool offered = version.majorVersion > 10 ||
                         (version.majorVersion == 10 && version.buildNumber >= FirstTrustingBuild);
    if (!offered || lpBuffer == nullptr ||
        dwLength != sizeof(PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy;
    std::memcpy(&policy, lpBuffer, sizeof(policy));
    if (policy.ReservedFlags != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Enforced from now on by every path the process resolves (SecurityModel).
    Model().security.setRedirectionTrust(policy.Flags);
    return TRUE;
}

}  // extern "C"
