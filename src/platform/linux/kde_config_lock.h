#pragma once

#include <chrono>
#include <string>

namespace tamberly {

/// The lock KDE's configuration code takes while it writes one of its files (KConfig, through Qt's QLockFile):
/// FILE.lock beside the file, created only where none exists, holding the owner's process id, program name and host
/// name on lines of their own, and removed when the write is done. Taking the same lock makes a KDE program that
/// writes the file at the same moment wait for this program, and this program for it, so neither loses its change.
class KdeConfigLock {
public:
    /// A lock file left by an owner that did not remove it is stale once its process is gone (on this host: no such
    /// process, or one of another name under its id) or once it is this old, as for KDE's programs.
    static constexpr std::chrono::seconds kStaleAfter{30};

    /// The lock of the file at filePath; not taken yet.
    explicit KdeConfigLock(std::string filePath);
    /// Removes the lock file when it is held.
    ~KdeConfigLock();
    KdeConfigLock(const KdeConfigLock&) = delete;
    KdeConfigLock& operator=(const KdeConfigLock&) = delete;

    /// Takes the lock, waiting while a live owner holds it, at most limit; a stale lock file is taken over. Returns
    /// the empty text, or why the lock was not taken (naming the owner that kept it).
    std::string take(std::chrono::milliseconds limit);
    /// The lock file's path: the file's, with ".lock" added.
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
    int m_fd = -1;
};

} // namespace tamberly
