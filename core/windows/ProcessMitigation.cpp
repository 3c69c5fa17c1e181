#include "core/windows/ProcessMitigation.h"

#include "core/logfacade/LogFacade.h"
#include "core/windows/Kernel32Function.h"
#include "core/windows/Win32Api.h"

namespace OrvaneClient {

namespace {

using SetProcessMitigationPolicyFunction = BOOL(WINAPI*)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);

enum class MitigationOutcome { NotTried, NotOffered, Failed, On };

// Written once by the process entry before any other thread exists; read after.
struct {
    MitigationOutcome outcome = MitigationOutcome::NotTried;
    DWORD error = 0;
} redirectionTrust;

}  // namespace

bool EnableRedirectionTrustMitigation() {
    const auto setPolicy =
        FindKernel32Function<SetProcessMitigationPolicyFunction>("SetProcessMitigationPolicy");
    if (setPolicy == nullptr) {
        redirectionTrust = {MitigationOutcome::NotOffered, 0};
        return false;
    }
    PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy = {};
    policy.EnforceRedirectionTrust = 1;
    if (!setPolicy(ProcessRedirectionTrustPolicy, &policy, sizeof(policy))) {
        const DWORD error = GetLastError();
        redirectionTrust = {MitigationOutcome::Failed, error};
        return false;
    }
    redirectionTrust = {MitigationOutcome::On, 0};
    return true;
}

void LogRedirectionTrustMitigation() {
    switch (redirectionTrust.outcome) {
        case MitigationOutcome::NotTried:
            break;
        case MitigationOutcome::NotOffered:
            LogInfo("Redirection trust mitigation is off: not offered by this system");
            break;
        case MitigationOutcome::Failed:
            LogInfo("Redirection trust mitigation is off, error code %d",
                    static_cast<int>(redirectionTrust.error));
            break;
        case MitigationOutcome::On:
            LogInfo("Redirection trust mitigation is on");
            break;
    }
}

}  // namespace OrvaneClient
