#include "net/list_download.h"

#include "net/list_server.h"
#include "platform/list_box.h"
#include "platform/status_line.h"
#include "platform/timer.h"
#include "platform/transfer_control.h"
#include "proxy/system_proxy.h"
#include "storage/proxy_list_store.h"

#include <utility>

namespace tamberly {

ListDownload::ListDownload(SystemProxy& proxy, TransferControl& inet, Timer& timer, StatusLine& status,
                           ListBox& display, std::string& proxylist, const std::string& iniPath)
    : m_proxy(proxy), m_inet(inet), m_timer(timer), m_status(status), m_display(display), m_proxylist(proxylist),
      m_iniPath(iniPath) {}

void ListDownload::Mnulist_Click() {
    // A failure has already been shown to the user; the download itself does not go through the system proxy.
    m_proxy.DisableProxy();
    if (m_inet.StillExecuting()) {
        m_status.setCaption("Busy");
        return;
    }
    m_status.setCaption("Retreiving list, please wait ...");
    TransferResult result = m_inet.OpenURL(listServerUrl(m_iniPath) + "/Tamberly/update.php");
    if (!result.ok) {
        // Nothing of an error answer may become the stored list.
        m_status.setCaption("List download failed: " + transferFailureText(result));
        return;
    }
    if (result.body.empty()) {
        // Left pending, the timer would announce a retrieval that never happens.
        m_status.setCaption("The server sent an empty list; nothing changed.");
        return;
    }
    if (result.body.find('*') == std::string::npos) {
        // Every list text ends its entries with "*"; an answer without one is some web page (a wrong address, a
        // router's login page) and must not replace the user's list.
        m_status.setCaption("The server's answer is not a proxy list; nothing changed.");
        return;
    }
    m_timer.setEnabled(true);
    // Moved, not copied: the list is megabytes long.
    m_proxylist = std::move(result.body);
}

void ListDownload::Timer1_Timer() {
    if (m_proxylist.empty()) {
        m_status.setCaption("Retreiving list, please wait ...");
        return;
    }
    m_timer.setEnabled(false);
    m_status.setCaption("List downloaded from server.");
    if (std::string why; !SaveList(m_proxylist, m_iniPath, why))
        m_status.setCaption("List downloaded from server and shown, but it could not be saved: " + why);
    m_display.Clear();
    FillList(m_proxylist, m_display);
}

} // namespace tamberly
