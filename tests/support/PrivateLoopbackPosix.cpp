#include "PrivateLoopback.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

namespace OrvaneClient::Testing {
namespace {

std::string ErrnoText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

bool WriteFile(const std::string& path, const std::string& text) {
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return written;
}

// A new user namespace in which the caller keeps its own user and group ids, so that files it
// creates and the processes it starts look as they did.
std::string EnterUserNamespace(int namespaces) {
    const uid_t user = geteuid();
    const gid_t group = getegid();
    if (unshare(CLONE_NEWUSER | namespaces) != 0) {
        return ErrnoText("unshare with a new user namespace");
    }
    if (!WriteFile("/proc/self/uid_map",
                   std::to_string(user) + " " + std::to_string(user) + " 1") ||
        !WriteFile("/proc/self/setgroups", "deny") ||
        !WriteFile("/proc/self/gid_map",
                   std::to_string(group) + " " + std::to_string(group) + " 1")) {
        return ErrnoText("mapping the user and group into the new user namespace");
    }
    return std::string();
}

std::string BringLoopbackUp() {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return ErrnoText("socket");
    }
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    std::string problem;
    if (ioctl(fd, SIOCGIFFLAGS, &request) != 0) {
        problem = ErrnoText("SIOCGIFFLAGS lo");
    } else {
        request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
        if (ioctl(fd, SIOCSIFFLAGS, &request) != 0) {
            problem = ErrnoText("SIOCSIFFLAGS lo");
        }
    }
    close(fd);
    return problem;
}

// An empty /tmp that nobody outside sees, and whose mount nobody outside sees either.
std::string MountPrivateTmp() {
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return ErrnoText("making the mounts private");
    }
    if (mount("tmpfs", "/tmp", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") != 0) {
        return ErrnoText("mounting a tmpfs on /tmp");
    }
    return std::string();
}

}  // namespace

std::string EnterPrivateLoopback(bool privateTmp) {
    const int namespaces = CLONE_NEWNET | (privateTmp ? CLONE_NEWNS : 0);
    if (unshare(namespaces) != 0) {
        const std::string asRoot = ErrnoText("unshare");
        const std::string asUser = EnterUserNamespace(namespaces);
        if (!asUser.empty()) {
            return asRoot + "; " + asUser;
        }
    }
    if (privateTmp) {
        if (std::string problem = MountPrivateTmp(); !problem.empty()) {
            return problem;
        }
    }
    return BringLoopbackUp();
}

}  // namespace OrvaneClient::Testing
