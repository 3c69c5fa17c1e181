#pragma once

#include <Poco/Exception.h>

#include <string>

namespace OrvaneClient {

// What an error line says about a library exception: its message, or its display text where
// the library leaves the message empty (a connection reset, a receive timeout), so the line
// still names what happened.
inline std::string ExceptionText(const Poco::Exception& exception) {
    return exception.message().empty() ? exception.displayText() : exception.message();
}

}  // namespace OrvaneClient
