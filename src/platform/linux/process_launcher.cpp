#include "platform/linux/process_launcher.h"

#include "platform/linux/browser_lookup.h"
#include "platform/linux/desktop_browser_opener.h"
#include "platform/linux/spawn_process.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <thread>

#include <sys/stat.h>
#include <sys/wait.h>

extern char** environ;

namespace tamberly {
namespace {

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string_view nameOf(std::string_view variable) {
    return variable.substr(0, variable.find('='));
}

} // namespace

ProcessLauncher::ProcessLauncher(std::chrono::milliseconds browserLookupWait)
    : m_browserLookupWait(browserLookupWait) {}

LaunchError ProcessLauncher::errorFor(int error, const std::string& program) {
    switch (error) {
    case 0:
        return LaunchError::None;
    case ENOENT: {
        // The kernel says ENOENT for a missing folder on the way too; a user needs to know which is missing.
        const auto slash = program.rfind('/');
        if (slash != std::string::npos && slash > 0 && !isDirectory(program.substr(0, slash)))
            return LaunchError::PathNotFound;
        return LaunchError::FileNotFound;
    }
    case ENOTDIR:
        return LaunchError::PathNotFound;
    case EACCES:
    case EPERM:
        return LaunchError::AccessDenied;
    case ENOMEM:
        return LaunchError::OutOfMemory;
    case ENOEXEC:
        return LaunchError::BadFormat;
    case ETXTBSY:
        return LaunchError::SharingViolation;
    default:
        return LaunchError::Unknown;
    }
}

std::vector<std::string> ProcessLauncher::changedEnvironment(char* const* base, const EnvironmentChange& change) {
    const auto changed = [&](std::string_view name) {
        return std::find(change.unset.begin(), change.unset.end(), name) != change.unset.end() ||
               std::any_of(change.set.begin(), change.set.end(), [&](const auto& set) { return set.first == name; });
    };
    std::vector<std::string> out;
    for (char* const* entry = base; entry && *entry; ++entry)
        if (!changed(nameOf(*entry)))
            out.emplace_back(*entry);
    for (const auto& [name, value] : change.set)
        out.push_back(name + "=" + value);
    return out;
}

LaunchError ProcessLauncher::launch(const std::string& program, const std::vector<std::string>& arguments,
                                    const EnvironmentChange& environment) {
    if (program.empty())
        return LaunchError::FileNotFound;

    // The child starts in the root folder: a relative path with a folder in it means ours.
    std::string path = program;
    if (program.find('/') != std::string::npos && program.front() != '/') {
        std::error_code ec;
        path = std::filesystem::absolute(program, ec).string();
        if (ec)
            return LaunchError::PathNotFound;
    }

    std::vector<std::string> args = arguments;
    args.insert(args.begin(), program);
    std::vector<std::string> variables = changedEnvironment(environ, environment);
    std::vector<char*> envp;
    envp.reserve(variables.size() + 1);
    for (auto& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);

    const SpawnOptions options{.folder = std::string(1, '/'), .ownSession = true, .environment = envp.data()};
    pid_t pid = -1;
    if (const int error = spawnProcess(path, args, options, pid); error != 0)
        return errorFor(error, path);

    // Someone has to collect the exit status, or the program would linger as a zombie once it ends.
    try {
        std::thread([pid] {
            int status = 0;
            while (::waitpid(pid, &status, 0) == -1 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the program runs anyway and is collected when ours ends.
    }
    return LaunchError::None;
}

LaunchError ProcessLauncher::openUrl(const std::string& url, const std::string& browser,
                                     const EnvironmentChange& environment) {
    const std::vector<std::string> command = desktop_browser::command(browser, url);
    return launch(command.front(), {command.begin() + 1, command.end()}, environment);
}

std::string ProcessLauncher::findBrowser() {
    return BrowserLookup(m_browserLookupWait).findBrowser();
}

} // namespace tamberly
