#pragma once

// What the settings writer (settings_writer.cpp) stores, shared with the tests that kill it and check its files.

#include <string>

namespace tamberly::test {

/// Where the writer keeps its values in the settings file and in the registry file.
inline constexpr const char* kWriterSection = "Proxy";
inline constexpr const char* kWriterKey = "Proxylist";
inline constexpr const char* kRaceSection = "Race";
inline constexpr const char* kRegistryKey =
    "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

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

} // namespace tamberly::test
