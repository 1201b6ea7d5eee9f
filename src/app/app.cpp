#include "app/app.h"

#include "platform/linux/user_paths.h"
#include "proxy/start_up.h"

namespace tamberly {

App::App(AppPlatform platform)
    : m_platform(std::move(platform)), m_IniPath(configDir() + "/prefs.ini"),
      m_window(m_platform.tray, m_platform.endProcess), m_webBrowser(m_platform.shell, m_IniPath),
      m_optionsPanel(m_platform.registry, m_platform.dialogs, &m_window, m_platform.writtenSettings,
                     m_platform.openDesktopProxyPage),
      m_systemProxy(m_platform.registry, m_window.statusLine(), m_platform.dialogs),
      m_browserLaunch(m_platform.shell, m_platform.dialogs, m_IniPath),
      m_selection(m_window.listBox(), m_systemProxy, m_browserLaunch, m_platform.random, m_IniPath),
      m_download(m_systemProxy, m_platform.transfer, m_window.timer(), m_window.statusLine(), m_window.listBox(),
                 m_proxylist, m_IniPath),
      m_submission(m_platform.transfer, m_window.statusLine(), m_window.listBox(), m_platform.dialogs, m_IniPath),
      m_website(m_webBrowser, m_optionsPanel, m_platform.dialogs, m_IniPath),
      m_check(m_window.listBox(), m_window.statusLine(), m_window.checkMarks(), m_window.post(), m_IniPath) {
    m_window.forwardTo({m_systemProxy, m_browserLaunch, m_selection, m_download, m_submission, m_website, m_check});
    Form_Load(m_IniPath, m_window.listBox(), m_platform.browserLocator);
}

App::~App() = default;

} // namespace tamberly
