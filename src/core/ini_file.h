#pragma once

#include "core/file_store.h"

#include <optional>
#include <string>
#include <string_view>

namespace tamberly {

/// One INI file's text, read the way the Windows profile functions read it: sections and keys matched without
/// regard to ASCII case, the first of each counting, blanks around names and values dropped, a value in a pair of
/// quotes read without them.
class IniFile final {
public:
    IniFile() = default;
    explicit IniFile(std::string text) : m_text(std::move(text)) {}
    /// The file at path; a missing or unreadable file reads as empty.
    static IniFile read(const std::string& path);

    /// The value of key in section; the empty text when the section or key is missing.
    std::string value(std::string_view section, std::string_view key) const;
    const std::string& text() const { return m_text; }
    /// The text, moved out; the file is empty afterwards.
    std::string takeText() { return std::move(m_text); }

    /// The file's text after setting key in section to value: the key's line replaced where it is, else added at
    /// the end of its section, else a new section at the end; every other line kept as it is.
    static std::string withValue(const std::optional<std::string>& text, std::string_view section,
                                 std::string_view key, std::string_view value);
    /// Sets one value in the file at path, replacing the file atomically under a lock and creating it (and its
    /// folder) when missing. Returns the file's new text, or nullopt with why set.
    static std::optional<std::string> write(const std::string& path, std::string_view section, std::string_view key,
                                            std::string_view value, std::string& why);
    /// As above, with the version of the file the caller holds (see file_store::update), which receives the version
    /// written. Returns the empty text, or why the file could not be written.
    static std::string write(file_store::Version& known, const std::string& path, std::string_view section,
                             std::string_view key, std::string_view value);

private:
    std::string m_text;
};

namespace ini {

/// The text written after "key=" for value: value itself when a plain line gives it back unchanged, otherwise
/// value in double quotes with \" \\ and \xHH escapes.
std::string encodeValue(std::string_view value);

/// The value that the text after "key=" on a line stands for (the inverse of encodeValue; lines written by hand
/// read as the Windows profile functions read them).
std::string decodeValue(std::string_view text);

} // namespace ini
} // namespace tamberly
