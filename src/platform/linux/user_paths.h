#pragma once

#include <string>

namespace tamberly {

/// The per-user folder of the program's files: $XDG_CONFIG_HOME/tamberly, by default ~/.config/tamberly.
/// Not created here: writers create it when they first write.
std::string configDir();

} // namespace tamberly
