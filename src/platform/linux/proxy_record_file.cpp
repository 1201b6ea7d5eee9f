#include "platform/linux/proxy_record_file.h"

#include "core/file_store.h"
#include "text/ascii_text.h"
#include "text/utf8.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

namespace tamberly {
namespace {

constexpr const char* kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kServerName = "ProxyServer";
constexpr std::string_view kEnableName = "ProxyEnable";
constexpr std::string_view kLineBlanks = " \t\r";

// A text that a quoted line can carry: no control characters, and valid UTF-8 so editors keep it.
bool fitsQuoted(std::string_view s) {
    for (const unsigned char c : s)
        if (c < 0x20 || c == 0x7f)
            return false;
    return isValidUtf8(s);
}

std::string quote(std::string_view s) {
    std::string out = "\"";
    for (const char c : s) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

std::string textData(std::string_view text) {
    if (fitsQuoted(text))
        return quote(text);
    // Texts with line breaks or bytes that are not UTF-8 go as hex(1): the text's bytes, so they come back exactly.
    std::string out = "hex(1):";
    char byte[4];
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::snprintf(byte, sizeof byte, i ? ",%02x" : "%02x", static_cast<unsigned char>(text[i]));
        out += byte;
    }
    return out;
}

std::string numberData(std::uint32_t number) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "dword:%08x", number);
    return buffer;
}

struct ValueLine {
    std::string name; // unescaped; "@" for the default value
    std::string data; // the text after "="
};

// Splits a line `"Name"=data` or `@=data`; false for anything else.
bool parseValueLine(const std::string& line, ValueLine& out) {
    if (line.empty())
        return false;
    std::size_t pos;
    if (line[0] == '@') {
        // Not `= "@"`: GCC 12 at -O3 reports a false -Wrestrict overlap for that assignment here.
        out.name.assign(1, '@');
        pos = 1;
    } else if (line[0] == '"') {
        out.name.clear();
        pos = 1;
        for (; pos < line.size() && line[pos] != '"'; ++pos) {
            if (line[pos] == '\\' && pos + 1 < line.size())
                ++pos;
            out.name += line[pos];
        }
        if (pos >= line.size())
            return false;
        ++pos;
    } else {
        return false;
    }
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
        ++pos;
    if (pos >= line.size() || line[pos] != '=')
        return false;
    out.data = std::string(trim(std::string_view(line).substr(pos + 1), kLineBlanks));
    return true;
}

std::optional<std::string> hexBytes(std::string_view list) {
    std::string out;
    int high = -1;
    for (const char c : list) {
        if (c == ',' || c == ' ' || c == '\t' || c == '\\' || c == '\r' || c == '\n') {
            if (high >= 0)
                return std::nullopt;
            continue;
        }
        const int digit = hexDigitValue(c);
        if (digit < 0)
            return std::nullopt;
        if (high < 0) {
            high = digit;
        } else {
            out += static_cast<char>(high * 16 + digit);
            high = -1;
        }
    }
    if (high >= 0)
        return std::nullopt;
    return out;
}

std::string dataText(const std::string& data) {
    if (!data.empty() && data[0] == '"') {
        std::string text;
        std::size_t i = 1;
        for (; i < data.size() && data[i] != '"'; ++i) {
            if (data[i] == '\\' && i + 1 < data.size())
                ++i;
            text += data[i];
        }
        if (i < data.size())
            return text;
    } else if (data.rfind("dword:", 0) == 0) {
        const std::string digits(trim(std::string_view(data).substr(6), kLineBlanks));
        if (!digits.empty() && digits.size() <= 8 &&
            digits.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos)
            return std::to_string(std::stoul(digits, nullptr, 16));
    } else if (data.rfind("hex(1):", 0) == 0) {
        if (auto bytes = hexBytes(std::string_view(data).substr(7)))
            return *bytes;
    }
    // Data of another type, or edited by hand into something unreadable: the text it is.
    return data;
}

// A hex value line ending in "\" goes on in the next line.
bool continues(const std::string& line) {
    return !line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos;
}

// The file as lines, hex values that continue over several lines (ending in "\") joined into one.
std::vector<std::string> logicalLines(std::string_view text) {
    std::vector<std::string> lines;
    std::string current;
    bool continuing = false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        start = end + 1;
        if (continuing)
            current += trim(line, kLineBlanks);
        else
            current = line;
        continuing = continues(current);
        if (continuing)
            current.pop_back();
        else
            lines.push_back(current);
    }
    if (continuing)
        lines.push_back(current);
    return lines;
}

// A line as written so that reading gives it back: reading takes one "\r" off every line, and a line that still
// ends as a continuation (a hand-edited file may end with one) would swallow the line after it.
std::string asWritten(const std::string& line) {
    if (!line.empty() && line.back() == '\r')
        return line + "\r";
    if (continues(line))
        return line + " ";
    return line;
}

