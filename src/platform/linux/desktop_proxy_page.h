#pragma once

#include <string>
#include <vector>

namespace tamberly {

/// The desktop's own proxy page, as a program and its arguments: GNOME Settings' network page, Cinnamon's, or
/// KDE's proxy module; empty where the desktop has none or its program is not installed.
std::vector<std::string> desktopProxyPageCommand();

} // namespace tamberly
