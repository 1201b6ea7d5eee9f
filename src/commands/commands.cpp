#include "commands/commands.h"

#include "commands/browser_launch.h"
#include "commands/check_results.h"
#include "commands/list_server_commands.h"
#include "commands/proxy_commands.h"
#include "commands/proxy_watch.h"
#include "commands/start_up.h"
#include "commands/view.h"
#include "core/proxy_list_store.h"
#include "core/settings.h"
#include "platform/platform.h"
#include "platform/session_start.h"
#include "platform/system_proxy.h"

#include <optional>

#ifdef TAMBERLY_PROXY_CHECK
#include "commands/check_proxies.h"
#endif

namespace tamberly {

namespace {

// The last check's results, in the cache folder; nowhere when the platform names none.
std::string resultsPath(Platform& platform) {
    const std::string folder = platform.cacheFolder();
    return folder.empty() ? std::string() : folder + "/check-results.txt";
}

} // namespace

// Built in the order they use one another.
struct Commands::Handlers {
    Handlers(View& view, Platform& platform, Settings& settings, Post post, WatchPorts ports)
        : view(view), platform(platform), settings(settings), store(settings), kept(resultsPath(platform)),
          launch(view, platform.launcher(), settings),
          proxy(view, platform.systemProxy(), launch, platform.random(), kept),
          listServer(view, platform.transfer(), platform.launcher(), proxy, store, settings)
#ifdef TAMBERLY_PROXY_CHECK
          ,
          check(view, settings, kept, std::move(post))
#endif
    {
        static_cast<void>(post);
        if (ports.timer && ports.probe)
            watch.emplace(view, platform.systemProxy(), proxy, kept, settings, *ports.timer, *ports.probe,
                          [this](const std::string& entry) { listServer.reportEntry(entry); });
    }
    ~Handlers() {
        if (watch)
            watch->stop();
    }

