#include "proxy/selection_commands.h"

#include "platform/list_box.h"
#include "platform/random_source.h"
#include "proxy/browser_launch.h"
#include "proxy/system_proxy.h"
#include "storage/ini_file.h"

#include <algorithm>
#include <cmath>

namespace tamberly {

SelectionCommands::SelectionCommands(ListBox& Proxydisplay, SystemProxy& proxy, BrowserLaunch& launch,
                                     RandomSource& random, const std::string& iniPath)
    : m_Proxydisplay(Proxydisplay), m_proxy(proxy), m_launch(launch), m_random(random), m_iniPath(iniPath) {}

std::string SelectionCommands::browserPath() const {
    return ReadINI("Path", "IE", m_iniPath);
}

// A browser started after a failed proxy change would browse through a proxy the user did not choose; the user
// has already been told about the failure, so the launch is left out.

void SelectionCommands::choice_Click() {
    int i = m_Proxydisplay.ListIndex();
    if (i == -1)
        i = 0;
    if (!m_proxy.UseProxy(m_Proxydisplay.List(i)))
        return;
    m_launch.LaunchBrowser(browserPath());
}

void SelectionCommands::Mnuthisproxy_Click() {
    m_proxy.UseProxy(m_Proxydisplay.List(m_Proxydisplay.ListIndex()));
}

void SelectionCommands::MnuSwitch_Click() {
    const std::string path = browserPath();
    const int n = m_Proxydisplay.ListCount();
    m_random.reseedFromClock();
    const double r = m_random.next();
    int i = 0;
    // Clamped so that a draw outside [0, 1) can never pick a row that does not exist.
    if (n > 0 && r > 0.0)
        i = static_cast<int>(std::min(std::floor(n * r), static_cast<double>(n - 1)));
    if (!m_proxy.UseProxy(m_Proxydisplay.List(i)))
        return;
    m_launch.LaunchBrowser(path);
}

void SelectionCommands::Mnunoproxy2_Click() {
    if (!m_proxy.DisableProxy())
        return;
    m_launch.LaunchBrowser(browserPath());
}

} // namespace tamberly
