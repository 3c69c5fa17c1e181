#include "core/logging/LogFacade.h"
#include "service/OrvaneService.h"

namespace OrvaneClient {

bool OrvaneService::launchProcess(const char* /*processPath*/,
                                  const char* /*commandLineArgs*/,
                                  const char* /*workingDir*/,
                                  bool /*elevated*/,
                                  uint32_t* /*processId*/) {
    LogError("launchProcess is not available yet in this build");
    return false;
}

}  // namespace OrvaneClient
