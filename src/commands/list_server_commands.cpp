#include "commands/list_server_commands.h"

#include "commands/browser_launch.h"
#include "commands/proxy_commands.h"
#include "commands/view.h"
#include "core/proxy_list_store.h"
#include "core/settings.h"
#include "net/list_server_client.h"
#include "platform/http_transfer.h"

namespace tamberly {

ListServerCommands::ListServerCommands(View& view, HttpTransfer& transfer, Launcher& launcher, ProxyCommands& proxy,
                                       ProxyListStore& store, Settings& settings)
    : m_view(view), m_transfer(transfer), m_launcher(launcher), m_proxy(proxy), m_store(store), m_settings(settings) {}

bool ListServerCommands::downloadList() {
    // A failure has been shown already; the download itself never goes through the system proxy.
    m_proxy.switchOff();
    if (m_transfer.busy()) {
        m_view.setStatus("Busy");
        return false;
    }
    m_view.setStatus("Retreiving list, please wait ...");
    const TransferResult result = m_transfer.get(list_server::listUrl(m_settings.listServerUrl()));
    if (!result.ok) {
        // Nothing of an error answer may become the stored list.
        m_view.setStatus("List download failed: " + transferFailureText(result));
        return false;
    }
    if (result.body.empty()) {
        m_view.setStatus("The server sent an empty list; nothing changed.");
        return false;
    }
    if (result.body.find('*') == std::string::npos) {
        // Every list text ends its entries with "*"; an answer without one is some web page (a wrong address, a
        // router's login page) and must not replace the user's list.
        m_view.setStatus("The server's answer is not a proxy list; nothing changed.");
        return false;
    }
    storeDownloadedList(result.body);
    return true;
}

void ListServerCommands::storeDownloadedList(const std::string& text) {
    m_view.setStatus("List downloaded from server.");
    if (const std::string why = m_store.save(text); !why.empty())
        m_view.setStatus("List downloaded from server and shown, but it could not be saved: " + why);
    m_view.showEntries(splitListText(text));
}

void ListServerCommands::submitProxy() {
    const auto entry = m_view.askText("Enter the proxy address (ip:port) ex:127.0.0.1:80", "Add a proxy");
    if (!entry || entry->empty())
        return;
    if (m_view.ask("Do you want to send " + *entry + " as new proxy ?", "New Proxy") != View::Answer::Yes)
        return;
    send(list_server::submitUrl(m_settings.listServerUrl(), *entry), "Thanks, Proxy Submitted !",
         "Proxy not submitted: ");
}

void ListServerCommands::reportDeadProxy() {
    // As the commands that put an entry in force: an empty list or an empty row sends nothing and says why.
    if (m_view.entryCount() == 0) {
        m_view.setStatus(kEmptyListText);
        return;
    }
    const auto row = m_view.selectedRow();
    if (!row) {
        m_view.tell("Please select the proxy on the list first");
        return;
    }
    const std::string entry = m_view.entry(*row);
    if (entry.empty()) {
        m_view.setStatus(emptyRowText(*row) + " nothing was reported.");
        return;
    }
    if (m_view.ask("Do you want to report " + entry + " as dead proxy ?", "Dead Proxy") != View::Answer::Yes)
        return;
    send(list_server::reportUrl(m_settings.listServerUrl(), entry), "Proxy desactivated !",
         "Dead proxy not reported: ");
}

bool ListServerCommands::reportEntry(const std::string& entry) {
    if (m_transfer.busy())
        return false;
    return m_transfer.get(list_server::reportUrl(m_settings.listServerUrl(), entry)).ok;
}

void ListServerCommands::send(const std::string& url, const std::string& done, const std::string& failed) {
    if (m_transfer.busy()) {
        m_view.setStatus("Busy");
        return;
    }
    const TransferResult result = m_transfer.get(url);
    m_view.setStatus(result.ok ? done : failed + transferFailureText(result));
}

void ListServerCommands::visitWebsite() {
    const LaunchError error = m_launcher.openUrl(list_server::pageUrl(m_settings.listServerUrl()),
                                                 m_settings.browserPath(), m_proxy.environmentInForce());
    if (error != LaunchError::None)
        m_view.tell("The web page could not be opened: " + launchErrorText(error));
}

} // namespace tamberly
