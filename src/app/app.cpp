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
                                               [this] { return m_commands.startsWithSession(); }),
      m_commands(m_window, platform, settings, m_window.post()) {
    m_commands.startUp();
}

} // namespace tamberly
