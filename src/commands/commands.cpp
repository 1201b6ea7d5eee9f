#include "commands/commands.h"

#include "commands/browser_launch.h"
#include "commands/list_server_commands.h"
#include "commands/proxy_commands.h"
#include "commands/view.h"
#include "commands/start_up.h"
#include "core/proxy_list_store.h"
#include "core/settings.h"
#include "platform/platform.h"
#include "platform/session_start.h"

#ifdef TAMBERLY_PROXY_CHECK
#include "commands/check_proxies.h"
#endif

namespace tamberly {

// Built in the order they use one another.
struct Commands::Handlers {
    Handlers(View& view, Platform& platform, Settings& settings, Post post)
        : view(view), platform(platform), settings(settings), store(settings),
          launch(view, platform.launcher(), settings), proxy(view, platform.systemProxy(), launch, platform.random()),
          listServer(view, platform.transfer(), platform.launcher(), proxy, store, settings)
#ifdef TAMBERLY_PROXY_CHECK
          ,
          check(view, settings, std::move(post))
#endif
    {
        static_cast<void>(post);
    }

    View& view;
    Platform& platform;
    Settings& settings;
    ProxyListStore store;
    BrowserLaunch launch;
    ProxyCommands proxy;
    ListServerCommands listServer;
#ifdef TAMBERLY_PROXY_CHECK
    // Last, so that a running check is abandoned before anything it reports to goes.
    CheckProxies check;
#endif
};

Commands::Commands(View& view, Platform& platform, Settings& settings, Post post)
    : m_settings(settings), m_handlers(std::make_unique<Handlers>(view, platform, settings, std::move(post))) {}

Commands::~Commands() = default;

void Commands::startUp() {
    tamberly::startUp(m_handlers->view, m_handlers->store, m_settings, m_handlers->platform.launcher());
}

void Commands::run(Command command) {
    // Once per command: an edit of prefs.ini by hand counts from the next command on.
    m_settings.reload();
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
}

} // namespace tamberly
