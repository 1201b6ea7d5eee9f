#pragma once

#include "core/ini_file.h"

#include <functional>
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
/// The list server's judge page, which tells the check what reached it through a proxy.
inline constexpr const char* kJudgePath = "/Tamberly/judge.php";

/// The main window's client area (below the menu bar), in pixels at 96 dpi.
struct WindowSize {
    int width = 0;
    int height = 0;
    bool operator==(const WindowSize&) const = default;
};

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
    /// The list server's kJudgePath over plain http (an https address turned to http: a proxy's own header lines
    /// cannot be seen inside a tunnel), whatever [Check] URL names.
    std::string judgeUrl() const;
    /// The list server's host, without port or brackets: where the check asks a working proxy for a tunnel.
    std::string tunnelHost() const;
    /// [Desktop] LeaveAlone=1: write the record file only, never the desktop's proxy setting.
    bool leaveDesktopAlone() const;
    /// [Proxy] Proxylist: the stored list, scrambled (ProxyListStore reads and writes it).
    std::string scrambledList() const;

    /// [Window] Width and Height: the size the user last gave the window; nullopt unless both are whole numbers
    /// from 1 to 100000.
    std::optional<WindowSize> windowSize() const;

    /// Each returns the empty text, or why the file could not be written.
    std::string setBrowserPath(const std::string& path);
    std::string setScrambledList(std::string_view scrambled);
    /// Both values in one replacement of the file.
    std::string setWindowSize(WindowSize size);

    /// Any value by section and key, for what has no setter of its own; the empty text when missing.
    std::string value(std::string_view section, std::string_view key) const;
    std::string setValue(std::string_view section, std::string_view key, std::string_view value);

private:
    void read();
    /// Replaces the file with change applied to the text it holds; see setValue.
    std::string write(const std::function<std::string(const std::optional<std::string>&)>& change);

    std::string m_path;
    IniFile m_file;
    // The stamp of what m_file holds; nullopt when the file was missing or could not be read.
    std::optional<file_store::Stamp> m_stamp;
};

} // namespace tamberly
