#pragma once

#include "core/proxy_setting.h"

#include <optional>
#include <string>

namespace tamberly {

class BrowserLaunch;
class CheckResults;
class RandomSource;
class SystemProxy;
class View;

/// The status text of a command that needs an entry while the list has none.
inline constexpr const char* kEmptyListText = "The list is empty: fetch it first with Download List in the Proxy menu.";
/// The status text of "Use fastest working proxy" when the last check found none that works.
inline constexpr const char* kNoWorkingText =
    "No proxy of the list worked in the last check: check the proxies first with Check proxies in the Proxy menu.";
/// The status text once the proxy is off, and what "Show current proxy" says while it is.
inline constexpr const char* kProxyOffText = "Proxy desactivated";
/// "Row 3 of the list is empty:", for row 2 (rows count from 0, the user's from 1).
std::string emptyRowText(int row);

/// The commands that put a proxy of the list in force or turn the proxy off, the browser start that may follow,
/// and the ones that show or edit the proxy in force.
class ProxyCommands final {
public:
    /// kept: the last check's results, which the fastest and the random pick use.
    ProxyCommands(View& view, SystemProxy& proxy, BrowserLaunch& launch, RandomSource& random,
                  const CheckResults& kept);

    /// "Use and launch": the selected entry (the first when none is selected), then the browser.
    void useSelectedAndLaunch();
    /// "Use this proxy": the selected entry; no browser.
    void useSelected();
    /// "Random proxy and launch": an entry drawn at random, then the browser; among those that worked in the last
    /// check when any did.
    void useRandomAndLaunch();
    /// "Use fastest working proxy": the row whose entry worked fastest in the last check; no browser.
    void useFastest();
    /// "No proxy"; the status line says so.
    void turnProxyOff();
    /// "No proxy and launch"; the status line says so.
    void turnProxyOffAndLaunch();
    /// "Launch": the browser, with the proxy in force as it is.
    void launchBrowser();
    /// "Show current proxy"
    void showCurrentProxy();
    /// "Show Internet Options": the system's own page, else the program's own window over the proxy in force.
    void showProxySettings();

    /// Turns the proxy off without a status text of its own (a download's first step); false, after telling the user
    /// why, when the setting could not be changed.
    bool switchOff();
    /// The environment of a program started now: the proxy in force, or the inherited one when it cannot be read.
    EnvironmentChange environmentInForce();
    /// Puts entry in force as "Use this proxy" does, done in the status line; false, after saying why, when not.
    bool putInForce(const std::string& entry, const std::string& done);

    /// What the commands last did to the proxy in force: the entry they put in force, or nullopt once they turned
    /// it off; changes counts those changes, so a caller can tell a command that made one.
    struct InForce {
        int changes = 0;
        std::optional<std::string> entry;
    };
    const InForce& inForce() const { return m_inForce; }

private:
    /// Puts entry in force; the setting written, or nullopt after saying why not.
    std::optional<ProxySetting> use(const std::optional<int>& row);
    /// Turns the proxy off; done as for put.
    bool putOff(const std::string& done);
    /// Applies change; done (when not empty) goes to the status line, then any place that could not follow.
    bool put(const ProxySetting& change, const std::string& done);
    std::string saveEdited(const std::string& server, bool on);

    View& m_view;
    SystemProxy& m_proxy;
    BrowserLaunch& m_launch;
    RandomSource& m_random;
    const CheckResults& m_kept;
    InForce m_inForce;
};

} // namespace tamberly
