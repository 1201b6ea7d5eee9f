#include "app_win32/app.h"

#include "proxy/start_up.h"

namespace tamberly::win32 {

App::App(HINSTANCE instance, AppPlatform platform)
    : m_platform(std::move(platform)), m_IniPath(m_platform.iniPath), m_window(instance),
      m_webBrowser(m_platform.shell, m_IniPath),
      m_commands({m_platform.registry, m_platform.shell, m_window.dialogs(), m_platform.transfer, m_platform.random,
                  m_webBrowser, m_optionsPanel, m_window.statusLine(), m_window.listBox(), m_window.timer(),
                  m_IniPath}) {
    m_window.forwardTo(m_commands);
    Form_Load(m_IniPath, m_window.listBox(), m_platform.browserLocator);
    m_window.show();
}

} // namespace tamberly::win32
