#include "net/proxy_submission.h"

#include "net/list_server.h"
#include "platform/dialogs.h"
#include "platform/list_box.h"
#include "platform/status_line.h"
#include "platform/transfer_control.h"

namespace tamberly {

ProxySubmission::ProxySubmission(TransferControl& inet, StatusLine& status, ListBox& display, Dialogs& dialogs,
                                 const std::string& iniPath)
    : m_inet(inet), m_status(status), m_display(display), m_dialogs(dialogs), m_iniPath(iniPath) {}

void ProxySubmission::Mnuadd_Click() {
    const std::string entry = m_dialogs.InputBox("Enter the proxy address (ip:port) ex:127.0.0.1:80", "Add a proxy");
    if (entry.empty())
        return;
    if (m_dialogs.MsgBox("Do you want to send " + entry + " as new proxy ?", Dialogs::vbYesNo, "New Proxy") !=
        Dialogs::vbYes)
        return;
    send("/Tamberly/addproxy.php", entry, "Thanks, Proxy Submitted !", "Proxy not submitted: ");
}

void ProxySubmission::Mnudead_Click() {
    const int selected = m_display.ListIndex();
    if (selected < 0) {
        m_dialogs.MsgBox("Please select the proxy on the list first", Dialogs::vbOKOnly);
        return;
    }
    const std::string entry = m_display.List(selected);
    if (m_dialogs.MsgBox("Do you want to report " + entry + " as dead proxy ?", Dialogs::vbYesNo, "Dead Proxy") !=
        Dialogs::vbYes)
        return;
    send("/Tamberly/deadproxy.php", entry, "Proxy desactivated !", "Dead proxy not reported: ");
}

void ProxySubmission::send(const std::string& page, const std::string& entry, const std::string& done,
                           const std::string& failed) {
    if (m_inet.StillExecuting()) {
        m_status.setCaption("Busy");
        return;
    }
    // Encoded, so a blank, "&" or "#" in the entry can neither cut the request short nor add parameters to it.
    const TransferResult result = m_inet.OpenURL(listServerUrl(m_iniPath) + page + "?proxy=" + encodeQueryValue(entry));
    m_status.setCaption(result.ok ? done : failed + transferFailureText(result));
}

} // namespace tamberly
