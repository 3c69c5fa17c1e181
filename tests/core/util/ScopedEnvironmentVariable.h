#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace OrvaneClient::Testing {

// Sets (or, with nullopt, removes) an environment variable of the test process for one scope.
// A change of "TZ" is applied to the C library's time zone at once and again when undone.
class ScopedEnvironmentVariable {
public:
    ScopedEnvironmentVariable(const char* name, const std::optional<std::string>& value)
        : name(name) {
        if (const char* old = std::getenv(name)) {
            previous = old;
        }
        assign(value);
    }
    ~ScopedEnvironmentVariable() { assign(previous); }
    ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
    ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

private:
    void assign(const std::optional<std::string>& value) {
#ifdef _WIN32
        _putenv_s(name.c_str(), value ? value->c_str() : "");
        if (name == "TZ") {
            _tzset();
        }
#else
        if (value) {
            setenv(name.c_str(), value->c_str(), 1);
        } else {
            unsetenv(name.c_str());
        }
        if (name == "TZ") {
            tzset();
        }
#endif
    }

    std::string name;
    std::optional<std::string> previous;
};

}  // namespace OrvaneClient::Testing