    View& view;
    Platform& platform;
    Settings& settings;
    ProxyListStore store;
    CheckResults kept;
    BrowserLaunch launch;
    ProxyCommands proxy;
    ListServerCommands listServer;
#ifdef TAMBERLY_PROXY_CHECK
    // After what it reports to, so that a running check is abandoned before any of it goes.
    CheckProxies check;
#endif
    std::optional<ProxyWatch> watch;
};

Commands::Commands(View& view, Platform& platform, Settings& settings, Post post, WatchPorts watch)
    : m_settings(settings), m_handlers(std::make_unique<Handlers>(view, platform, settings, std::move(post), watch)) {}

Commands::~Commands() = default;

void Commands::startUp() {
    Handlers& h = *m_handlers;
    tamberly::startUp(h.view, h.store, m_settings, h.platform.launcher());
    h.kept.load();
    if (std::vector<RowMark> marks = h.kept.marksFor(h.view); !marks.empty())
        h.view.showMarks(std::move(marks));
    showOrder();
    if (h.watch && h.watch->enabled())
        h.watch->startUp(entryInForce());
}

void Commands::run(Command command) {
    // Once per command: an edit of prefs.ini by hand counts from the next command on.
    m_settings.reload();
    Handlers& h = *m_handlers;
    const int changes = h.proxy.inForce().changes;
#ifdef TAMBERLY_PROXY_CHECK
    const int concluded = h.check.concluded();
#endif
    runOne(command);
    // A command that put a proxy in force, or turned it off, starts or pauses the watching.
    if (h.watch && h.proxy.inForce().changes != changes)
        h.watch->proxyChanged(h.proxy.inForce().entry);
#ifdef TAMBERLY_PROXY_CHECK
    // A check stopped now has new results for the sorted view.
    if (h.check.concluded() != concluded)
        showOrder();
#endif
}

void Commands::runOne(Command command) {
    Handlers& h = *m_handlers;
    switch (command) {
    case Command::UseSelectedAndLaunch:
        return h.proxy.useSelectedAndLaunch();
    case Command::UseSelected:
        return h.proxy.useSelected();
    case Command::UseRandomAndLaunch:
        return h.proxy.useRandomAndLaunch();
    case Command::TurnProxyOff:
        return h.proxy.turnProxyOff();
    case Command::TurnProxyOffAndLaunch:
        return h.proxy.turnProxyOffAndLaunch();
    case Command::LaunchBrowser:
        return h.proxy.launchBrowser();
    case Command::ShowCurrentProxy:
        return h.proxy.showCurrentProxy();
    case Command::DownloadList:
        if (h.listServer.downloadList()) {
#ifdef TAMBERLY_PROXY_CHECK
            // A check's verdicts belong to the rows it read.
            h.check.abandon();
#endif
            showOrder();
        }
        return;
    case Command::SubmitProxy:
        return h.listServer.submitProxy();
    case Command::ReportDeadProxy:
        return h.listServer.reportDeadProxy();
    case Command::VisitWebsite:
        return h.listServer.visitWebsite();
    case Command::ShowProxySettings:
        return h.proxy.showProxySettings();
    case Command::CheckProxies:
#ifdef TAMBERLY_PROXY_CHECK
        h.check.checkProxies();
#endif
        return;
    case Command::StopCheck:
#ifdef TAMBERLY_PROXY_CHECK
        h.check.stop();
#endif
        return;
    case Command::ToggleStartWithSession:
        return toggleStartWithSession();
    case Command::UseFastest:
        return h.proxy.useFastest();
    case Command::ToggleSortByCheck:
        return toggleSortByCheck();
    case Command::ToggleWatch:
        if (h.watch)
            h.watch->setEnabled(!h.watch->enabled(), entryInForce());
        return;
    }
}

bool Commands::startsWithSession() const {
    return m_handlers->platform.sessionStart().enabled();
}

void Commands::toggleStartWithSession() {
    SessionStart& start = m_handlers->platform.sessionStart();
    const bool on = !start.enabled();
    const std::string why = start.setEnabled(on);
    if (!why.empty())
        m_handlers->view.setStatus("Start with the session is unchanged: " + why);
    else
        m_handlers->view.setStatus(on ? "Tamberly will start with the session, in the notification area"
                                      : "Tamberly will no longer start with the session");
}

void Commands::abandonCheck() {
#ifdef TAMBERLY_PROXY_CHECK
    m_handlers->check.abandon();
#endif
    if (m_handlers->watch)
        m_handlers->watch->stop();
}

bool Commands::sortedByCheck() const {
    return m_settings.value("Window", "SortByCheck") == "1";
}

bool Commands::watching() const {
    return m_handlers->watch && m_handlers->watch->enabled();
}

bool Commands::canWatch() const {
    return m_handlers->watch.has_value();
}

void Commands::toggleSortByCheck() {
    const bool on = !sortedByCheck();
    if (const std::string why = m_settings.setValue("Window", "SortByCheck", on ? "1" : "0"); !why.empty()) {
        m_handlers->view.setStatus("The list's order is unchanged: " + why);
        return;
    }
    if (on && m_handlers->kept.empty())
        m_handlers->view.setStatus("No check to sort by yet: check the proxies first with Check proxies.");
    if (on)
        showOrder();
    else
        m_handlers->view.showOrder({});
}

void Commands::showOrder() {
    if (sortedByCheck())
        m_handlers->view.showOrder(m_handlers->kept.sortedOrder(m_handlers->view));
}

std::optional<std::string> Commands::entryInForce() {
    Handlers& h = *m_handlers;
    // What this run of the program put in force, else what the setting names (put there by an earlier run).
    if (h.proxy.inForce().changes > 0)
        return h.proxy.inForce().entry;
    const CurrentSetting current = h.platform.systemProxy().current();
    if (!current.setting || current.setting->mode != ProxyMode::Manual || !current.setting->servers)
        return std::nullopt;
    const int count = h.view.entryCount();
    for (int row = 0; row < count; ++row) {
        const std::string entry = h.view.entry(row);
        if (parseProxyServers(entry).servers == current.setting->servers)
            return entry;
    }
    return std::nullopt;
}

} // namespace tamberly
