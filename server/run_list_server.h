#pragma once

#include <string>

namespace tamberly {

/// $XDG_DATA_HOME/tamberly/listserver.db, or ~/.local/share/tamberly/listserver.db; empty when neither is set.
std::string defaultDatabasePath();

/// The whole program: exit code 0 on success, 1 on failure, 2 on bad usage.
int runListServer(int argc, char** argv);

} // namespace tamberly
