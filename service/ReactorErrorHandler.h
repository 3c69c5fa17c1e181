#pragma once

#include <Poco/ErrorHandler.h>

#include <exception>

namespace OrvaneClient {

// The process-wide handler of exceptions that the networking library catches and would
// otherwise drop silently: those escaping a dispatch of the socket reactor (a connection
// handler, a service operation, an accept) and those escaping a Poco::Thread's runnable.
// Each is logged at error level as "Socket reactor discarded exception: <text>"; the
// exception stays discarded. Thread-safe: the library serialises calls.
class ReactorErrorHandler : public Poco::ErrorHandler {
public:
    // Makes the one instance the library's error handler; later calls change nothing. The
    // instance is never destroyed, so the library never holds a dangling handler.
    static void install();

    void exception(const Poco::Exception& exception) override;
    void exception(const std::exception& exception) override;
    void exception() override;
};

}  // namespace OrvaneClient
