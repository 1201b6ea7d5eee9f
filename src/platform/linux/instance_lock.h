#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace tamberly {

/// One running program per settings folder. The first start holds a lock in the runtime folder ($XDG_RUNTIME_DIR)
/// and listens on a Unix socket beside it, both named after the settings folder; a later start with the same folder
/// finds the lock held and asks the first, through the socket, to bring its window forward. The lock is the
/// kernel's (flock): it goes with the process however that ends, so the next start takes over cleanly. A first start
/// that ends normally removes both files.
class InstanceLock final {
public:
    enum class Role {
        First,     // the lock is this process's: it listens for later starts
        Second,    // another process holds it: askFirstToShow() hands over to it
        Unguarded, // no usable runtime folder: the program runs without a lock, as any number of copies
    };

    /// Takes the lock for settingsFolder in runtimeFolder, or finds it taken.
    InstanceLock(const std::string& settingsFolder, const std::string& runtimeFolder);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    Role role() const { return m_role; }
    /// Unguarded: why; Second, after a failed askFirstToShow(): why it failed.
    const std::string& why() const { return m_why; }
    /// The socket's path: "RUNTIME/tamberly-HASH.socket".
    const std::string& socketPath() const { return m_socketPath; }

    /// First: the listening socket, to be watched for a later start's request; -1 otherwise.
    int listener() const { return m_listener; }
    /// First: takes one waiting request and answers it; the activation token it carried (empty when none), or
    /// nullopt when no well-formed request was waiting.
    std::optional<std::string> takeRequest();

    /// Second: asks the first to bring its window forward, passing the launch's activation token (empty when none),
    /// and waits at most limit for its answer; false, with why(), when it did not answer.
    bool askFirstToShow(const std::string& token, std::chrono::milliseconds limit = std::chrono::seconds(5));

private:
    Role m_role = Role::Unguarded;
    std::string m_why;
    std::string m_socketPath;
    std::string m_lockPath;
    int m_lock = -1;
    int m_listener = -1;
};

/// The runtime folder: $XDG_RUNTIME_DIR when it is an absolute path; empty otherwise.
std::string runtimeDir();

} // namespace tamberly
