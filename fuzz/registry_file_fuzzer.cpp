// registry.reg, the record of the proxy in force: reading and writing never crash on any file; a change's values read
// back as written; every other value present before still reads back; the file read back says what was written; and
// writing the same change again changes nothing.
#include "fuzz_support.h"
#include "platform/linux/proxy_record_file.h"
#include "text/ascii_text.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using tamberly::ProxyRecordFile;
using tamberly::fuzz::require;
using tamberly::fuzz::shown;

const tamberly::fuzz::ScratchDir scratch;
const std::string kKey(ProxyRecordFile::kKey);

std::string shownValue(const std::optional<std::string>& value) {
    return value ? shown(*value) : "(none)";
}

bool isOneOfOurs(const std::string& key, const std::string& name) {
    return tamberly::equalsIgnoringCase(key, kKey) &&
           (tamberly::equalsIgnoringCase(name, "ProxyServer") || tamberly::equalsIgnoringCase(name, "ProxyEnable"));
}

// Key and value names that appear in the file, found roughly: valueText itself says what they hold.
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
    keys.push_back(kKey);
    names.push_back("ProxyOverride");
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const auto& k : keys)
        for (const auto& n : names)
            if (!n.empty() && !isOneOfOurs(k, n))
                pairs.emplace_back(k, n);
    return pairs;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const auto mode = static_cast<tamberly::ProxyMode>(input.ConsumeIntegralInRange(0, 2));
    const bool giveServers = input.ConsumeBool();
    const auto port = input.ConsumeIntegral<std::uint16_t>();
    // A host past the entry rules, as a desktop may hold one: every way of writing ProxyServer out is crossed.
    const std::string host = input.ConsumeRandomLengthString(256);
    const std::string file = input.ConsumeRemainingBytesAsString();

    tamberly::ProxySetting change;
    change.mode = mode;
    if (giveServers) {
        tamberly::ProxyEntry entry;
        entry.host = host;
        entry.port = port;
        change.servers.emplace();
        change.servers->http = change.servers->https = change.servers->ftp = entry;
    }

    scratch.write("registry.reg", file);
    ProxyRecordFile record(scratch.file("registry.reg"));
    require(static_cast<bool>(record.read().setting), "any file reads");
    const auto others = namesIn(file);
    std::vector<std::optional<std::string>> before;
    for (const auto& [k, n] : others)
        before.push_back(ProxyRecordFile::valueText(file, k, n));
    const auto serverBefore = ProxyRecordFile::valueText(file, kKey, "ProxyServer");

    const std::string why = record.write(change);
    require(why.empty(), "a write to a writable folder succeeds", [&] { return why; });
    const std::string written = scratch.read("registry.reg");

    const auto server = ProxyRecordFile::valueText(written, kKey, "ProxyServer");
    const auto expectedServer =
        giveServers ? std::optional<std::string>(tamberly::formatProxyServers(*change.servers)) : serverBefore;
    require(server == expectedServer, "ProxyServer reads back as written, or as it was when kept", [&] {
        return shownValue(expectedServer) + " read as " + shownValue(server) + "\n  file: " + shown(written);
    });
    const auto enable = ProxyRecordFile::valueText(written, kKey, "ProxyEnable");
    const std::string expectedEnable = mode == tamberly::ProxyMode::Manual ? "1" : "0";
    require(enable == expectedEnable, "ProxyEnable reads back as written",
            [&] { return shownValue(enable) + "\n  file: " + shown(written); });
    const auto read = record.read();
    require(read.setting &&
                (read.setting->mode == tamberly::ProxyMode::Manual) == (mode == tamberly::ProxyMode::Manual),
            "the record reads as on exactly when a manual proxy was written");

    for (std::size_t i = 0; i < others.size(); ++i) {
        const auto now = ProxyRecordFile::valueText(written, others[i].first, others[i].second);
        require(now == before[i], "a write keeps every other value", [&] {
            return shown(others[i].first) + " " + shown(others[i].second) + " was " + shownValue(before[i]) + ", now " +
                   shownValue(now);
        });
    }

    const std::string again = ProxyRecordFile::edited(written, giveServers ? expectedServer : std::nullopt,
                                                      mode == tamberly::ProxyMode::Manual ? 1 : 0);
    require(again == written, "writing the same change again changes nothing",
            [&] { return shown(written) + "\n  became " + shown(again); });
    return 0;
}
