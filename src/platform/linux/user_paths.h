#pragma once

#include <string>

namespace tamberly {

/// The user's home folder: $HOME when set, else the password database's entry; empty when neither is known.
std::string homeDir();

/// An XDG base folder: the value of variable (XDG_CONFIG_HOME, XDG_DATA_HOME, ...) when it is an absolute path (a
/// relative value is invalid and ignored), else fallbackUnderHome (".config", ".local/share", ...) under the home
/// folder; empty when no home folder is known.
std::string xdgBaseDir(const char* variable, const char* fallbackUnderHome);

/// The per-user folder of the program's files: $XDG_CONFIG_HOME/tamberly, by default ~/.config/tamberly.
/// Not created here: writers create it when they first write.
std::string configDir();

/// The per-user folder of what the program can find out again: $XDG_CACHE_HOME/tamberly, by default
/// ~/.cache/tamberly. Not created here.
std::string cacheDir();

} // namespace tamberly
