#include "app/app.h"

#include "platform/linux/user_paths.h"
#include "proxy/start_up.h"

namespace tamberly {

App::App(AppPlatform platform)
    : m_platform(std::move(platform)), m_IniPath(configDir() + "/prefs.ini"),
      m_window(m_platform.tray, m_platform.endProcess), m_webBrowser(m_platform.shell, m_IniPath),
      m_optionsPanel(m_platform.registry, m_platform.dialogs, &m_window, m_platform.writtenSettings,
                     m_platform.openDesktopProxyPage),
      m_commands({m_platform.registry, m_platform.shell, m_platform.dialogs, m_platform.transfer, m_platform.random,
                  m_webBrowser, m_optionsPanel, m_window.statusLine(), m_window.listBox(), m_window.timer(),
                  m_IniPath}),
      m_check(m_window.listBox(), m_window.statusLine(), m_window.checkMarks(), m_window.post(), m_IniPath) {
    m_window.forwardTo(m_commands, m_check);
    Form_Load(m_IniPath, m_window.listBox(), m_platform.browserLocator);
}

App::~App() = default;

} // namespace tamberly
