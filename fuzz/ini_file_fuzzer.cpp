// The settings file: any file read never crashes; a value written reads back exactly; every other value in the
// file reads as it did before; a write refused for its names leaves the file as it was.
#include "fuzz_support.h"
#include "core/ini_file.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace {

using tamberly::fuzz::require;
using tamberly::fuzz::shown;

const tamberly::fuzz::ScratchDir scratch;
const std::string kFile = scratch.file("prefs.ini");

// One value as a command reads it: the file read anew.
std::string readValue(const std::string& section, const std::string& key) {
    return tamberly::IniFile::read(kFile).value(section, key);
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string trimmed(const std::string& s) {
    std::size_t begin = 0, end = s.size();
    while (begin < end && isBlank(s[begin]))
        ++begin;
    while (end > begin && isBlank(s[end - 1]))
        --end;
    return s.substr(begin, end - begin);
}

bool sameName(const std::string& a, const std::string& b) {
    const std::string x = trimmed(a), y = trimmed(b);
    if (x.size() != y.size())
        return false;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(x[i]) != lower(y[i]))
            return false;
    }
    return true;
}

bool hasControl(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7F)
            return true;
    return false;
}

// Names a line of the file can carry: after trimming, not empty and without control bytes; a key also without "="
// and not starting like a comment or a section.
bool writable(const std::string& section, const std::string& key) {
    const std::string s = trimmed(section), k = trimmed(key);
    return !s.empty() && !k.empty() && !hasControl(s) && !hasControl(k) && k.find('=') == std::string::npos &&
           k.front() != ';' && k.front() != '[';
}

// Section and key names that appear in the file, found roughly; the reader itself says what they hold.
std::vector<std::pair<std::string, std::string>> namesIn(const std::string& data) {
    std::vector<std::string> sections, keys;
    std::size_t start = 0;
    while (start < data.size()) {
        std::size_t end = data.find('\n', start);
        if (end == std::string::npos)
            end = data.size();
        const std::string line = trimmed(data.substr(start, end - start));
        start = end + 1;
        if (!line.empty() && line.front() == '[') {
            const auto close = line.rfind(']');
            if (close != std::string::npos && sections.size() < 8)
                sections.push_back(line.substr(1, close - 1));
        } else if (const auto eq = line.find('='); eq != std::string::npos && keys.size() < 16) {
            keys.push_back(line.substr(0, eq));
        }
    }
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const auto& s : sections)
        for (const auto& k : keys)
            pairs.emplace_back(s, k);
    return pairs;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string section = input.ConsumeRandomLengthString(64);
    const std::string key = input.ConsumeRandomLengthString(64);
    const std::string value = input.ConsumeRandomLengthString(1024);
    const std::string file = input.ConsumeRemainingBytesAsString();

    scratch.write("prefs.ini", file);
    auto others = namesIn(file);
    others.emplace_back("Fuzz", "Second");
    std::vector<std::string> before;
    for (const auto& [s, k] : others)
        before.push_back(readValue(s, k));
    (void)readValue(section, key);

    std::string why;
    const bool written = tamberly::IniFile::write(kFile, section, key, value, why).has_value();
    require(written == writable(section, key), "a write refuses exactly the names a line cannot carry",
            [&] { return shown(section) + " " + shown(key) + ": " + why; });
    if (!written) {
        require(!why.empty(), "a refused write says why");
        require(scratch.read("prefs.ini") == file, "a refused write leaves the file as it was");
        return 0;
    }
    require(readValue(section, key) == value, "the value written reads back",
            [&] { return shown(value) + " read as " + shown(readValue(section, key)); });
    for (std::size_t i = 0; i < others.size(); ++i) {
        const std::string& s = others[i].first;
        const std::string& k = others[i].second;
        if (sameName(s, section) && sameName(k, key))
            continue;
        require(readValue(s, k) == before[i], "a write keeps every other value",
                [&] { return "[" + s + "] " + k + " was " + shown(before[i]) + ", now " + shown(readValue(s, k)); });
    }

    // A later write elsewhere, which moves lines around, keeps the value too.
    require(tamberly::IniFile::write(kFile, "Fuzz", "Second", file.substr(0, 16), why).has_value(),
            "a second write succeeds");
    if (!(sameName(section, "Fuzz") && sameName(key, "Second")))
        require(readValue(section, key) == value, "a value survives a write of another key");
    return 0;
}
