#pragma once

#include "core/ini_file.h"

#include <optional>
#include <string>
#include <string_view>

namespace tamberly {

/// Where the list server listens when prefs.ini names no other place.
inline constexpr const char* kDefaultListServerUrl = "http://127.0.0.1:8642";
/// The proxy check's test URL on the list server: tiny, fixed and cheap to answer.
inline constexpr const char* kCheckPath = "/Tamberly/check.php";
/// The fixed body of the list server's check page.
inline constexpr const char* kCheckBody = "tamberly-check-ok";

/// The program's settings file, prefs.ini, with a typed read and write for each setting. The file is read when the
/// object is made and again at reload() when it has changed; each command reloads once, so an edit by hand counts from
/// the next command on. Each write replaces the file atomically and keeps every other line as it was.
class Settings final {
public:
    /// Reads path (a missing file reads as empty).
    explicit Settings(std::string path);

    const std::string& path() const { return m_path; }
    /// Reads the file again, unless it is the same file as last read or written (its stamp: the file itself, its
    /// size and when it was written): a stored list is megabytes long.
    void reload();

    /// [Path] IE: the browser's program; empty when none is known.
    std::string browserPath() const;
    /// [Server] URL without trailing "/", else kDefaultListServerUrl.
    std::string listServerUrl() const;
    /// [Check] URL, else the list server's kCheckPath.
    std::string checkUrl() const;
    /// [Check] Expect: a text the test URL's answer must contain; without it, the check page's kCheckBody when
    /// there is no [Check] URL, else the empty text (any answer).
    std::string checkExpect() const;
    /// [Desktop] LeaveAlone=1: write the record file only, never the desktop's proxy setting.
    bool leaveDesktopAlone() const;
    /// [Proxy] Proxylist: the stored list, scrambled (ProxyListStore reads and writes it).
    std::string scrambledList() const;

    /// Each returns the empty text, or why the file could not be written.
    std::string setBrowserPath(const std::string& path);
    std::string setScrambledList(std::string_view scrambled);

    /// Any value by section and key, for what has no setter of its own; the empty text when missing.
    std::string value(std::string_view section, std::string_view key) const;
    std::string setValue(std::string_view section, std::string_view key, std::string_view value);

private:
    void read();

    std::string m_path;
    IniFile m_file;
    // The stamp of what m_file holds; nullopt when the file was missing or could not be read.
    std::optional<file_store::Stamp> m_stamp;
};

} // namespace tamberly
