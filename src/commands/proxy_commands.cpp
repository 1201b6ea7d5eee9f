#include "commands/proxy_commands.h"

#include "commands/browser_launch.h"
#include "commands/check_results.h"
#include "commands/view.h"
#include "platform/random_source.h"
#include "platform/system_proxy.h"
#include "text/ascii_text.h"

#include <algorithm>
#include <cmath>

namespace tamberly {
namespace {

constexpr const char* kSelectFirst = "Please select the proxy on the list first";

std::string notAProxy(int row, const std::string& entry, const std::string& why) {
    if (entry.empty())
        return emptyRowText(row) + " nothing was changed.";
    return "\"" + entry + "\" is not a proxy address (" + why + "): nothing was changed.";
}

} // namespace

std::string emptyRowText(int row) {
    return "Row " + std::to_string(row + 1) + " of the list is empty:";
}

ProxyCommands::ProxyCommands(View& view, SystemProxy& proxy, BrowserLaunch& launch, RandomSource& random,
                             const CheckResults& kept)
    : m_view(view), m_proxy(proxy), m_launch(launch), m_random(random), m_kept(kept) {}

bool ProxyCommands::put(const ProxySetting& change, const std::string& done) {
    const ApplyOutcome outcome = m_proxy.apply(change);
    if (!outcome.recorded()) {
        m_view.tell(outcome.failure());
        return false;
    }
    if (!done.empty())
        m_view.setStatus(done);
    // The change is in force all the same; a desktop setting that could not follow is named after it.
    if (const std::string problems = outcome.problems(); !problems.empty())
        m_view.setStatus(problems);
    return true;
}

std::optional<ProxySetting> ProxyCommands::use(const std::optional<int>& row) {
    if (m_view.entryCount() == 0) {
        m_view.setStatus(kEmptyListText);
        return std::nullopt;
    }
    if (!row) {
        m_view.setStatus(kSelectFirst);
        return std::nullopt;
    }
    // The row is shown as the list holds it; only a proxy address is ever put in force.
    const std::string entry = m_view.entry(*row);
    const ServersParse parsed = parseProxyServers(entry);
    if (!parsed.servers) {
        m_view.setStatus(notAProxy(*row, entry, parsed.why));
        return std::nullopt;
    }
    ProxySetting setting = ProxySetting::manual(*parsed.servers);
    if (!put(setting, "Proxy changed to : " + entry))
        return std::nullopt;
    m_inForce = {m_inForce.changes + 1, entry};
    return setting;
}

bool ProxyCommands::putInForce(const std::string& entry, const std::string& done) {
    const ServersParse parsed = parseProxyServers(entry);
    if (!parsed.servers || !put(ProxySetting::manual(*parsed.servers), done))
        return false;
    m_inForce = {m_inForce.changes + 1, entry};
    return true;
}

bool ProxyCommands::putOff(const std::string& done) {
    if (!put(ProxySetting::off(), done))
        return false;
    m_inForce = {m_inForce.changes + 1, std::nullopt};
    return true;
}

// A browser started after a failed proxy change would browse through a proxy the user did not choose; the user
// has already been told about the failure, so the launch is left out.

void ProxyCommands::useSelectedAndLaunch() {
    if (const auto setting = use(m_view.selectedRow().value_or(0)))
        m_launch.start([&] { return proxyEnvironment(*setting); });
}

void ProxyCommands::useSelected() {
    use(m_view.selectedRow());
}

void ProxyCommands::useRandomAndLaunch() {
    // Among the rows that worked in the last check, when there was one that did; else among them all.
    const std::vector<int> working = m_kept.workingRows(m_view);
    const int n = working.empty() ? m_view.entryCount() : static_cast<int>(working.size());
    m_random.reseedFromClock();
    const double r = m_random.next();
    // Clamped so that a draw outside [0, 1) can never pick a row that does not exist.
    const int pick = n > 0 && r > 0.0 ? static_cast<int>(std::min(std::floor(n * r), static_cast<double>(n - 1))) : 0;
    const int row = working.empty() ? pick : working[static_cast<std::size_t>(pick)];
    if (const auto setting = use(row))
        m_launch.start([&] { return proxyEnvironment(*setting); });
}

void ProxyCommands::useFastest() {
    if (m_view.entryCount() == 0) {
        m_view.setStatus(kEmptyListText);
        return;
    }
    const std::vector<int> working = m_kept.workingRows(m_view);
    if (working.empty()) {
        m_view.setStatus(kNoWorkingText);
        return;
    }
    use(working.front());
}

bool ProxyCommands::switchOff() {
    return putOff({});
}

void ProxyCommands::turnProxyOff() {
    putOff(kProxyOffText);
}

void ProxyCommands::turnProxyOffAndLaunch() {
    if (putOff(kProxyOffText))
        m_launch.start([] { return proxyEnvironment(ProxySetting::off()); });
}

EnvironmentChange ProxyCommands::environmentInForce() {
    const CurrentSetting current = m_proxy.current();
    return current.setting ? proxyEnvironment(*current.setting) : EnvironmentChange{};
}

void ProxyCommands::launchBrowser() {
    m_launch.start([this] { return environmentInForce(); });
}

void ProxyCommands::showCurrentProxy() {
    const CurrentSetting current = m_proxy.current();
    if (!current.setting) {
        m_view.setStatus("Cannot read the proxy setting: " + current.why);
        return;
    }
    const ProxySetting& setting = *current.setting;
    switch (setting.mode) {
    case ProxyMode::Off:
        return m_view.setStatus(kProxyOffText);
    case ProxyMode::Automatic:
        // A script's address, or the network's own announcement (WPAD) when there is none.
        return m_view.setStatus("Automatic proxy configuration: " +
                                (setting.autoConfigUrl.empty() ? std::string("detection") : setting.autoConfigUrl));
    case ProxyMode::Manual:
        break;
    }
    const std::string servers = setting.servers ? formatProxyServers(*setting.servers) : "";
    m_view.setStatus(servers.empty() ? "Manual proxy with no server set" : "Current proxy : " + servers);
}

void ProxyCommands::showProxySettings() {
    if (m_proxy.openSettingsPage())
        return;
    const CurrentSetting current = m_proxy.current();
    if (!current.setting) {
        // Offering blank fields would let OK wipe settings that were merely unreadable.
        m_view.tell("The proxy settings could not be read: " + current.why);
        return;
    }
    const std::string server = current.setting->servers ? formatProxyServers(*current.setting->servers) : "";
    m_view.editProxySetting(server, current.setting->mode == ProxyMode::Manual, m_proxy.places(),
                            [this](const std::string& edited, bool on) { return saveEdited(edited, on); });
}

std::string ProxyCommands::saveEdited(const std::string& server, bool on) {
    const std::string text(trim(server));
    ProxyServers servers;
    if (!text.empty()) {
        const ServersParse parsed = parseProxyServers(text);
        if (!parsed.servers)
            return "\"" + text + "\" is not a proxy address (" + parsed.why + ").";
        servers = *parsed.servers;
    } else if (on) {
        return "Enter a proxy server (host:port) to use one.";
    }
    const ApplyOutcome outcome = m_proxy.apply({on ? ProxyMode::Manual : ProxyMode::Off, servers, {}, {}});
    if (!outcome.recorded())
        return outcome.failure();
    if (const std::string problems = outcome.problems(); !problems.empty())
        m_view.setStatus(problems);
    return {};
}

} // namespace tamberly
