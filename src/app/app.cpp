#include "app/app.h"

namespace tamberly {

App::App(Settings& settings, Platform& platform, TrayIcon& tray, std::function<void()> endProcess)
    : m_endProcess(std::move(endProcess)), m_window(
                                               tray, settings, [this](Command command) { m_commands.run(command); },
                                               [this] {
                                                   // A check still running is abandoned at once: quitting never waits
                                                   // for it.
                                                   m_commands.abandonCheck();
                                                   m_endProcess();
                                               },
                                               [this](Command command) { return checked(command); }),
      m_probe(settings, m_window.post()),
      m_commands(m_window, platform, settings, m_window.post(), {&m_watchTimer, &m_probe}) {
    m_commands.startUp();
}

bool App::checked(Command command) const {
    switch (command) {
    case Command::ToggleStartWithSession:
        return m_commands.startsWithSession();
    case Command::ToggleSortByCheck:
        return m_commands.sortedByCheck();
    case Command::ToggleWatch:
        return m_commands.watching();
    default:
        return false;
    }
}

} // namespace tamberly
