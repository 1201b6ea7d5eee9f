#include "platform/windows/shell_launcher.h"

#include "platform/windows/wide_text.h"
#include "text/ascii_text.h"

#include <utility>

#include <windows.h>

#include <shellapi.h>

namespace tamberly {

ShellLauncher::ShellLauncher(AppPathsBrowserLocator browsers) : m_browsers(std::move(browsers)) {}

std::string ShellLauncher::quoteArgument(const std::string& argument, bool always) {
    if (!always && !argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos)
        return argument;
    // Backslashes are literal unless a quote follows them: then each is doubled, and a quote of the argument's own
    // gets one more to escape it.
    std::string quoted = "\"";
    for (std::size_t i = 0;; ++i) {
        std::size_t backslashes = 0;
        while (i < argument.size() && argument[i] == '\\') {
            ++backslashes;
            ++i;
        }
        if (i == argument.size()) {
            quoted.append(backslashes * 2, '\\');
            break;
        }
        if (argument[i] == '"') {
            quoted.append(backslashes * 2 + 1, '\\');
        } else {
            quoted.append(backslashes, '\\');
        }
        quoted += argument[i];
    }
    return quoted + "\"";
}

LaunchError ShellLauncher::launchError(std::intptr_t shellResult) {
    if (shellResult > 32)
        return LaunchError::None;
    switch (shellResult) {
    case ERROR_FILE_NOT_FOUND: // 2
        return LaunchError::FileNotFound;
    case ERROR_PATH_NOT_FOUND: // 3
        return LaunchError::PathNotFound;
    case SE_ERR_ACCESSDENIED: // 5
        return LaunchError::AccessDenied;
    case SE_ERR_OOM: // 8
        return LaunchError::OutOfMemory;
    case ERROR_BAD_FORMAT: // 11
        return LaunchError::BadFormat;
    case SE_ERR_SHARE: // 26
        return LaunchError::SharingViolation;
    case SE_ERR_ASSOCINCOMPLETE: // 27
        return LaunchError::IncompleteAssociation;
    case SE_ERR_DDETIMEOUT: // 28
        return LaunchError::DdeTimeout;
    case SE_ERR_DDEFAIL: // 29
        return LaunchError::DdeFailed;
    case SE_ERR_DDEBUSY: // 30
        return LaunchError::DdeBusy;
    case SE_ERR_NOASSOC: // 31
        return LaunchError::NoAssociation;
    case SE_ERR_DLLNOTFOUND: // 32
        return LaunchError::DllNotFound;
    default:
        // 0 too: the system documents it as out of memory, but the message for it is "Unknown error", kept as it is.
        return LaunchError::Unknown;
    }
}

LaunchError ShellLauncher::execute(const std::string& file, const std::string& parameters) {
    const std::wstring wideFile = widen(file);
    const std::wstring wideParameters = widen(parameters);
    const HINSTANCE result =
        ::ShellExecuteW(::GetDesktopWindow(), L"open", wideFile.c_str(),
                        wideParameters.empty() ? nullptr : wideParameters.c_str(), L"C:\\", SW_SHOWNORMAL);
    return launchError(reinterpret_cast<std::intptr_t>(result));
}

LaunchError ShellLauncher::launch(const std::string& program, const std::vector<std::string>& arguments,
                                  const EnvironmentChange&) {
    std::string parameters;
    for (const std::string& argument : arguments) {
        if (!parameters.empty())
            parameters += ' ';
        parameters += quoteArgument(argument);
    }
    return execute(program, parameters);
}

LaunchError ShellLauncher::openUrl(const std::string& url, const std::string& browser, const EnvironmentChange&) {
    const std::string page = percentEncode(url, [](unsigned char byte) { return byte != '"'; });
    if (browser.empty())
        return execute(page, "");
    return execute(browser, quoteArgument(page, true));
}

std::string ShellLauncher::findBrowser() {
    return m_browsers.findBrowser();
}

} // namespace tamberly
