#pragma once

#include "core/util/ScopedResource.h"

#include <cerrno>
#include <unistd.h>

namespace OrvaneSc {

struct FdTraits {
    using Value = int;
    // Keeps errno across a close that runs between a failure and its report.
    class ErrorGuard {
    public:
        ErrorGuard() : saved(errno) {}
        ~ErrorGuard() { errno = saved; }
        ErrorGuard(const ErrorGuard&) = delete;
        ErrorGuard& operator=(const ErrorGuard&) = delete;

    private:
        int saved;
    };
    static Value Empty() { return -1; }
    static bool IsValid(Value fd) { return fd >= 0; }
    static bool Close(Value fd) { return ::close(fd) == 0; }
};

// Owns one POSIX file descriptor; closes it on destruction. Move-only.
using UniqueFd = OrvaneClient::ScopedResource<FdTraits>;

}  // namespace OrvaneSc
