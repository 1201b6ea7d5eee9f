#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tamberly {

/// The desktops XDG_CURRENT_DESKTOP names, lower case and in its order ("ubuntu:GNOME" gives "ubuntu", "gnome").
std::vector<std::string> currentDesktops();

/// Whether XDG_CURRENT_DESKTOP names desktop (given in lower case).
bool currentDesktopIs(std::string_view desktop);

} // namespace tamberly
