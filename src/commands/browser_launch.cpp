#include "commands/browser_launch.h"

#include "commands/view.h"
#include "core/settings.h"

namespace tamberly {

BrowserLaunch::BrowserLaunch(View& view, Launcher& launcher, Settings& settings)
    : m_view(view), m_launcher(launcher), m_settings(settings) {}

bool BrowserLaunch::start(const std::function<EnvironmentChange()>& environment) {
    const std::string path = m_settings.browserPath();
    if (path.empty()) {
        m_view.tell("Cannot find internet explorer");
        return false;
    }
    const LaunchError error = m_launcher.launch(path, {}, environment());
    if (error == LaunchError::None)
        return true;
    m_view.tell(launchErrorText(error));
    return false;
}

std::string launchErrorText(LaunchError error) {
    switch (error) {
    case LaunchError::None:
        return {};
    case LaunchError::FileNotFound:
        return "File not found";
    case LaunchError::PathNotFound:
        return "Path not found";
    case LaunchError::AccessDenied:
        return "Access denied";
    case LaunchError::OutOfMemory:
        return "Out of memory";
    case LaunchError::BadFormat:
        return "Invalid EXE file or error in EXE image";
    case LaunchError::SharingViolation:
        return "A sharing violation occurred";
    case LaunchError::IncompleteAssociation:
        return "Incomplete or invalid file association";
    case LaunchError::DdeTimeout:
        return "DDE Time out";
    case LaunchError::DdeFailed:
        return "DDE transaction failed";
    case LaunchError::DdeBusy:
        return "DDE busy";
    case LaunchError::NoAssociation:
        return "No association for file extension";
    case LaunchError::DllNotFound:
        return "DLL not found";
    case LaunchError::Unknown:
        break;
    }
    return "Unknown error";
}

} // namespace tamberly
