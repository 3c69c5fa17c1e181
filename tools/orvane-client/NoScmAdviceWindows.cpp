#include "tools/orvane-client/NoScmAdvice.h"

namespace OrvaneClient {

std::string NoScmAdvice() {
    return "error 1722: the service control manager (services.exe) does not answer; the "
           "machine may be shutting down";
}

}  // namespace OrvaneClient
