#pragma once

#include <string>
#include <string_view>

namespace tamberly {

/// The value of key in section of the settings file; the empty text when the file, section or key is missing.
/// Section and key names match without regard to ASCII case.
std::string ReadINI(const std::string& section, const std::string& key, const std::string& file);

/// Creates or replaces one value, keeping everything else in the file; creates the folder and file when missing.
/// Returns false when the file could not be written.
bool WriteINI(const std::string& section, const std::string& key, const std::string& value, const std::string& file);

/// As above; on failure why holds the reason.
bool WriteINI(const std::string& section, const std::string& key, const std::string& value, const std::string& file,
              std::string& why);

namespace ini {

/// The text written after "key=" for value: value itself when a plain line gives it back unchanged, otherwise
/// value in double quotes with \" \\ and \xHH escapes.
std::string encodeValue(std::string_view value);

/// The value that the text after "key=" on a line stands for (the inverse of encodeValue; classic lines read as
/// the Windows profile functions read them).
std::string decodeValue(std::string_view text);

} // namespace ini
} // namespace tamberly
