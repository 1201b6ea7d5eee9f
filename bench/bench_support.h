#pragma once

// Shared by the benchmark programs: the list texts they measure and a private per-user home, so a run never
// touches the real user's files.

#include "support/temp_dir.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tamberly::bench {

/// count entries "a.b.c.d:port", each followed by "*", the same for every run; about 20 bytes an entry.
std::string makeListText(std::size_t count);

/// A list text cut to exactly bytes characters (the last entry may lack its "*").
std::string makeListTextOfSize(std::size_t bytes);

using test::TempDir;
using test::writeFile;

/// Points XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_CACHE_HOME and HOME into folder for the rest of the process.
/// Returns the program's settings folder there ($XDG_CONFIG_HOME/tamberly).
std::string redirectUserHome(const std::string& folder);

} // namespace tamberly::bench
