#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tamberly {

/// Whole-file reads and crash-safe replacements, shared by the settings file and the registry file.
namespace file_store {

/// What tells one version of a file from another: the file itself (replacing a file makes a new one), its size and
/// the time it was last written.
struct Stamp {
    std::uint64_t volume = 0;
    std::uint64_t file = 0;
    std::uint64_t size = 0;
    std::int64_t written = 0;
    bool operator==(const Stamp&) const = default;
};

/// The stamp of the file as it is now; nullopt when it does not exist or cannot be looked at.
std::optional<Stamp> stamp(const std::string& path);

/// The file's bytes; nullopt when it does not exist or cannot be read, with errno telling which. stamp, when given,
/// receives the stamp of the file that was read.
std::optional<std::string> read(const std::string& path, Stamp* stamp = nullptr);

/// A file's bytes as a caller last knew them, with their stamp.
struct Version {
    Stamp stamp;
    std::string bytes;
};

/// Replaces a file's contents under an exclusive lock held across the read and the write, so that two
/// processes changing the same file never lose each other's change. The lock is kept out of the user's folders (on
/// Linux a lock file in the user's runtime folder, removed by its holder; on Windows a named object of the system),
/// so nothing of it is left beside the file. change() receives the current bytes
/// (nullopt when the file does not exist) and returns the new ones. The new file is written to a temporary
/// file, flushed to disk and renamed over the old one, so a crash leaves either the old or the new file whole;
/// the next write removes the temporary file a crash left behind.
/// A file that exists but cannot be read is left as it is. The folder is created when missing.
/// Returns the empty text on success, otherwise why it failed.
/// known, when given, is the version the caller holds: while the file still has its stamp, its bytes stand for the
/// file's and it is not read again; on success it receives the version written. A stored list is megabytes long, and
/// each read or copy of it costs fresh pages.
std::string update(const std::string& path, const std::function<std::string(const std::optional<std::string>&)>& change,
                   Version* known = nullptr);

} // namespace file_store
} // namespace tamberly
