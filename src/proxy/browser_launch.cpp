#include "proxy/browser_launch.h"

#include "platform/dialogs.h"
#include "platform/shell.h"
#include "storage/ini_file.h"

namespace tamberly {

BrowserLaunch::BrowserLaunch(Shell& shell, Dialogs& dialogs, const std::string& iniPath)
    : m_shell(shell), m_dialogs(dialogs), m_iniPath(iniPath) {}

long BrowserLaunch::StartDoc(const std::string& DocName) {
    const auto owner = m_shell.GetDesktopWindow();
    return m_shell.ShellExecute(owner, "Open", DocName, "", "C:\\", 1);
}

bool BrowserLaunch::LaunchBrowser(const std::string& path) {
    if (path.empty()) {
        m_dialogs.MsgBox("Cannot find internet explorer", Dialogs::vbOKOnly);
        return false;
    }
    const long result = StartDoc(path);
    if (result > 32)
        return true;
    m_dialogs.MsgBox(ShellErrorText(result), Dialogs::vbOKOnly);
    return false;
}

std::string BrowserLaunch::ShellErrorText(long code) {
    switch (code) {
    case 2:
        return "File not found";
    case 3:
        return "Path not found";
    case 5:
        return "Access denied";
    case 8:
        return "Out of memory";
    case 11:
        return "Invalid EXE file or error in EXE image";
    case 26:
        return "A sharing violation occurred";
    case 27:
        return "Incomplete or invalid file association";
    case 28:
        return "DDE Time out";
    case 29:
        return "DDE transaction failed";
    case 30:
        return "DDE busy";
    case 31:
        return "No association for file extension";
    case 32:
        return "DLL not found";
    default:
        return "Unknown error";
    }
}

void BrowserLaunch::Mnulaunch_Click() {
    LaunchBrowser(ReadINI("Path", "IE", m_iniPath));
}

} // namespace tamberly
