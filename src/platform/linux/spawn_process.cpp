#include "platform/linux/spawn_process.h"

#include <csignal>

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

extern char** environ;

namespace tamberly {
namespace {

class SpawnAttributes {
public:
    explicit SpawnAttributes(bool ownSession) {
        posix_spawnattr_init(&m_attr);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&m_attr, &none);
        // Tamberly's ignored signals are not the child's business.
        sigset_t defaults;
        sigemptyset(&defaults);
        for (int sig : {SIGPIPE, SIGCHLD, SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM})
            sigaddset(&defaults, sig);
        posix_spawnattr_setsigdefault(&m_attr, &defaults);
        short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
        if (ownSession) {
            flags |= POSIX_SPAWN_SETSID;
        } else {
            posix_spawnattr_setpgroup(&m_attr, 0);
            flags |= POSIX_SPAWN_SETPGROUP;
        }
        posix_spawnattr_setflags(&m_attr, flags);
    }
    ~SpawnAttributes() { posix_spawnattr_destroy(&m_attr); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    const posix_spawnattr_t* get() const { return &m_attr; }

private:
    posix_spawnattr_t m_attr;
};

class FileActions {
public:
    explicit FileActions(const SpawnOptions& options) {
        posix_spawn_file_actions_init(&m_actions);
        posix_spawn_file_actions_addopen(&m_actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        if (options.output >= 0)
            posix_spawn_file_actions_adddup2(&m_actions, options.output, STDOUT_FILENO);
        if (options.quietErrors)
            posix_spawn_file_actions_addopen(&m_actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        // Descriptors Tamberly opened without close-on-exec (sockets, the settings file) stay ours.
        posix_spawn_file_actions_addclosefrom_np(&m_actions, STDERR_FILENO + 1);
        if (!options.folder.empty())
            posix_spawn_file_actions_addchdir_np(&m_actions, options.folder.c_str());
    }
    ~FileActions() { posix_spawn_file_actions_destroy(&m_actions); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    const posix_spawn_file_actions_t* get() const { return &m_actions; }

private:
    posix_spawn_file_actions_t m_actions;
};

} // namespace

int spawnProcess(const std::string& program, const std::vector<std::string>& args, const SpawnOptions& options,
                 pid_t& pid) {
    std::vector<std::string> copies = args;
    std::vector<char*> argv;
    argv.reserve(copies.size() + 1);
    for (auto& arg : copies)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    char* const* environment = options.environment ? options.environment : environ;
    const SpawnAttributes attributes(options.ownSession);
    const FileActions actions(options);
    return program.find('/') == std::string::npos
               ? posix_spawnp(&pid, program.c_str(), actions.get(), attributes.get(), argv.data(), environment)
               : posix_spawn(&pid, program.c_str(), actions.get(), attributes.get(), argv.data(), environment);
}

} // namespace tamberly
