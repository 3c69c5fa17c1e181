// User environment blocks: every block counted from its creation until DestroyEnvironmentBlock.

#include "ApiSupport.h"
#include "MachineModel.h"

#include <cstdlib>
#include <userenv.h>

using namespace Win32Emu;

extern "C" {

BOOL WINAPI DestroyEnvironmentBlock(LPVOID lpEnvironment) {
    if (InjectedFailure("DestroyEnvironmentBlock")) {
        return FALSE;
    }
    // Only blocks the emulation handed out (allocated with malloc) are freed; anything else is
    // refused rather than handed to free().
    if (lpEnvironment == nullptr || !Model().removeEnvironmentBlock(lpEnvironment)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::free(lpEnvironment);
    return TRUE;
}

}  // extern "C"
