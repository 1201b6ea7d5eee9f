#include "platform/linux/instance_lock.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace tamberly {
namespace {

// A request is "show", a blank and the activation token, and a line feed; the answer is "ok" and a line feed.
constexpr const char* kRequest = "show ";
constexpr const char* kAnswer = "ok\n";
constexpr std::size_t kLongestRequest = 1024;
// How long the first start gives a later one to send its request, so a stuck client never holds up the window.
constexpr int kRequestWaitMs = 1000;

std::string errorText(int error) {
    return std::strerror(error);
}

// The settings folder as one spelling: absolute, symbolic links and "." and ".." resolved as far as it exists, no
// trailing "/".
std::string normalFolder(const std::string& folder) {
    std::error_code error;
    std::filesystem::path path = std::filesystem::weakly_canonical(std::filesystem::absolute(folder, error), error);
    std::string text = (error ? std::filesystem::path(folder) : path).lexically_normal().string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

// 64-bit FNV-1a, in 16 hex digits: a name of fixed length for a folder of any length.
std::string hashName(const std::string& text) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char out[17];
    std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(hash));
    return out;
}

sockaddr_un socketAddress(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    return address;
}

// Waits until fd is ready for events or the deadline passes.
bool waitFor(int fd, short events, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
}

// Reads one line (without its line feed) of at most kLongestRequest bytes before the deadline.
std::optional<std::string> readLine(int fd, std::chrono::steady_clock::time_point deadline) {
    std::string line;
    while (line.size() <= kLongestRequest) {
        if (!waitFor(fd, POLLIN, deadline))
            return std::nullopt;
        char c = 0;
        const ssize_t n = ::recv(fd, &c, 1, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return std::nullopt;
        if (c == '\n')
            return line;
        line += c;
    }
    return std::nullopt;
}

bool sendAll(int fd, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

InstanceLock::InstanceLock(const std::string& settingsFolder, const std::string& runtimeFolder) {
    struct stat folder {};
    if (runtimeFolder.empty() || runtimeFolder.front() != '/') {
        m_why = "no runtime folder ($XDG_RUNTIME_DIR)";
        return;
    }
    // Another user's folder, or one others may write in, could hold a socket planted to answer for this program.
    if (::stat(runtimeFolder.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode) || folder.st_uid != ::getuid() ||
        (folder.st_mode & (S_IWGRP | S_IWOTH))) {
        m_why = "the runtime folder " + runtimeFolder + " is not a private folder of this user";
        return;
    }
    const std::string base = runtimeFolder + "/tamberly-" + hashName(normalFolder(settingsFolder));
    m_socketPath = base + ".socket";
    if (m_socketPath.size() >= sizeof(sockaddr_un::sun_path)) {
        m_why = "the runtime folder's path is too long for a socket: " + runtimeFolder;
        return;
    }
    m_lockPath = base + ".lock";
    // The first start removes its lock file on the way out; one that opened the file just before that holds a lock
    // on a name gone, and opens the new one.
    for (;;) {
        // Close-on-exec: a browser started from the program must not keep the lock after the program ends.
        m_lock = ::open(m_lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (m_lock < 0) {
            m_why = "cannot open " + m_lockPath + ": " + errorText(errno);
            return;
        }
        if (::flock(m_lock, LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK) {
                m_role = Role::Second;
                return;
            }
            m_why = "cannot lock " + m_lockPath + ": " + errorText(errno);
            ::close(m_lock);
            m_lock = -1;
            return;
        }
        struct stat held {};
        struct stat named {};
        if (::fstat(m_lock, &held) == 0 && ::stat(m_lockPath.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
            held.st_ino == named.st_ino)
            break;
        ::close(m_lock);
    }
    // The lock is this process's: a socket left by one that ended is its own no longer.
    ::unlink(m_socketPath.c_str());
    m_listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const sockaddr_un address = socketAddress(m_socketPath);
    if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listener, 8) != 0) {
        m_why = "cannot listen on " + m_socketPath + ": " + errorText(errno);
        if (m_listener >= 0)
            ::close(m_listener);
        m_listener = -1;
        // Without a socket later starts could not reach this one: they run on their own instead.
        ::unlink(m_lockPath.c_str());
        ::close(m_lock);
        m_lock = -1;
        return;
    }
    m_role = Role::First;
}

InstanceLock::~InstanceLock() {
    // The first leaves nothing behind: the socket and the lock file go while the lock is still held.
    if (m_listener >= 0) {
        ::close(m_listener);
        ::unlink(m_socketPath.c_str());
        ::unlink(m_lockPath.c_str());
    }
    if (m_lock >= 0)
        ::close(m_lock);
}

std::optional<std::string> InstanceLock::takeRequest() {
    if (m_listener < 0)
        return std::nullopt;
    const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0)
        return std::nullopt;
    std::optional<std::string> token;
    ucred peer{};
    socklen_t size = sizeof peer;
    // Only this user's programs may call the window forward.
    if (::getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::getuid()) {
        const auto line =
            readLine(client, std::chrono::steady_clock::now() + std::chrono::milliseconds(kRequestWaitMs));
        const std::string prefix = kRequest;
        if (line && line->compare(0, prefix.size(), prefix) == 0) {
            token = line->substr(prefix.size());
            sendAll(client, kAnswer);
        }
    }
    ::close(client);
    return token;
}

bool InstanceLock::askFirstToShow(const std::string& token, std::chrono::milliseconds limit) {
    if (m_role != Role::Second)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    const sockaddr_un address = socketAddress(m_socketPath);
    int fd = -1;
    // The first start may hold the lock a moment before it listens.
    for (;;) {
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            m_why = "cannot make a socket: " + errorText(errno);
            return false;
        }
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
            break;
        const int error = errno;
        ::close(fd);
        if ((error != ENOENT && error != ECONNREFUSED && error != EAGAIN) ||
            std::chrono::steady_clock::now() >= deadline) {
            m_why = "it does not answer on " + m_socketPath + ": " + errorText(error);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    // A token is one line of printable text; anything else is left out rather than sent.
    std::string printable = token.size() < kLongestRequest - 16 ? token : std::string();
    for (const char c : printable)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            printable.clear();
    const bool sent = sendAll(fd, kRequest + printable + "\n");
    const auto answer = sent ? readLine(fd, deadline) : std::nullopt;
    ::close(fd);
    if (!answer || *answer + "\n" != kAnswer) {
        m_why = "it did not answer within " + (limit.count() % 1000 == 0 ? std::to_string(limit.count() / 1000) + " s"
                                                                         : std::to_string(limit.count()) + " ms");
        return false;
    }
    return true;
}

std::string runtimeDir() {
    const char* value = std::getenv("XDG_RUNTIME_DIR");
    return value && value[0] == '/' ? value : "";
}

} // namespace tamberly
