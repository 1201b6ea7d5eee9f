#pragma once

// What the settings writer (settings_writer.cpp) stores, shared with the tests that kill it and check its files.

#include "core/proxy_entry.h"

#include <string>

namespace tamberly::test {

/// Where the writer keeps its values in the settings file.
inline constexpr const char* kWriterSection = "Proxy";
inline constexpr const char* kWriterKey = "Proxylist";
inline constexpr const char* kRaceSection = "Race";

/// The value of step n of a sequence: lengths vary from step to step, and some steps hold line breaks, quotes,
/// blanks at the ends or bytes above 127, so every way of writing a value out is crossed by the kills.
inline std::string sequenceValue(long n) {
    std::string value = "step " + std::to_string(n) + ":";
    value.append(static_cast<std::size_t>((n * 37) % 700), static_cast<char>('a' + n % 26));
    switch (n % 4) {
    case 1:
        value += "\r\nnext line \"quoted\"";
        break;
    case 2:
        value = " " + value + " ";
        break;
    case 3:
        value += " caf\xC3\xA9 \xFF";
        break;
    default:
        break;
    }
    return value;
}

/// Name and value of the i-th write of the racing writer tagged tag.
inline std::string raceName(const std::string& tag, int i) {
    return tag + std::to_string(i);
}
inline std::string raceValue(const std::string& tag, int i) {
    return tag + " wrote " + std::to_string(i) + " " + std::string(static_cast<std::size_t>(i % 40), '=');
}

/// The servers of step n in the record: one proxy whose host is sequenceValue(n) as it is, past the entry rules (as
/// a desktop may hold one), so every way of writing ProxyServer out is crossed too.
inline ProxyServers sequenceServers(long n) {
    ProxyEntry entry;
    entry.host = sequenceValue(n);
    entry.port = static_cast<std::uint16_t>(n % 65535 + 1);
    ProxyServers servers;
    servers.http = servers.https = servers.ftp = entry;
    return servers;
}

/// The servers the record's racing writer A puts in force in its i-th write (writer B turns the proxy off).
inline ProxyServers raceServers(int i) {
    ProxyEntry entry;
    entry.host = "race" + std::to_string(i) + ".example";
    entry.port = static_cast<std::uint16_t>(i + 1);
    ProxyServers servers;
    servers.http = servers.https = servers.ftp = entry;
    return servers;
}

} // namespace tamberly::test
