#include "core/file_store.h"

#include <cerrno>
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

    // The lock lives in a file of its own: the data file is replaced by rename, so a lock on it would be lost.
    Fd lock(::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (lock.get() < 0)
        return errnoText("cannot open the lock file for", path);
    while (::flock(lock.get(), LOCK_EX) != 0) {
        if (errno != EINTR)
            return errnoText("cannot lock", path);
    }

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
