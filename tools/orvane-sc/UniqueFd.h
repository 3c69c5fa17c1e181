#pragma once

#include <unistd.h>
#include <utility>

namespace OrvaneSc {

// Owns one POSIX file descriptor; closes it on destruction. Move-only.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.fd, -1));
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd; }
    bool valid() const { return fd >= 0; }
    void reset(int newFd = -1) {
        if (fd >= 0) {
            ::close(fd);
        }
        fd = newFd;
    }

private:
    int fd = -1;
};

}  // namespace OrvaneSc
