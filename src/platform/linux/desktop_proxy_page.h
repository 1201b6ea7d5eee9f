#pragma once

#include <string>
#include <vector>

namespace tamberly {

class Shell;

/// The desktop's own proxy page, as a program and its arguments: GNOME Settings' network page, Cinnamon's, or
/// KDE's proxy module; empty where the desktop has none or its program is not installed.
std::vector<std::string> desktopProxyPageCommand();

/// Starts the desktop's own proxy page through shell; false when there is none or it could not be started.
bool openDesktopProxyPage(Shell& shell);

} // namespace tamberly
