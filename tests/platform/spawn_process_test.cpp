// What a child of Tamberly starts with, seen from inside a real child process.
#include "platform/linux/spawn_process.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tamberly {
namespace {

// Runs program with args as Tamberly would start it, returns what it wrote to its standard output, and adds what
// reached the stderr we had while spawning to errors. Each child reports on itself (its own /proc/self), never on a
// shell: a shell blocks every signal and holds pipe descriptors while it forks, which a reader could catch.
std::string run(const SpawnOptions& base, const std::vector<std::string>& args, std::string& errors) {
    int out[2];
    int err[2];
    EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
    EXPECT_EQ(::pipe(err), 0); // not close-on-exec: the child must not keep it unless it is its stderr
    SpawnOptions options = base;
    options.output = out[1];
    const int savedErr = ::dup(STDERR_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    pid_t pid = -1;
    const int error = spawnProcess(args.front(), args, options, pid);
    ::dup2(savedErr, STDERR_FILENO);
    ::close(savedErr);
    ::close(out[1]);
    ::close(err[1]);
    EXPECT_EQ(error, 0) << args.front();
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
    return text;
}

// The first value of each "Name:\tvalue..." line of /proc/self/status.
std::map<std::string, std::string> statusFields(const std::string& text) {
    std::map<std::string, std::string> fields;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string name;
        std::string value;
        if (words >> name >> value)
            fields[name] = value;
    }
    return fields;
}

// From "ls -l /proc/self/fd": each descriptor and what it refers to.
std::map<int, std::string> descriptors(const std::string& text) {
    std::map<int, std::string> open;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const auto arrow = line.find(" -> ");
        const auto space = line.rfind(' ', arrow == std::string::npos ? 0 : arrow - 1);
        if (arrow != std::string::npos && space != std::string::npos)
            open[std::stoi(line.substr(space + 1, arrow - space - 1))] = line.substr(arrow + 4);
    }
    return open;
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

        auto status = statusFields(run(options, {"cat", "/proc/self/status"}, errors));
        EXPECT_EQ(status["SigBlk:"], "0000000000000000");
        EXPECT_EQ(std::stoull(status["SigIgn:"], nullptr, 16) & (1ull << (SIGPIPE - 1)), 0u);
        EXPECT_EQ(status["NSpgid:"], status["Pid:"]);
        if (c.ownSession)
            EXPECT_EQ(status["NSsid:"], status["Pid:"]);
        else
            EXPECT_EQ(status["NSsid:"], std::to_string(getsid(0)));

        // Only the three standard descriptors, stdin from /dev/null; ls's own handle on the folder it lists aside.
        auto open = descriptors(run(options, {"ls", "-l", "/proc/self/fd"}, errors));
        EXPECT_EQ(open[0], "/dev/null");
        EXPECT_TRUE(open.count(1) && open.count(2));
        for (const auto& [fd, target] : open) {
            if (fd > 2) {
                EXPECT_TRUE(target.rfind("/proc/", 0) == 0 && target.size() > 3 &&
                            target.compare(target.size() - 3, 3, "/fd") == 0)
                    << "descriptor " << fd << " -> " << target;
            }
        }

        EXPECT_EQ(run(options, {"pwd"}, errors),
                  (c.folder.empty() ? std::filesystem::current_path().string() : c.folder) + "\n");
        errors.clear();
        run(options, {"sh", "-c", "echo errors >&2"}, errors);
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
