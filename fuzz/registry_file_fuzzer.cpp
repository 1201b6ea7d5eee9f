// The registry file: RegRead and RegWrite never crash on any file; a text or number written reads back as the same
// type and data; every value present before still reads back; a refused write leaves the file as it was.
#include "fuzz_support.h"
#include "platform/linux/registry_file.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using tamberly::RegistryError;
using tamberly::RegValue;
using tamberly::fuzz::require;
using tamberly::fuzz::shown;

const tamberly::fuzz::ScratchDir scratch;

constexpr const char* kSettingsKey =
    "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

bool sameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

std::string shownValue(const std::optional<RegValue>& value) {
    if (!value)
        return "(none)";
    if (const auto* number = std::get_if<std::uint32_t>(&*value))
        return "dword " + std::to_string(*number);
    return shown(std::get<std::string>(*value));
}

// Key and value names that appear in the file, found roughly: RegRead itself says what they hold.
std::vector<std::pair<std::string, std::string>> namesIn(const std::string& data) {
    std::vector<std::string> keys, names;
    std::size_t start = 0;
    while (start < data.size()) {
        std::size_t end = data.find('\n', start);
        if (end == std::string::npos)
            end = data.size();
        std::string line = data.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
            if (keys.size() < 8)
                keys.push_back(line.substr(1, line.size() - 2));
        } else if (line.size() > 1 && line.front() == '"' && names.size() < 16) {
            names.push_back(line.substr(1, line.find('"', 1) - 1));
        } else if (line.size() > 1 && line.front() == '@' && names.size() < 16) {
            names.push_back("@");
        }
    }
    keys.push_back(kSettingsKey);
    names.push_back("ProxyServer");
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const auto& k : keys)
        for (const auto& n : names)
            if (!n.empty() && n.find('\\') == std::string::npos)
                pairs.emplace_back(k, n);
    return pairs;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const bool ownKey = input.ConsumeBool();
    const bool isNumber = input.ConsumeBool();
    const std::uint32_t number = input.ConsumeIntegral<std::uint32_t>();
    std::string key = input.ConsumeRandomLengthString(128);
    std::string name = input.ConsumeRandomLengthString(64);
    const std::string text = input.ConsumeRandomLengthString(1024);
    const std::string file = input.ConsumeRemainingBytesAsString();

    // A full name is key\name: the name holds no backslash and neither part is empty.
    if (!ownKey || key.empty())
        key = kSettingsKey;
    std::erase(name, '\\');
    if (name.empty())
        name = "ProxyServer";
    const std::string fullName = key + "\\" + name;
    const RegValue value = isNumber ? RegValue(number) : RegValue(text);

    scratch.write("registry.reg", file);
    tamberly::RegistryFile registry(scratch.file("registry.reg"));
    const auto others = namesIn(file);
    std::vector<std::optional<RegValue>> before;
    for (const auto& [k, n] : others)
        before.push_back(registry.RegRead(k + "\\" + n));
    (void)registry.RegRead(fullName);

    try {
        registry.RegWrite(fullName, value, isNumber ? "REG_DWORD" : "REG_SZ");
    } catch (const RegistryError& error) {
        require(key.find_first_of("[]\r\n") != std::string::npos || name.find_first_of("\r\n") != std::string::npos,
                "only names a line cannot carry are refused",
                [&] { return shown(key) + " " + shown(name) + ": " + error.what(); });
        require(scratch.read("registry.reg") == file, "a refused write leaves the file as it was",
                [&] { return error.what(); });
        return 0;
    }
    const auto read = registry.RegRead(fullName);
    require(read == value, "the value written reads back", [&] {
        return shown(key) + " " + shown(name) + ": " + shownValue(value) + " read as " + shownValue(read) +
               "\n  file: " + shown(scratch.read("registry.reg"));
    });
    for (std::size_t i = 0; i < others.size(); ++i) {
        const std::string& k = others[i].first;
        const std::string& n = others[i].second;
        if (sameName(k, key) && sameName(n, name))
            continue;
        const auto now = registry.RegRead(k + "\\" + n);
        require(now == before[i], "a write keeps every other value", [&] {
            return shown(k) + " " + shown(n) + " was " + shownValue(before[i]) + ", now " + shownValue(now);
        });
    }
    return 0;
}
