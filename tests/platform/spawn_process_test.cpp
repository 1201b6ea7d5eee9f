// What a child of Tamberly starts with, seen from inside a real child process.
#include "platform/linux/spawn_process.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tamberly {
namespace {

// The child reports on itself, one "name=value" a line: its descriptors, its stdin, its signal mask and ignored
// signals, its process group and session, and its working folder. The signals are read first and with builtins
// only: the shell blocks every signal while it forks, so a reader started from it could see that moment instead.
const char* const kReport =
    "while read -r name value; do case $name in"
    " SigBlk:) echo blocked=$value;; SigIgn:) echo ignored=$value;; esac; done </proc/$$/status;"
    "set -- $(cat /proc/$$/stat); echo pid=$$ pgrp=$5 sid=$6 | tr ' ' '\\n';"
    "printf fds=; ls /proc/$$/fd | tr '\\n' ' '; echo;"
    "echo stdin=$(readlink /proc/$$/fd/0);"
    "echo folder=$(pwd); echo errors >&2";

std::map<std::string, std::string> runReport(const SpawnOptions& base, std::string& errors) {
    int out[2];
    int err[2];
    EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
    EXPECT_EQ(::pipe(err), 0); // not close-on-exec: the child must not keep it unless it is its stderr
    SpawnOptions options = base;
    options.output = out[1];
    // Ours for the child's stderr while spawning: where "errors" lands unless the child's stderr is quieted.
    const int savedErr = ::dup(STDERR_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    pid_t pid = -1;
    const int error = spawnProcess("sh", {"sh", "-c", kReport}, options, pid);
    ::dup2(savedErr, STDERR_FILENO);
    ::close(savedErr);
    ::close(out[1]);
    ::close(err[1]);
    EXPECT_EQ(error, 0);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    for (ssize_t n; (n = ::read(err[0], buffer, sizeof buffer)) > 0;)
        errors.append(buffer, static_cast<std::size_t>(n));
    ::close(out[0]);
    ::close(err[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    std::map<std::string, std::string> fields;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (const auto equals = line.find('='); equals != std::string::npos)
            fields[line.substr(0, equals)] = line.substr(equals + 1);
    return fields;
}

TEST(SpawnProcessTest, TheChildStartsCleanInAGroupOrSessionOfItsOwn) {
    test::TempDir dir;
    // What the parent has that the child must not: a blocked signal, an ignored SIGPIPE, a descriptor left open.
    sigset_t blocked;
    sigset_t old;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &blocked, &old);
    const auto oldPipe = std::signal(SIGPIPE, SIG_IGN);
    const int stray = ::open("/dev/null", O_RDONLY);

    struct Case {
        bool ownSession;
        bool quietErrors;
        std::string folder;
    };
    const Case cases[] = {{false, true, ""}, {true, false, dir.path()}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ownSession ? "own session" : "own group");
        SpawnOptions options;
        options.ownSession = c.ownSession;
        options.quietErrors = c.quietErrors;
        options.folder = c.folder;
        std::string errors;
        auto fields = runReport(options, errors);
        EXPECT_EQ(fields["fds"], "0 1 2 ");
        EXPECT_EQ(fields["stdin"], "/dev/null");
        EXPECT_EQ(fields["blocked"], "0000000000000000");
        EXPECT_EQ(std::stoull(fields["ignored"], nullptr, 16) & (1ull << (SIGPIPE - 1)), 0u);
        EXPECT_EQ(fields["pgrp"], fields["pid"]);
        if (c.ownSession)
            EXPECT_EQ(fields["sid"], fields["pid"]);
        else
            EXPECT_EQ(fields["sid"], std::to_string(getsid(0)));
        EXPECT_EQ(fields["folder"], c.folder.empty() ? std::filesystem::current_path().string() : c.folder);
        EXPECT_EQ(errors, c.quietErrors ? "" : "errors\n");
    }

    ::close(stray);
    std::signal(SIGPIPE, oldPipe);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

TEST(SpawnProcessTest, AFailedStartGivesItsErrno) {
    pid_t pid = -1;
    EXPECT_EQ(spawnProcess("/nonexistent/program", {"program"}, {}, pid), ENOENT);
    EXPECT_EQ(spawnProcess("tamberly-no-such-program", {"tamberly-no-such-program"}, {}, pid), ENOENT);
}

} // namespace
} // namespace tamberly
