// Process mitigation policies: SetProcessMitigationPolicy, for the emulated process itself.

#include "ApiSupport.h"
#include "MachineModel.h"

#include <cstring>

using namespace Win32Emu;

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
    // Windows 8 knows the call but not this policy, which came with Windows 10.
    if (Model().majorVersion() < 10 || lpBuffer == nullptr ||
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
    std::lock_guard<std::mutex> guard(Model().lock);
    Model().configuration.redirectionTrustPolicy = policy.Flags;
    return TRUE;
}

}  // extern "C"
