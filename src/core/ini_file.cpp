#include "core/ini_file.h"

#include "core/file_store.h"
#include "text/ascii_text.h"

#include <array>
#include <optional>
#include <vector>

// Values that a plain "key=value" line cannot give back (line breaks and other control bytes, blanks at either
// end, a surrounding pair of single or double quotes, which the profile functions strip) are written in double
// quotes with three escapes: \" \\ and \xHH (two upper-case hex digits, used only for control bytes). Every other
// value is written plain, so the lines the classic program wrote read as they always did.
//
// A classic file may hold a quoted value with backslashes of its own, such as "C:\Program Files\IE.EXE", which the
// profile functions read with the quotes removed and the backslashes kept. So a quoted value is unescaped only when
// it is exactly what encodeValue writes for the unescaped text: every backslash starts one of the three escapes,
// no quote inside is left bare, and the unescaped text needs the quotes at all. A classic value fails that test
// unless all its backslashes happen to form escapes and the result holds a control byte, blanks at an end or a
// quote pair, e.g. " \\share" with a leading blank; such a rare hand-written value reads unescaped. The short
// escape set (no \n, \t) is on purpose: with it, paths such as "C:\new\tools" would be misread.

namespace tamberly {
namespace {

bool isControl(unsigned char b) {
    return b < 0x20 || b == 0x7F;
}

bool needsQuotes(std::string_view value) {
    for (char c : value)
        if (isControl(static_cast<unsigned char>(c)))
            return true;
    if (value.empty())
        return false;
    if (value.front() == ' ' || value.back() == ' ')
        return true;
    return value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front();
}

std::optional<std::string> unescape(std::string_view inner) {
    std::string out;
    out.reserve(inner.size());
    for (std::size_t i = 0; i < inner.size(); ++i) {
        const char c = inner[i];
        if (c == '"')
            return std::nullopt;
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (i + 1 >= inner.size())
            return std::nullopt;
        const char e = inner[++i];
        if (e == '"' || e == '\\') {
            out.push_back(e);
        } else if (e == 'x' && i + 2 < inner.size() && hexDigitValue(inner[i + 1]) >= 0 &&
                   hexDigitValue(inner[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hexDigitValue(inner[i + 1]) * 16 + hexDigitValue(inner[i + 2])));
            i += 2;
        } else {
            return std::nullopt;
        }
    }
    return out;
}

// One line of the file: where it starts, where its text ends (before any CR and LF), and where the next begins.
struct Line {
    std::size_t begin;
    std::size_t textEnd;
    std::size_t next;
};

std::vector<Line> splitLines(std::string_view data) {
    std::vector<Line> lines;
    std::size_t begin = 0;
    while (begin < data.size()) {
        std::size_t lf = data.find('\n', begin);
        const std::size_t end = lf == std::string_view::npos ? data.size() : lf;
        std::size_t textEnd = end;
        while (textEnd > begin && data[textEnd - 1] == '\r')
            --textEnd;
        lines.push_back({begin, textEnd, lf == std::string_view::npos ? data.size() : lf + 1});
        begin = end + 1;
    }
    return lines;
}

enum class Kind { Blank, Comment, Section, Key, Other };

struct Parsed {
    Kind kind = Kind::Other;
    std::string_view name;  // section or key name, trimmed
    std::string_view value; // text after the first "=" (keys only)
};

Parsed parseLine(std::string_view data, const Line& line) {
    std::string_view text = data.substr(line.begin, line.textEnd - line.begin);
    if (line.begin == 0 && text.starts_with("\xEF\xBB\xBF")) // a byte-order mark left by an editor
        text.remove_prefix(3);
    const std::string_view t = trim(text);
    if (t.empty())
        return {Kind::Blank, {}, {}};
    if (t.front() == ';')
        return {Kind::Comment, {}, {}};
    if (t.front() == '[') {
        const std::size_t close = t.rfind(']');
        if (close == std::string_view::npos)
            return {Kind::Other, {}, {}};
        return {Kind::Section, trim(t.substr(1, close - 1)), {}};
    }
    const std::size_t eq = t.find('=');
    if (eq == std::string_view::npos || trim(t.substr(0, eq)).empty())
        return {Kind::Other, {}, {}};
    return {Kind::Key, trim(t.substr(0, eq)), t.substr(eq + 1)};
}

// Index of the first key line named key in the first section named section; sectionLine is that section's
// header line and lastLine the last non-blank line belonging to it (-1 when the section is missing).
struct Found {
    long sectionLine = -1;
    long lastLine = -1;
    long keyLine = -1;
    std::string_view value;
};

Found find(std::string_view data, const std::vector<Line>& lines, std::string_view section, std::string_view key) {
    Found found;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Parsed p = parseLine(data, lines[i]);
        if (found.sectionLine < 0) {
            if (p.kind == Kind::Section && equalsIgnoringCase(p.name, section))
                found.sectionLine = found.lastLine = static_cast<long>(i);
            continue;
        }
        if (p.kind == Kind::Section)
            break;
        if (p.kind != Kind::Blank)
            found.lastLine = static_cast<long>(i);
        if (p.kind == Kind::Key && equalsIgnoringCase(p.name, key)) {
            found.keyLine = static_cast<long>(i);
            found.value = p.value;
            break;
        }
    }
    return found;
}

std::string checkNames(std::string_view section, std::string_view key) {
    for (char c : section)
        if (isControl(static_cast<unsigned char>(c)))
            return "the section name holds a control character";
    for (char c : key)
        if (isControl(static_cast<unsigned char>(c)))
            return "the key name holds a control character";
    if (section.empty())
        return "the section name is empty";
    if (key.empty())
        return "the key name is empty";
    if (key.find('=') != std::string_view::npos)
        return "the key name holds \"=\"";
    if (key.front() == ';' || key.front() == '[')
        return "the key name starts with \"" + std::string(1, key.front()) + "\"";
    return {};
}

// Room for value encoded: escapes are rare in a stored list, so one eighth more is plenty.
std::size_t encodedCapacity(std::string_view value) {
    return value.size() + value.size() / 8 + 2;
}

// How many bytes each byte takes inside a quoted value: 1 as it is, 2 for \" and \\, 4 for \xHH.
constexpr std::array<unsigned char, 256> makeEscapedSizes() {
    std::array<unsigned char, 256> sizes{};
    for (int b = 0; b < 256; ++b)
        sizes[static_cast<std::size_t>(b)] = b < 0x20 || b == 0x7F ? 4 : b == '"' || b == '\\' ? 2 : 1;
    return sizes;
}
constexpr std::array<unsigned char, 256> kEscapedSizes = makeEscapedSizes();

// Appends what encodeValue gives for value to out: written straight into the new file's text, since a stored list
// is megabytes long and each extra copy of it costs a fresh buffer. Sized in one pass and filled in a second.
void appendEncoded(std::string& out, std::string_view value) {
    if (!needsQuotes(value)) {
        out.append(value);
        return;
    }
    std::size_t size = 2;
    for (const char c : value)
        size += kEscapedSizes[static_cast<unsigned char>(c)];
    const std::size_t start = out.size();
    out.resize(start + size);
    char* to = out.data() + start;
    *to++ = '"';
    for (const char c : value) {
        const auto b = static_cast<unsigned char>(c);
        switch (kEscapedSizes[b]) {
        case 1:
            *to++ = c;
            break;
        case 2:
            *to++ = '\\';
            *to++ = c;
            break;
        default:
            *to++ = '\\';
            *to++ = 'x';
            *to++ = kUpperHexDigits[b >> 4];
            *to++ = kUpperHexDigits[b & 0xF];
        }
    }
    *to = '"';
}

std::string withValue(const std::optional<std::string>& current, std::string_view section, std::string_view key,
                      std::string_view value) {
    // A view, not a copy: the file may hold a stored list of megabytes.
    const std::string_view data = current ? std::string_view(*current) : std::string_view();
    const std::string eol = data.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
    const std::vector<Line> lines = splitLines(data);
    const Found found = find(data, lines, section, key);

    if (found.keyLine >= 0) {
        const Line& line = lines[static_cast<std::size_t>(found.keyLine)];
        // Keep the line's indentation and the key as spelt in the file; replace only what follows "=".
        const std::size_t eq = data.find('=', line.begin);
        std::string out;
        out.reserve(eq + 1 + encodedCapacity(value) + (data.size() - line.textEnd));
        out.append(data.substr(0, eq + 1));
        appendEncoded(out, value);
        out.append(data.substr(line.textEnd));
        return out;
    }
    std::string keyLine = std::string(key) + "=";
    appendEncoded(keyLine, value);
    if (found.sectionLine >= 0) {
        const Line& last = lines[static_cast<std::size_t>(found.lastLine)];
        const bool hasEnd = last.next > 0 && data[last.next - 1] == '\n';
        return std::string(data.substr(0, last.next)) + (hasEnd ? "" : eol) + keyLine + eol +
               std::string(data.substr(last.next));
    }
    std::string out(data);
    if (!out.empty() && out.back() != '\n')
        out += eol;
    if (!lines.empty() && parseLine(data, lines.back()).kind != Kind::Blank)
        out += eol;
    // Appended piece by piece: GCC 12 at -O3 reports a false -Wrestrict for "[" + std::string(section).
    out.append(1, '[').append(section).append(1, ']').append(eol).append(keyLine).append(eol);
    return out;
}

} // namespace

