#include "platform/linux/registry_file.h"

#include "core/file_store.h"
#include "text/ascii_text.h"
#include "text/utf8.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace tamberly {
namespace {

constexpr const char* kHeader = "Windows Registry Editor Version 5.00";

constexpr std::string_view kLineBlanks = " \t\r";

// A text that a quoted line can carry: no control characters, and valid UTF-8 so editors keep it.
bool fitsQuoted(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7f)
            return false;
    return isValidUtf8(s);
}

std::string quote(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

// The data part of a value line, after "=".
std::string formatData(const RegValue& value) {
    if (const auto* number = std::get_if<std::uint32_t>(&value)) {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "dword:%08x", *number);
        return buffer;
    }
    const auto& text = std::get<std::string>(value);
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
    out.data = std::string(trim(line.substr(pos + 1), kLineBlanks));
    return true;
}

std::optional<std::string> hexBytes(const std::string& list) {
    std::string out;
    int high = -1;
    for (char c : list) {
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

RegValue parseData(const std::string& data) {
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
        const std::string digits(trim(data.substr(6), kLineBlanks));
        if (!digits.empty() && digits.size() <= 8 &&
            digits.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos)
            return static_cast<std::uint32_t>(std::stoul(digits, nullptr, 16));
    } else if (data.rfind("hex(1):", 0) == 0) {
        if (auto bytes = hexBytes(data.substr(7)))
            return *bytes;
    }
    // Data of another type, or edited by hand into something unreadable: hand it over as the text it is.
    return data;
}

// A hex value line ending in "\" goes on in the next line.
bool continues(const std::string& line) {
    return !line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos;
}

// The file as lines, hex values that continue over several lines (ending in "\") joined into one.
std::vector<std::string> logicalLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string current;
    bool continuing = false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
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
    const std::string t(trim(line, kLineBlanks));
    if (t.size() < 2 || t.front() != '[' || t.back() != ']')
        return false;
    name = t.substr(1, t.size() - 2);
    return true;
}

void splitFullName(const std::string& fullName, std::string& key, std::string& value) {
    const auto slash = fullName.rfind('\\');
    if (slash == std::string::npos || slash == 0 || slash + 1 == fullName.size())
        throw RegistryError("not a registry value name: " + fullName);
    key = fullName.substr(0, slash);
    value = fullName.substr(slash + 1);
}

} // namespace

RegistryFile::RegistryFile(std::string path) : m_path(std::move(path)) {}

std::optional<RegValue> RegistryFile::RegRead(const std::string& fullName) {
    std::string key, name;
    splitFullName(fullName, key, name);
    const auto text = file_store::read(m_path);
    if (!text) {
        // Taken straight from the failed read: another process may create the file a moment later.
        const int error = errno;
        if (error == ENOENT)
            return std::nullopt;
        throw RegistryError("cannot read " + m_path + ": " + std::strerror(error));
    }
    bool inKey = false;
    std::optional<RegValue> found;
    for (const auto& line : logicalLines(*text)) {
        std::string section;
        ValueLine value;
        if (isSectionLine(line, section))
            inKey = equalsIgnoringCase(section, key);
        else if (inKey && parseValueLine(line, value) && equalsIgnoringCase(value.name, name))
            found = parseData(value.data); // the last one wins, as when the file is imported
    }
    return found;
}

void RegistryFile::RegWrite(const std::string& fullName, const RegValue& value, const std::string& typeName) {
    std::string key, name;
    splitFullName(fullName, key, name);
    const bool isText = std::holds_alternative<std::string>(value);
    if ((typeName == "REG_SZ" && !isText) || (typeName == "REG_DWORD" && isText) ||
        (typeName != "REG_SZ" && typeName != "REG_DWORD"))
        throw RegistryError("cannot store this data as " + typeName + " in " + fullName);
    if (key.find_first_of("[]\r\n") != std::string::npos)
        throw RegistryError("not a registry key name: " + key);
    // A line break in the name would end its line early and make the rest a line of its own.
    if (name.find_first_of("\r\n") != std::string::npos)
        throw RegistryError("not a registry value name: " + name);

    const std::string newLine = quote(name) + "=" + formatData(value);
    const std::string why = file_store::update(m_path, [&](const std::optional<std::string>& old) {
        std::vector<std::string> lines = old ? logicalLines(*old) : std::vector<std::string>{};
        if (lines.empty() || (trim(lines.front(), kLineBlanks).find("Registry Editor") == std::string::npos &&
                              trim(lines.front(), kLineBlanks) != "REGEDIT4"))
            lines.insert(lines.begin(), {kHeader, ""});

        // Replace the value where it stands, or add it at the end of its key, or add the key at the end.
        std::optional<std::size_t> keyEnd;
        bool inKey = false, replaced = false;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            std::string section;
            ValueLine existing;
            if (isSectionLine(lines[i], section)) {
                inKey = equalsIgnoringCase(section, key);
                if (inKey)
                    keyEnd = i + 1;
            } else if (inKey) {
                if (parseValueLine(lines[i], existing) && equalsIgnoringCase(existing.name, name)) {
                    if (replaced) {
                        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i--));
                        continue;
                    }
                    lines[i] = newLine;
                    replaced = true;
                }
                if (!trim(lines[i], kLineBlanks).empty())
                    keyEnd = i + 1;
            }
        }
        if (!replaced) {
            if (keyEnd) {
                lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(*keyEnd), newLine);
            } else {
                if (!trim(lines.back(), kLineBlanks).empty())
                    lines.push_back("");
                lines.push_back("[" + key + "]");
                lines.push_back(newLine);
            }
        }
        std::string out;
        for (const auto& line : lines)
            out += asWritten(line) + "\n";
        if (out.size() < 2 || out.compare(out.size() - 2, 2, "\n\n") != 0)
            out += "\n";
        return out;
    });
    if (!why.empty())
        throw RegistryError(why);
}

} // namespace tamberly
