#include "core/file_store.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tamberly::file_store {
namespace {

std::string errnoText(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    int release() {
        int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

bool writeAll(int fd, const std::string& data) {
    const char* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

constexpr const char* kTempMark = ".tmp-";
constexpr std::size_t kTempRandomChars = 6; // mkstemp's XXXXXX

// A writer killed between creating its temporary file and the rename leaves that file behind. Temporary files
// are only made under the lock, so whoever holds it may remove any it finds.
void removeLeftovers(const std::string& folder, const std::string& fileName) {
    const std::string prefix = fileName + kTempMark;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(folder, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() == prefix.size() + kTempRandomChars && name.compare(0, prefix.size(), prefix) == 0) {
            std::error_code ignored;
            std::filesystem::remove(it->path(), ignored);
        }
    }
}

// A folder for the program's locks that only the user can write to: $XDG_RUNTIME_DIR, else /run/user/UID (where
// the session keeps it, also for programs started without the variable, as by cron), so that every process of the
// user finds the same locks there.
std::optional<std::string> userRuntimeFolder() {
    const auto usable = [](const std::string& folder) {
        struct stat info {};
        return !folder.empty() && folder[0] == '/' && ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
               info.st_uid == ::geteuid() && (info.st_mode & 022) == 0;
    };
    if (const char* variable = std::getenv("XDG_RUNTIME_DIR"); variable && usable(variable))
        return std::string(variable);
    if (const std::string session = "/run/user/" + std::to_string(::geteuid()); usable(session))
        return session;
    return std::nullopt;
}

// Without a runtime folder: /tmp/tamberly-UID, made for the user alone. A folder of that name that is not the
// user's own, or that others may write to, is not used.
std::string privateTempFolder(std::string& why) {
    const std::string folder = "/tmp/tamberly-" + std::to_string(::geteuid());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        why = errnoText("cannot create", folder);
        return {};
    }
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() ||
        (info.st_mode & 077) != 0) {
        why = folder + " is not a folder of this user's alone";
        return {};
    }
    return folder;
}

// The lock of a file: in the runtime folder, never beside the user's files, named for the file (its folder as the
// system resolves it, so every path to one file meets one lock) and kept apart from any other by a hash of its path.
std::string lockPathFor(const std::string& folder, const std::string& fileName, std::string& why) {
    std::string lockFolder = userRuntimeFolder().value_or(std::string());
    if (lockFolder.empty() && (lockFolder = privateTempFolder(why)).empty())
        return {};
    std::string resolved = folder;
    if (char* real = ::realpath(folder.c_str(), nullptr)) {
        resolved = real;
        std::free(real);
    }
    const std::string whole = resolved + "/" + fileName;
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a
    for (const unsigned char c : whole)
        hash = (hash ^ c) * 1099511628211ull;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return lockFolder + "/tamberly-" + fileName.substr(0, 64) + "-" + hex + ".lock";
}

bool sameFile(int fd, const std::string& path) {
    struct stat held {};
    struct stat named {};
    return ::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
           held.st_ino == named.st_ino;
}

// An exclusive lock on a file of its own, which its holder removes before letting go, so that no lock file stays
// behind. A waiter that gets the lock of a file already removed has nothing: it tries again on the new one. A
// killed holder's file stays until the next holder removes it; the system ends the lock itself with the process.
class PrivateLock {
public:
    ~PrivateLock() {
        if (m_fd >= 0) {
            if (sameFile(m_fd, m_path))
                ::unlink(m_path.c_str());
            ::close(m_fd);
        }
    }

    std::string take(const std::string& path) {
        m_path = path;
        for (;;) {
            Fd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
            if (fd.get() < 0)
                return errnoText("cannot open the lock file", path);
            while (::flock(fd.get(), LOCK_EX) != 0) {
                if (errno != EINTR)
                    return errnoText("cannot lock", path);
            }
            if (sameFile(fd.get(), path)) {
                m_fd = fd.release();
                return {};
            }
        }
    }

private:
    std::string m_path;
    int m_fd = -1;
};

Stamp stampOf(const struct stat& info) {
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
            static_cast<std::uint64_t>(info.st_size),
            static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

} // namespace

std::optional<Stamp> stamp(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return stampOf(info);
}

std::optional<std::string> read(const std::string& path, Stamp* stamp) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        return std::nullopt;
    // Read straight into a buffer of the file's size (one byte more, to see the end at once): a settings file
    // holding a stored list is megabytes long. A file that grows meanwhile is read to its end all the same.
    struct stat info {};
    const bool known = ::fstat(fd.get(), &info) == 0;
    const bool sized = known && S_ISREG(info.st_mode) && info.st_size > 0;
    if (stamp)
        *stamp = known ? stampOf(info) : Stamp{};
    std::string data(sized ? static_cast<std::size_t>(info.st_size) + 1 : 65536, '\0');
    std::size_t used = 0;
    for (;;) {
        if (used == data.size())
            data.resize(data.size() * 2);
        const ssize_t n = ::read(fd.get(), data.data() + used, data.size() - used);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (n == 0)
            break;
        used += static_cast<std::size_t>(n);
    }
    data.resize(used);
    return data;
}

std::string update(const std::string& path, const std::function<std::string(const std::optional<std::string>&)>& change,
                   Version* known) {
    const std::filesystem::path target(path);
    const std::string folder = target.parent_path().empty() ? "." : target.parent_path().string();
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);

    // The lock lives in a file of its own, in the runtime folder: the data file is replaced by rename, so a lock on
    // it would be lost, and a lock file beside it would be left among the user's files.
    std::string why;
    const std::string lockPath = lockPathFor(folder, target.filename().string(), why);
    if (lockPath.empty())
        return "cannot lock " + path + ": " + why;
    PrivateLock lock;
    if (why = lock.take(lockPath); !why.empty())
        return why;

    // A file that exists but cannot be read is left alone: replacing it would keep only the one new value. Under
    // the lock, a file that still has the caller's stamp holds the caller's bytes.
    std::optional<std::string> current;
    const auto now = stamp(path);
    const bool same = known && now && *now == known->stamp;
    if (same) {
        current = std::move(known->bytes);
    } else {
        current = read(path);
        if (!current && errno != ENOENT)
            return errnoText("cannot read", path) + ", so it was left as it is";
    }
    // The caller's bytes go back to it on every way out but success.
    struct GiveBack {
        Version* known;
        std::optional<std::string>& current;
        bool taken;
        ~GiveBack() {
            if (taken && current)
                known->bytes = std::move(*current);
        }
    } giveBack{known, current, same};
    std::string next = change(current);

    removeLeftovers(folder, target.filename().string());
    std::string temp = path + kTempMark + "XXXXXX";
    Fd out(::mkstemp(temp.data()));
    if (out.get() < 0)
        return errnoText("cannot create a temporary file beside", path);
    struct stat old {};
    ::fchmod(out.get(), ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0600);
    if (!writeAll(out.get(), next) || ::fsync(out.get()) != 0) {
        std::string why = errnoText("cannot write", path);
        ::unlink(temp.c_str());
        return why;
    }
    if (::close(out.release()) != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
        std::string why = errnoText("cannot replace", path);
        ::unlink(temp.c_str());
        return why;
    }
    // Make the rename itself durable.
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get());
    if (known) {
        // Still under the lock: no other writer can have replaced the file since.
        giveBack.taken = false;
        known->stamp = stamp(path).value_or(Stamp{});
        known->bytes = std::move(next);
    }
    return {};
}

} // namespace tamberly::file_store
