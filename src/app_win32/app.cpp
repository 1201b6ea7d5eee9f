#include "app_win32/app.h"

#include "proxy/start_up.h"

namespace tamberly::win32 {

App::App(HINSTANCE instance, AppPlatform platform)
    : m_platform(std::move(platform)), m_IniPath(m_platform.iniPath), m_window(instance),
      m_webBrowser(m_platform.shell, m_IniPath),
      m_systemProxy(m_platform.registry, m_window.statusLine(), m_window.dialogs()),
      m_browserLaunch(m_platform.shell, m_window.dialogs(), m_IniPath),
      m_selection(m_window.listBox(), m_systemProxy, m_browserLaunch, m_platform.random, m_IniPath),
      m_download(m_systemProxy, m_platform.transfer, m_window.timer(), m_window.statusLine(), m_window.listBox(),
                 m_proxylist, m_IniPath),
      m_submission(m_platform.transfer, m_window.statusLine(), m_window.listBox(), m_window.dialogs(), m_IniPath),
      m_website(m_webBrowser, m_optionsPanel, m_window.dialogs(), m_IniPath) {
    m_window.forwardTo({m_systemProxy, m_browserLaunch, m_selection, m_download, m_submission, m_website});
    Form_Load(m_IniPath, m_window.listBox(), m_platform.browserLocator);
    m_window.show();
}

} // namespace tamberly::win32
