#pragma once

#include "platform/system_proxy.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tamberly {

/// The record of the proxy in force, registry.reg beside the settings file: the two values the Internet Settings
/// keep, ProxyServer and ProxyEnable, in the registry editor's text format ("Windows Registry Editor Version 5.00",
/// [key] sections, "Name"="text" and "Name"=dword:0000000N lines), so a person can read and edit it. A write
/// replaces the file atomically under a lock and keeps every other line as it is, including lines it does not
/// understand.
class ProxyRecordFile {
public:
    /// The key the two values live under.
    static constexpr std::string_view kKey =
        "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

    explicit ProxyRecordFile(std::string path);
    const std::string& path() const { return m_path; }

    /// The setting the record holds: a manual proxy when ProxyEnable reads as the number 1, else off; the servers
    /// of ProxyServer (none when it names none the entry rules take); no bypass list and no automatic address. A
    /// missing file is the proxy off; a file that cannot be read gives why.
    CurrentSetting read() const;
    /// Records change in one replace of the file: ProxyEnable 1 for a manual proxy and 0 otherwise (the record knows
    /// no automatic mode), ProxyServer when change names servers. Returns the empty text, or why it failed.
    std::string write(const ProxySetting& change);

    /// The text of a value in file: text as it is, a number in decimal, data of another type as it is written;
    /// nullopt when the key or the value is missing. Names compare case-blind, and of repeated values the last one
    /// counts, as when the file is imported.
    static std::optional<std::string> valueText(std::string_view file, std::string_view key, std::string_view name);
    /// file (nullopt: there is none yet) with ProxyEnable set to enable and, when given, ProxyServer to server.
    static std::string edited(const std::optional<std::string>& file, const std::optional<std::string>& server,
                              std::uint32_t enable);

private:
    std::string m_path;
};

} // namespace tamberly
