#include "service/ReactorErrorHandler.h"

#include "core/logfacade/LogFacade.h"

#include <Poco/Exception.h>

#include <mutex>

namespace OrvaneClient {

void ReactorErrorHandler::install() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        // Deliberately never freed: the library may call it until the process ends.
        static ReactorErrorHandler* const handler = new ReactorErrorHandler;
        Poco::ErrorHandler::set(handler);
    });
}

void ReactorErrorHandler::exception(const Poco::Exception& exception) {
    LogError("Socket reactor discarded exception: %s", exception.displayText().c_str());
}

void ReactorErrorHandler::exception(const std::exception& exception) {
    LogError("Socket reactor discarded exception: %s", exception.what());
}

void ReactorErrorHandler::exception() {
    LogError("Socket reactor discarded exception: %s", "unknown exception");
}

}  // namespace OrvaneClient
