#pragma once

namespace tamberly {

/// What a user can ask for from a menu, the button or the notification-area pop-up. The window's own commands
/// (hide, quit, the icon's clicks) are the front end's.
enum class Command {
    UseSelectedAndLaunch,   // "Use and launch"
    UseSelected,            // "Use this proxy"
    UseRandomAndLaunch,     // "Random proxy and launch"
    TurnProxyOff,           // "No proxy"
    TurnProxyOffAndLaunch,  // "No proxy and launch"
    LaunchBrowser,          // "Launch"
    ShowCurrentProxy,       // "Show current proxy"
    DownloadList,           // "Download List"
    SubmitProxy,            // "Add a new proxy"
    ReportDeadProxy,        // "Report dead proxy"
    VisitWebsite,           // "Visit Website"
    ShowProxySettings,      // "Show Internet Options"
    CheckProxies,           // "Check proxies" (where the build has the check)
    StopCheck,              // "Stop checking"
    ToggleStartWithSession, // "Start with the session"
    UseFastest,             // "Use fastest working proxy"
    ToggleSortByCheck,      // "Sort by last check"
    ToggleWatch,            // "Keep me on a working proxy"
};

} // namespace tamberly
