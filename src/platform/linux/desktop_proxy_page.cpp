#include "platform/linux/desktop_proxy_page.h"

#include "platform/shell.h"
#include "text/ascii_text.h"

#include <cstdlib>

#include <unistd.h>

namespace tamberly {
namespace {

bool onPath(const std::string& program) {
    const char* value = std::getenv("PATH");
    const std::string path = value ? value : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= path.size()) {
        auto end = path.find(':', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string dir = path.substr(start, end - start);
        if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

bool desktopIs(const char* name) {
    const char* value = std::getenv("XDG_CURRENT_DESKTOP");
    const std::string list = lowerAscii(value ? value : "");
    return (":" + list + ":").find(std::string(":") + name + ":") != std::string::npos;
}

} // namespace

std::vector<std::string> desktopProxyPageCommand() {
    std::vector<std::string> command;
    if (desktopIs("gnome") || desktopIs("unity") || desktopIs("budgie"))
        command = {"gnome-control-center", "network"};
    else if (desktopIs("x-cinnamon") || desktopIs("cinnamon"))
        command = {"cinnamon-settings", "network"};
    else if (desktopIs("kde")) {
        const char* version = std::getenv("KDE_SESSION_VERSION");
        if (version && std::string(version) == "5")
            command = {"kcmshell5", "proxy"};
        else
            command = {"systemsettings", "kcm_proxy"};
    }
    if (!command.empty() && !onPath(command.front()))
        command.clear();
    return command;
}

bool openDesktopProxyPage(Shell& shell) {
    const auto command = desktopProxyPageCommand();
    if (command.empty())
        return false;
    return shell.ShellExecute(shell.GetDesktopWindow(), "Open", command[0], command[1], "C:\\", 1) > 32;
}

} // namespace tamberly
