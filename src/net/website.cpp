#include "net/website.h"

#include "net/list_server.h"
#include "platform/dialogs.h"
#include "platform/options_panel.h"
#include "platform/web_browser.h"

namespace tamberly {

Website::Website(WebBrowser& browser, OptionsPanel& options, Dialogs& dialogs, const std::string& iniPath)
    : m_browser(browser), m_options(options), m_dialogs(dialogs), m_iniPath(iniPath) {}

void Website::Mnuvisit_Click() {
    const std::string failure = m_browser.openInNewWindow(listServerUrl(m_iniPath) + "/Tamberly/index.php");
    if (!failure.empty())
        m_dialogs.MsgBox("The web page could not be opened: " + failure);
}

void Website::Mnuclose_Click() {
    m_options.open();
}

} // namespace tamberly
