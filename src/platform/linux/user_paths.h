#pragma once

#include <string>

namespace tamberly {

/// The per-user folder of the program's files: $XDG_CONFIG_HOME/tamberly, by default ~/.config/tamberly.
/// Not created here: writers create it when they first write.
std::string configDir();

/// The per-user data folder: $XDG_DATA_HOME/tamberly, by default ~/.local/share/tamberly.
std::string dataDir();

/// Creates folder and its parents when missing; returns false when that fails.
bool ensureDir(const std::string& folder);

} // namespace tamberly
