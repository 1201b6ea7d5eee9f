#include "platform/linux/desktop_proxy_page.h"

#include "platform/linux/desktop_session.h"
#include "platform/linux/path_search.h"

#include <cstdlib>

namespace tamberly {

std::vector<std::string> desktopProxyPageCommand() {
    std::vector<std::string> command;
    if (currentDesktopIs("gnome") || currentDesktopIs("unity") || currentDesktopIs("budgie")) {
        command = {"gnome-control-center", "network"};
    } else if (currentDesktopIs("x-cinnamon") || currentDesktopIs("cinnamon")) {
        command = {"cinnamon-settings", "network"};
    } else if (currentDesktopIs("kde")) {
        const char* version = std::getenv("KDE_SESSION_VERSION");
        if (version && std::string(version) == "5")
            command = {"kcmshell5", "proxy"};
        else
            command = {"systemsettings", "kcm_proxy"};
    }
    if (!command.empty() && findOnPath(command.front()).empty())
        command.clear();
    return command;
}

} // namespace tamberly
