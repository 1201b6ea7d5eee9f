#pragma once

#include <string>

namespace tamberly {

/// The value of key in section of the settings file; the empty text when the file, section or key is missing.
/// Section and key names match without regard to ASCII case.
std::string ReadINI(const std::string& section, const std::string& key, const std::string& file);

/// Creates or replaces one value, keeping everything else in the file; creates the folder and file when missing.
/// Returns false when the file could not be written.
bool WriteINI(const std::string& section, const std::string& key, const std::string& value, const std::string& file);

} // namespace tamberly
