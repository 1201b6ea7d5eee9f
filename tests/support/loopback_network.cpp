#include "support/loopback_network.h"

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace tamberly::test {

std::string isolateToLoopback() {
    // Root makes the network namespace directly; anyone else (and a root without CAP_SYS_ADMIN, as in some
    // containers) through a user namespace of its own.
    if (::geteuid() != 0 || ::unshare(CLONE_NEWNET) != 0) {
        const uid_t uid = ::geteuid();
        const gid_t gid = ::getegid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
            return std::string("no network namespace of its own: ") + std::strerror(errno);
        std::ofstream("/proc/self/setgroups") << "deny";
        std::ofstream("/proc/self/uid_map") << "0 " << uid << " 1";
        std::ofstream("/proc/self/gid_map") << "0 " << gid << " 1";
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    const bool up = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &request) == 0 &&
                    (request.ifr_flags |= IFF_UP, ::ioctl(fd, SIOCSIFFLAGS, &request) == 0);
    if (fd >= 0)
        ::close(fd);
    return up ? std::string() : "loopback could not be brought up";
}

} // namespace tamberly::test
