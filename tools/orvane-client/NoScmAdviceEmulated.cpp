#include "Win32Emu/Machine.h"
#include "tools/orvane-client/NoScmAdvice.h"

namespace OrvaneClient {

std::string NoScmAdvice() {
    return "error 1722: no service control manager answers for " +
           Win32Emu::Machine::instance().hostRoot() +
           ": start `orvane-sc serve` (scripts/run-service.sh), or run orvane-client with "
           "WIN32EMU_ROOT set to the --root that orvane-sc was given";
}

}  // namespace OrvaneClient
