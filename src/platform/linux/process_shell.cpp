#include "platform/linux/process_shell.h"

#include "platform/linux/proxy_servers.h"
#include "platform/linux/spawn_process.h"
#include "text/ascii_text.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tamberly {
namespace {

// The shell's own result codes.
constexpr long kUnknown = 0;
constexpr long kFileNotFound = 2;
constexpr long kPathNotFound = 3;
constexpr long kAccessDenied = 5;
constexpr long kOutOfMemory = 8;
constexpr long kBadFormat = 11;
constexpr long kSharingViolation = 26;
constexpr long kNoAssociation = 31;

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Windows launches name the system drive as their working folder; its counterpart here is the root.
std::string workingFolder(const std::string& directory) {
    if (directory.size() == 3 && lowerAscii(directory[0]) == 'c' && directory[1] == ':' &&
        (directory[2] == '\\' || directory[2] == '/'))
        return "/";
    return directory;
}

} // namespace

std::vector<std::string> ProcessShell::splitParameters(const std::string& parameters) {
    std::vector<std::string> args;
    std::string current;
    bool inWord = false;
    bool quoted = false;
    for (char c : parameters) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true; // "" is an empty argument
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (inWord)
                args.push_back(std::move(current));
            current.clear();
            inWord = false;
        } else {
            current += c;
            inWord = true;
        }
    }
    if (inWord)
        args.push_back(std::move(current));
    return args;
}

long ProcessShell::codeForErrno(int error, const std::string& file) {
    switch (error) {
    case ENOENT: {
        // The kernel says ENOENT for a missing folder on the way too; the shell tells the two apart.
        const auto slash = file.rfind('/');
        if (slash != std::string::npos && slash > 0 && !isDirectory(file.substr(0, slash)))
            return kPathNotFound;
        return kFileNotFound;
    }
    case ENOTDIR:
        return kPathNotFound;
    case EACCES:
    case EPERM:
        return kAccessDenied;
    case ENOMEM:
        return kOutOfMemory;
    case ENOEXEC:
        return kBadFormat;
    case ETXTBSY:
        return kSharingViolation;
    default:
        return kUnknown;
    }
}

std::optional<std::vector<std::string>> ProcessShell::launchEnvironment(Registry& registry, char** base) {
    std::vector<std::string> proxy;
    try {
        const auto enable = registry.RegRead(kProxyEnableName);
        if (enable && proxyEnableIsOn(*enable)) {
            const auto server = registry.RegRead(kProxyServerName);
            std::string why;
            if (const auto servers = parseProxyServer(server ? regValueText(*server) : std::string(), why))
                proxy = proxyEnvironment(*servers);
        }
    } catch (const RegistryError&) {
        return std::nullopt;
    }
    std::vector<std::string> out;
    for (char** entry = base; entry && *entry; ++entry) {
        const std::string variable = *entry;
        const std::string name = variable.substr(0, variable.find('='));
        bool isProxy = false;
        for (const auto& proxyName : proxyEnvironmentNames())
            isProxy = isProxy || name == proxyName;
        if (!isProxy)
            out.push_back(variable);
    }
    out.insert(out.end(), proxy.begin(), proxy.end());
    return out;
}

long ProcessShell::ShellExecute(std::uintptr_t /*owner*/, const std::string& verb, const std::string& file,
                                const std::string& parameters, const std::string& directory, int /*showCommand*/) {
    // The show command is not used: a new X11 or Wayland program is placed and shown by the window manager, and
    // there is no portable way to ask for another start state. The owner window has no counterpart either.
    if (!verb.empty() && !equalsIgnoringCase(verb, "open"))
        return kNoAssociation;
    if (file.empty())
        return kFileNotFound;

    const std::string folder = workingFolder(directory);
    if (!folder.empty() && !isDirectory(folder))
        return kPathNotFound;

    // A relative path with a folder in it means the current folder, not the new working folder.
    std::string program = file;
    if (file.find('/') != std::string::npos && file.front() != '/') {
        std::error_code ec;
        program = std::filesystem::absolute(file, ec).string();
        if (ec)
            return kPathNotFound;
    }

    std::vector<std::string> args = splitParameters(parameters);
    args.insert(args.begin(), file);

    std::optional<std::vector<std::string>> environment;
    if (m_proxyInForce)
        environment = launchEnvironment(*m_proxyInForce, environ);
    std::vector<char*> envp;
    if (environment) {
        for (auto& variable : *environment)
            envp.push_back(variable.data());
        envp.push_back(nullptr);
    }

    SpawnOptions options;
    options.folder = folder;
    options.ownSession = true;
    options.environment = environment ? envp.data() : nullptr;
    pid_t pid = -1;
    if (const int error = spawnProcess(program, args, options, pid); error != 0)
        return codeForErrno(error, program);

    // Someone has to collect the exit status, or the browser would linger as a zombie once it ends.
    try {
        std::thread([pid] {
            int status = 0;
            while (::waitpid(pid, &status, 0) == -1 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the program runs anyway and is collected when Tamberly ends.
    }
    return pid > 32 ? pid : 33;
}

} // namespace tamberly
