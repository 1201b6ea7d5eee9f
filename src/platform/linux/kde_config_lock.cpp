#include "platform/linux/kde_config_lock.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string_view>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tamberly {
namespace {

using std::chrono::milliseconds;

std::string errnoText(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

std::string baseName(std::string_view path) {
    const auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// The name of a running process as KDE's programs compare it: the file name of its program; empty when it cannot be
// looked at (another user's process).
std::string processName(const std::string& pid) {
    char target[PATH_MAX];
    const ssize_t n = ::readlink(("/proc/" + pid + "/exe").c_str(), target, sizeof target - 1);
    if (n <= 0)
        return {};
    std::string name = baseName(std::string_view(target, static_cast<std::size_t>(n)));
    constexpr std::string_view kDeleted = " (deleted)"; // a program replaced on disk while it runs
    if (name.size() > kDeleted.size() && name.compare(name.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0)
        name.resize(name.size() - kDeleted.size());
    return name;
}

std::string seconds(milliseconds span) {
    char text[32];
    std::snprintf(text, sizeof text, span.count() % 1000 ? "%.1f s" : "%.0f s", span.count() / 1000.0);
    return text;
}

std::string hostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

bool sameFile(int fd, const std::string& path) {
    struct stat held {};
    struct stat named {};
    return ::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
           held.st_ino == named.st_ino;
}

bool writeAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// What a lock file says of its owner: the first three lines.
struct Owner {
    pid_t pid = 0;
    std::string program;
    std::string host;
};

std::optional<Owner> ownerOf(int fd) {
    char buffer[4096];
    ssize_t n;
    while ((n = ::pread(fd, buffer, sizeof buffer, 0)) < 0 && errno == EINTR) {
    }
    if (n <= 0)
        return std::nullopt; // not written yet, or unreadable: only its age tells
    std::string_view text(buffer, static_cast<std::size_t>(n));
    std::string_view lines[3];
    for (auto& line : lines) {
        const auto end = text.find('\n');
        line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    if (lines[0].empty() || lines[0].size() > 9 || lines[0].find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    Owner owner;
    owner.pid = static_cast<pid_t>(std::stol(std::string(lines[0])));
    if (owner.pid <= 0)
        return std::nullopt;
    owner.program = std::string(lines[1]);
    owner.host = std::string(lines[2]);
    return owner;
}

std::string describe(const std::optional<Owner>& owner) {
    if (!owner)
        return "another program";
    std::string text = (owner->program.empty() ? std::string("a program") : baseName(owner->program)) + " (process " +
                       std::to_string(owner->pid);
    return text + (owner->host.empty() ? "" : " on " + owner->host) + ")";
}

// Whether the lock file open at fd was left behind: its owner is gone, or it is older than any write takes.
bool isStale(int fd, const std::optional<Owner>& owner) {
    // On another host (a shared home folder) only the age tells.
    if (owner && (owner->host.empty() || owner->host == hostName())) {
        if (::kill(owner->pid, 0) != 0 && errno == ESRCH)
            return true;
        // The id may since have gone to another program.
        const std::string running = processName(std::to_string(owner->pid));
        if (!running.empty() && running != baseName(owner->program))
            return true;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return false;
    const auto age = std::chrono::seconds(std::time(nullptr) - info.st_mtime);
    return age > KdeConfigLock::kStaleAfter || -age > KdeConfigLock::kStaleAfter;
}

// Removes a stale lock file so that it can be made anew. Only a holder of the system's lock on the file removes it,
// and the owner of a lock file holds that lock while it lives: two programs that both find the file stale never
// remove each other's new one. False when the file is not stale after all.
bool removeStale(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return errno == ENOENT;
    bool removed = false;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        if (!sameFile(fd, path))
            removed = true; // another program made it anew meanwhile: look again
        else if (isStale(fd, ownerOf(fd)))
            removed = ::unlink(path.c_str()) == 0 || errno == ENOENT;
    }
    ::close(fd);
    return removed;
}

std::string ownProgramName() {
    std::string name = processName("self");
    return name.empty() ? std::string(program_invocation_short_name) : name;
}

} // namespace

KdeConfigLock::KdeConfigLock(std::string filePath) : m_path(std::move(filePath) + ".lock") {}

KdeConfigLock::~KdeConfigLock() {
    if (m_fd < 0)
        return;
    // Removed while still held, so nobody takes it over in between.
    if (sameFile(m_fd, m_path))
        ::unlink(m_path.c_str());
    ::close(m_fd);
}

std::string KdeConfigLock::take(milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    milliseconds pause(1);
    for (;;) {
        const int fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd >= 0) {
            // Held by the system too while the lock lives, so that nobody removes it as stale.
            ::flock(fd, LOCK_EX | LOCK_NB);
            if (!writeAll(fd, std::to_string(::getpid()) + "\n" + ownProgramName() + "\n" + hostName() + "\n")) {
                std::string why = errnoText("cannot write", m_path);
                ::unlink(m_path.c_str());
                ::close(fd);
                return why;
            }
            m_fd = fd;
            return {};
        }
        if (errno == EINTR)
            continue;
        if (errno != EEXIST)
            return errnoText("cannot create", m_path);

        // Someone's lock: taken over when stale, else waited for.
        const int held = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (held < 0) {
            if (errno == ENOENT)
                continue; // let go meanwhile
            return errnoText("cannot read", m_path);
        }
        const std::optional<Owner> owner = ownerOf(held);
        const bool stale = isStale(held, owner);
        ::close(held);
        if (stale && removeStale(m_path))
            continue;
        if (std::chrono::steady_clock::now() >= deadline)
            return m_path + " is still held by " + describe(owner) + " after " + seconds(limit);
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, milliseconds(50));
    }
}

} // namespace tamberly