namespace ini {

std::string encodeValue(std::string_view value) {
    std::string out;
    appendEncoded(out, value);
    return out;
}

std::string decodeValue(std::string_view text) {
    const std::string_view t = trim(text);
    if (t.size() < 2 || (t.front() != '"' && t.front() != '\'') || t.back() != t.front())
        return std::string(t);
    const std::string_view inner = t.substr(1, t.size() - 2);
    if (t.front() == '"' && inner.find('\\') != std::string_view::npos) {
        if (std::optional<std::string> decoded = unescape(inner); decoded && encodeValue(*decoded) == t)
            return *decoded;
    }
    return std::string(inner);
}

} // namespace ini

IniFile IniFile::read(const std::string& path) {
    std::optional<std::string> data = file_store::read(path);
    return IniFile(data ? std::move(*data) : std::string());
}

std::string IniFile::value(std::string_view section, std::string_view key) const {
    const std::vector<Line> lines = splitLines(m_text);
    const Found found = find(m_text, lines, trim(section), trim(key));
    return found.keyLine >= 0 ? ini::decodeValue(found.value) : std::string();
}

std::string IniFile::withValue(const std::optional<std::string>& text, std::string_view section, std::string_view key,
                               std::string_view value) {
    return tamberly::withValue(text, trim(section), trim(key), value);
}

std::string IniFile::write(file_store::Version& known, const std::string& path, std::string_view section,
                           std::string_view key, std::string_view value) {
    const std::string_view sectionName = trim(section);
    const std::string_view keyName = trim(key);
    if (const std::string why = checkNames(sectionName, keyName); !why.empty())
        return "cannot write " + path + ": " + why;
    return file_store::update(
        path,
        [&](const std::optional<std::string>& current) {
            return tamberly::withValue(current, sectionName, keyName, value);
        },
        &known);
}

std::optional<std::string> IniFile::write(const std::string& path, std::string_view section, std::string_view key,
                                          std::string_view value, std::string& why) {
    file_store::Version written;
    why = write(written, path, section, key, value);
    if (!why.empty())
        return std::nullopt;
    return std::move(written.bytes);
}

} // namespace tamberly
