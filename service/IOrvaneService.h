#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace OrvaneClient {

// The service's privileged operations, as the local server sees them. The connection handler
// calls one operation per request; the reactor calls `stop` when it has seen no socket activity
// for its timeout, and the service control handler calls it on a stop control.
//
// Threads: getLibraryLocation runs on the reactor thread; launchProcess, fixDirectoryPrivileges
// and getRefreshToken on the server's worker threads, calls of different connections at the same
// time, and after a stop one may still be running (the process then exits without destroying the
// service). `stop` runs on the main thread or on the
// reactor thread. All narrow strings are UTF-8. Failures are results: an implementation that
// throws leaves the request unanswered (the reactor discards the exception).
class IOrvaneService {
public:
    virtual ~IOrvaneService() {}

    // Starts `processPath` with `commandLineArgs` in `workingDir` (empty text: none) on the
    // console user's desktop, with the user's elevated token when `elevated`. All three texts
    // are zero-terminated and read-only. True: a process was started and its id written
    // through `processId`. False: nothing was started and `processId` was not written.
    virtual bool launchProcess(const char* processPath,
                               const char* commandLineArgs,
                               const char* workingDir,
                               bool elevated,
                               uint32_t* processId) = 0;

    // Grants the console user full control of `directory` (zero-terminated; `length` is its
    // byte length, which the operation need not use) and of the client's and games' registry
    // keys. True when every grant succeeded.
    virtual bool fixDirectoryPrivileges(const char* directory, size_t length) = 0;

    // `token` is empty on entry. True: it now holds the stored refresh token (possibly empty).
    // False: no token was found.
    virtual bool getRefreshToken(std::string& token) = 0;

    // The directory that holds the service's executable, without a trailing separator.
    // Always yields a text.
    virtual std::string getLibraryLocation() = 0;

    // Asks the service to stop and returns at once; the service ends shortly after on its own
    // thread.
    virtual void stop() = 0;
};

}  // namespace OrvaneClient
