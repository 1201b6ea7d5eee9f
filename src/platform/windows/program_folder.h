#pragma once

#include <string>

namespace tamberly {

/// Folder of the running program's .exe, without a trailing backslash.
std::string programFolder();

/// The full path of the running program (tamberly.exe).
std::string programPath();

/// Where the settings file lives: "prefs.ini" in programFolder when one is there already (a portable copy keeps its
/// file) or when that folder is writable, else "%APPDATA%\Tamberly\prefs.ini" (an installed copy under Program Files).
/// appData empty means the environment's APPDATA.
std::string settingsFilePath(const std::string& programFolder, const std::string& appData = {});

} // namespace tamberly