bool isSectionLine(const std::string& line, std::string& name) {
    const std::string_view t = trim(line, kLineBlanks);
    if (t.size() < 2 || t.front() != '[' || t.back() != ']')
        return false;
    name = std::string(t.substr(1, t.size() - 2));
    return true;
}

} // namespace

ProxyRecordFile::ProxyRecordFile(std::string path) : m_path(std::move(path)) {}

std::optional<std::string> ProxyRecordFile::valueText(std::string_view file, std::string_view key,
                                                      std::string_view name) {
    bool inKey = false;
    std::optional<std::string> found;
    for (const auto& line : logicalLines(file)) {
        std::string section;
        ValueLine value;
        if (isSectionLine(line, section))
            inKey = equalsIgnoringCase(section, key);
        else if (inKey && parseValueLine(line, value) && equalsIgnoringCase(value.name, name))
            found = dataText(value.data);
    }
    return found;
}

std::string ProxyRecordFile::edited(const std::optional<std::string>& file, const std::optional<std::string>& server,
                                    std::uint32_t enable) {
    // The values to set, in the order a new key lists them.
    std::vector<std::pair<std::string_view, std::string>> values;
    if (server)
        values.emplace_back(kServerName, quote(kServerName) + "=" + textData(*server));
    values.emplace_back(kEnableName, quote(kEnableName) + "=" + numberData(enable));

    std::vector<std::string> lines = file ? logicalLines(*file) : std::vector<std::string>{};
    const auto firstLine = [&] { return trim(lines.front(), kLineBlanks); };
    if (lines.empty() || (firstLine().find("Registry Editor") == std::string_view::npos && firstLine() != "REGEDIT4"))
        lines.insert(lines.begin(), {kHeader, ""});

    // Each value is replaced where it stands, or added at the end of its key, or the key is added at the end.
    std::vector<bool> replaced(values.size(), false);
    std::optional<std::size_t> keyEnd;
    bool inKey = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string section;
        ValueLine existing;
        if (isSectionLine(lines[i], section)) {
            inKey = equalsIgnoringCase(section, kKey);
            if (inKey)
                keyEnd = i + 1;
            continue;
        }
        if (!inKey)
            continue;
        if (parseValueLine(lines[i], existing)) {
            bool erased = false;
            for (std::size_t v = 0; v < values.size() && !erased; ++v) {
                if (!equalsIgnoringCase(existing.name, values[v].first))
                    continue;
                if (replaced[v]) { // a repeated value: the one written stands for all
                    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i--));
                    erased = true;
                } else {
                    lines[i] = values[v].second;
                    replaced[v] = true;
                }
            }
            if (erased)
                continue;
        }
        if (!trim(lines[i], kLineBlanks).empty())
            keyEnd = i + 1;
    }
    std::vector<std::string> added;
    for (std::size_t v = 0; v < values.size(); ++v)
        if (!replaced[v])
            added.push_back(values[v].second);
    if (keyEnd) {
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(*keyEnd), added.begin(), added.end());
    } else {
        if (!trim(lines.back(), kLineBlanks).empty())
            lines.emplace_back();
        lines.push_back("[" + std::string(kKey) + "]");
        lines.insert(lines.end(), added.begin(), added.end());
    }
    std::string out;
    for (const auto& line : lines)
        out += asWritten(line) + "\n";
    if (out.size() < 2 || out.compare(out.size() - 2, 2, "\n\n") != 0)
        out += "\n";
    return out;
}

CurrentSetting ProxyRecordFile::read() const {
    ProxySetting setting{ProxyMode::Off, ProxyServers{}, std::vector<std::string>{}, {}};
    const auto text = file_store::read(m_path);
    if (!text) {
        // Taken straight from the failed read: another process may create the file a moment later.
        const int error = errno;
        if (error == ENOENT)
            return {setting, {}};
        return {std::nullopt, "cannot read " + m_path + ": " + std::strerror(error)};
    }
    if (const auto enable = valueText(*text, kKey, kEnableName); enable && proxyEnableIsOn(*enable))
        setting.mode = ProxyMode::Manual;
    if (const auto server = valueText(*text, kKey, kServerName))
        if (ServersParse parsed = parseProxyServers(*server); parsed.servers)
            setting.servers = std::move(parsed.servers);
    return {setting, {}};
}

std::string ProxyRecordFile::write(const ProxySetting& change) {
    const std::optional<std::string> server =
        change.servers ? std::optional<std::string>(formatProxyServers(*change.servers)) : std::nullopt;
    const std::uint32_t enable = change.mode == ProxyMode::Manual ? 1 : 0;
    return file_store::update(m_path,
                              [&](const std::optional<std::string>& old) { return edited(old, server, enable); });
}

} // namespace tamberly
