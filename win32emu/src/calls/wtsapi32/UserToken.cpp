// The token of the user logged on in a session: WTSQueryUserToken, for LocalSystem only.

#include "machine/ApiSupport.h"
#include "machine/Identity.h"
#include "machine/MachineModel.h"

#include <wtsapi32.h>

using namespace Win32Emu;

extern "C" {

BOOL WINAPI WTSQueryUserToken(ULONG SessionId, PHANDLE phToken) {
    if (InjectedFailure("WTSQueryUserToken", std::to_string(SessionId))) {
        return FALSE;
    }
    if (!CallerIsLocalSystem()) {
        SetLastError(ERROR_PRIVILEGE_NOT_HELD);
        return FALSE;
    }
    if (phToken == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string user;
    {
        MachineModel& model = Model();
        std::lock_guard<std::mutex> guard(model.lock);
        const auto& sessions = model.configuration.sessionUsers;
        const auto found = sessions.find(SessionId);
        if (found == sessions.end()) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return FALSE;
        }
        user = found->second;
    }
    if (user.empty()) {
        SetLastError(ERROR_NO_TOKEN);
        return FALSE;
    }
    *phToken = Model().handles.insert(
        NewToken(user, SessionId, false), "WTSQueryUserToken", TOKEN_ALL_ACCESS);
    return TRUE;
}

}  // extern "C"
