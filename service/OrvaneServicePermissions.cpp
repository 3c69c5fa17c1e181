#include "core/logging/LogFacade.h"
#include "service/OrvaneService.h"

namespace OrvaneClient {

bool OrvaneService::fixDirectoryPrivileges(const char* /*directory*/, size_t /*length*/) {
    LogError("fixDirectoryPrivileges is not available yet in this build");
    return false;
}

}  // namespace OrvaneClient
