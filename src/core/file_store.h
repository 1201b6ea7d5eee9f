#pragma once

#include <functional>
#include <optional>
#include <string>

namespace tamberly {

/// Whole-file reads and crash-safe replacements, shared by the settings file and the registry file.
namespace file_store {

/// The file's bytes; nullopt when it does not exist or cannot be read, with errno telling which.
std::optional<std::string> read(const std::string& path);

/// Replaces a file's contents under an exclusive lock held across the read and the write, so that two
/// processes changing the same file never lose each other's change. change() receives the current bytes
/// (nullopt when the file does not exist) and returns the new ones. The new file is written to a temporary
/// file, flushed to disk and renamed over the old one, so a crash leaves either the old or the new file whole;
/// the next write removes the temporary file a crash left behind.
/// A file that exists but cannot be read is left as it is. The folder is created when missing.
/// Returns the empty text on success, otherwise why it failed. written, when given, receives the new bytes on success:
/// a caller that keeps them needs no copy of a file of megabytes.
std::string update(const std::string& path, const std::function<std::string(const std::optional<std::string>&)>& change,
                   std::string* written = nullptr);

} // namespace file_store
} // namespace tamberly
