#include "core/windows/ProcessMitigation.h"

#include "core/logging/LogFacade.h"
#include "core/windows/Kernel32Function.h"
#include "core/windows/Win32Api.h"

namespace OrvaneClient {

namespace {

using SetProcessMitigationPolicyFunction = BOOL(WINAPI*)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);

}  // namespace

bool EnableRedirectionTrustMitigation() {
    const auto setPolicy =
        FindKernel32Function<SetProcessMitigationPolicyFunction>("SetProcessMitigationPolicy");
    if (setPolicy == nullptr) {
        LogInfo("Redirection trust mitigation is off: not offered by this system");
        return false;
    }
    PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy = {};
    policy.EnforceRedirectionTrust = 1;
    if (!setPolicy(ProcessRedirectionTrustPolicy, &policy, sizeof(policy))) {
        const DWORD error = GetLastError();
        LogInfo("Redirection trust mitigation is off, error code %d", static_cast<int>(error));
        return false;
    }
    LogInfo("Redirection trust mitigation is on");
    return true;
}

}  // namespace OrvaneClient
