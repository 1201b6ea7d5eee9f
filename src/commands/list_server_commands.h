#pragma once

#include <string>

namespace tamberly {

class HttpTransfer;
class Launcher;
class ProxyCommands;
class ProxyListStore;
class Settings;
class View;

/// The commands that talk to the list server: "Download List", "Add a new proxy", "Report dead proxy" and "Visit
/// Website". One request at a time: while one runs, the others say "Busy".
class ListServerCommands final {
public:
    ListServerCommands(View& view, HttpTransfer& transfer, Launcher& launcher, ProxyCommands& proxy,
                       ProxyListStore& store, Settings& settings);

    /// Turns the proxy off, fetches the list, and when a list arrived stores and shows it; true when the rows were
    /// replaced.
    bool downloadList();
    /// Stores a downloaded list text and shows its entries.
    void storeDownloadedList(const std::string& text);
    /// Asks for an entry and offers it to the list server as a new proxy.
    void submitProxy();
    /// Reports the selected entry as no longer working; an empty list or an empty row sends nothing.
    void reportDeadProxy();
    /// Reports entry as no longer working, without asking and without a status text (the watcher's report); false
    /// when it was not sent or the server refused it.
    bool reportEntry(const std::string& entry);
    /// Opens the list server's web page in a new browser window.
    void visitWebsite();

private:
    /// Sends one request once the transfer is free; the status line tells the outcome.
    void send(const std::string& url, const std::string& done, const std::string& failed);

    View& m_view;
    HttpTransfer& m_transfer;
    Launcher& m_launcher;
    ProxyCommands& m_proxy;
    ProxyListStore& m_store;
    Settings& m_settings;
};

} // namespace tamberly
