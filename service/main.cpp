#include "core/windows/ProcessMitigation.h"
#include "core/windows/Win32Api.h"
#include "service/OrvaneService.h"

#include <Poco/Exception.h>
#include <Poco/Net/Net.h>

#include <cstdlib>
#include <optional>

// A GUI-subsystem service executable: the arguments mean nothing to it.
int WINAPI WinMain(HINSTANCE /*instance*/,
                   HINSTANCE /*previousInstance*/,
                   LPSTR /*commandLine*/,
                   int /*showCommand*/) {
    // Before anything opens a path, the log folder included: a junction a user planted must not
    // steer the service. The outcome is logged once logging exists.
    OrvaneClient::EnableRedirectionTrustMitigation();
    // POCO starts Winsock by itself only in MSVC builds; without this a mingw build cannot bind.
    // Elsewhere it does nothing.
    Poco::Net::initializeNetwork();
    std::optional<OrvaneClient::OrvaneService> service;
    try {
        service.emplace();
    } catch (const Poco::Exception& exception) {
        // Constructing the service binds 127.0.0.1:9977; another process may hold it.
        return OrvaneClient::OrvaneService::runWithoutListener(exception.displayText());
    }
    const int exitCode = service->run();
    if (service->hasAbandonedWork()) {
        // A worker is still inside a request of the service, which the stop's wait hint did not
        // let us wait for: leave without destroying the service or anything else it uses.
        std::_Exit(exitCode);
    }
    return exitCode;
}
