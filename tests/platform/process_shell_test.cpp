#include "platform/linux/process_shell.h"

#include "support/fakes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tamberly {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

// Generous bound for a spawned process to do its work; only a hang ever reaches it.
constexpr auto kPatience = std::chrono::seconds(30);

void makeExecutable(const std::string& path, const std::string& text, mode_t mode = 0755) {
    writeFile(path, text);
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

// What the recorder script wrote: "cwd", "pid", "sid" and the arguments in order.
struct Record {
    std::map<std::string, std::string> fields;
    std::vector<std::string> args;
};

class ProcessShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_recorder = m_dir.file("recorder.sh");
        m_output = m_dir.file("record.txt");
        // Written whole and then renamed, so the test never reads half a record.
        makeExecutable(m_recorder, "#!/bin/sh\n"
                                   "{\n"
                                   "  printf 'cwd=%s\\n' \"$(pwd -P)\"\n"
                                   "  for a in \"$@\"; do printf 'arg=[%s]\\n' \"$a\"; done\n"
                                   "  read -r stat < /proc/$$/stat\n"
                                   "  set -- $stat\n"
                                   "  printf 'pid=%s\\nsid=%s\\n' \"$1\" \"$6\"\n"
                                   "  /usr/bin/env | /bin/grep -i '^[a-z]*_proxy=' | /bin/sed 's/^/env:/'\n"
                                   "} > '" +
                                       m_output + ".tmp' && /bin/mv '" + m_output + ".tmp' '" + m_output + "'\n");
    }

    Record waitForRecord() const {
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (!std::filesystem::exists(m_output) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        Record record;
        std::istringstream in(readFile(m_output));
        for (std::string line; std::getline(in, line);) {
            const auto equals = line.find('=');
            if (line.rfind("arg=", 0) == 0)
                record.args.push_back(line.substr(5, line.size() - 6));
            else if (equals != std::string::npos)
                record.fields[line.substr(0, equals)] = line.substr(equals + 1);
        }
        return record;
    }

    // True once the process is gone for good: neither running nor left as a zombie.
    static bool waitUntilGone(long pid) {
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (std::chrono::steady_clock::now() < deadline) {
            if (::kill(static_cast<pid_t>(pid), 0) == -1 && errno == ESRCH)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    TempDir m_dir;
    std::string m_recorder;
    std::string m_output;
    ProcessShell m_shell;
};

TEST_F(ProcessShellTest, StartsTheProgramDetachedInTheRootFolderWithItsArguments) {
    const long result = m_shell.ShellExecute(m_shell.GetDesktopWindow(), "Open", m_recorder,
                                             "one \"two words\" \"\"  three $HOME;*", "C:\\", 1);
    ASSERT_GT(result, 32);

    const Record record = waitForRecord();
    EXPECT_EQ(record.fields.at("cwd"), "/");
    EXPECT_EQ(record.args, (std::vector<std::string>{"one", "two words", "", "three", "$HOME;*"}));
    EXPECT_EQ(record.fields.at("pid"), std::to_string(result));
    // Leader of a session of its own.
    EXPECT_EQ(record.fields.at("sid"), record.fields.at("pid"));
    EXPECT_NE(record.fields.at("sid"), std::to_string(::getsid(0)));
    EXPECT_TRUE(waitUntilGone(result)) << "the finished child was left as a zombie";
}

TEST_F(ProcessShellTest, EmptyParametersGiveNoArgumentsAndAnyFolderIsKept) {
    const long result = m_shell.ShellExecute(0, "open", m_recorder, "", m_dir.path(), 1);
    ASSERT_GT(result, 32);
    const Record record = waitForRecord();
    EXPECT_EQ(record.fields.at("cwd"), std::filesystem::canonical(m_dir.path()).string());
    EXPECT_TRUE(record.args.empty());
    EXPECT_TRUE(waitUntilGone(result));
}

TEST_F(ProcessShellTest, BareProgramNameIsFoundOnPath) {
    const char* oldPath = std::getenv("PATH");
    const std::string saved = oldPath ? oldPath : "";
    ::setenv("PATH", m_dir.path().c_str(), 1);
    const long result = m_shell.ShellExecute(0, "Open", "recorder.sh", "x", "C:\\", 1);
    ::setenv("PATH", saved.c_str(), 1);
    ASSERT_GT(result, 32);
    EXPECT_EQ(waitForRecord().args, std::vector<std::string>{"x"});
}

TEST_F(ProcessShellTest, FailuresReportTheShellsCodes) {
    writeFile(m_dir.file("plain.txt"), "");
    makeExecutable(m_dir.file("no-run.sh"), "#!/bin/sh\nexit 0\n", 0644);
    makeExecutable(m_dir.file("no-interpreter"), "just some words\n");
    std::filesystem::create_directory(m_dir.file("folder"));

    struct Case {
        const char* name;
        std::string verb, file, directory;
        long code;
    } cases[] = {
        {"missing file", "Open", m_dir.file("absent"), "C:\\", 2},
        {"missing folder on the way", "Open", m_dir.file("nowhere/program"), "C:\\", 3},
        {"a file in the way", "Open", m_dir.file("plain.txt/program"), "C:\\", 3},
        {"no run permission", "Open", m_dir.file("no-run.sh"), "C:\\", 5},
        {"a folder", "Open", m_dir.file("folder"), "C:\\", 5},
        {"text without interpreter line", "Open", m_dir.file("no-interpreter"), "C:\\", 11},
        {"empty file name", "Open", "", "C:\\", 2},
        {"missing working folder", "Open", m_recorder, m_dir.file("gone"), 3},
        {"verb without handler", "print", m_recorder, "C:\\", 31},
    };
    for (const auto& c : cases)
        EXPECT_EQ(m_shell.ShellExecute(0, c.verb, c.file, "", c.directory, 1), c.code) << c.name;
    EXPECT_FALSE(std::filesystem::exists(m_output)) << "a failed request must not start anything";
}

TEST_F(ProcessShellTest, ProgramOpenForWritingIsASharingViolation) {
    const std::string program = m_dir.file("busy");
    std::filesystem::copy_file("/bin/true", program);
    ::chmod(program.c_str(), 0755);
    const int fd = ::open(program.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(m_shell.ShellExecute(0, "Open", program, "", "C:\\", 1), 26);
    ::close(fd);
}

TEST(ProcessShellCodes, ErrnoMapsToTheShellsCodes) {
    EXPECT_EQ(ProcessShell::codeForErrno(ENOMEM, "/bin/x"), 8);
    EXPECT_EQ(ProcessShell::codeForErrno(ETXTBSY, "/bin/x"), 26);
    EXPECT_EQ(ProcessShell::codeForErrno(EPERM, "/bin/x"), 5);
    EXPECT_EQ(ProcessShell::codeForErrno(EIO, "/bin/x"), 0) << "anything else reads as an unknown error";
    EXPECT_EQ(ProcessShell::codeForErrno(ENOENT, "/bin/x"), 2);
    EXPECT_EQ(ProcessShell::codeForErrno(ENOENT, "/no-such-folder/x"), 3);
    EXPECT_EQ(ProcessShell::codeForErrno(ENOENT, "x"), 2);
}

TEST(ProcessShellParameters, SplitOnBlanksWithQuotesGrouping) {
    const struct {
        std::string text;
        std::vector<std::string> args;
    } cases[] = {
        {"", {}},
        {"   ", {}},
        {"a b\tc", {"a", "b", "c"}},
        {"  lead  trail  ", {"lead", "trail"}},
        {"\"two words\" x", {"two words", "x"}},
        {"pre\"fix mid\"post", {"prefix midpost"}},
        {"\"\"", {""}},
        {"\"unclosed rest", {"unclosed rest"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProcessShell::splitParameters(c.text), c.args) << c.text;
}

} // namespace
} // namespace tamberly

namespace tamberly {
namespace {

// The launched browser uses the proxy in force: the variables when it is on (whatever the caller's environment
// said), none of them when it is off.
TEST_F(ProcessShellTest, TheStartedProgramsEnvironmentCarriesTheProxyInForce) {
    ::setenv("http_proxy", "http://stale.example:1", 1);
    ::setenv("NO_PROXY", "stale.example", 1);
    test::FakeRegistry registry;
    ProcessShell shell(&registry);
    struct Case {
        const char* server;
        RegValue enable;
        std::map<std::string, std::string> expected;
    };
    const std::string local = "localhost,127.0.0.1,::1";
    const Case cases[] = {
        {"10.1.2.3:3128",
         std::uint32_t{1},
         {{"env:http_proxy", "http://10.1.2.3:3128"},
          {"env:HTTP_PROXY", "http://10.1.2.3:3128"},
          {"env:https_proxy", "http://10.1.2.3:3128"},
          {"env:HTTPS_PROXY", "http://10.1.2.3:3128"},
          {"env:ftp_proxy", "http://10.1.2.3:3128"},
          {"env:FTP_PROXY", "http://10.1.2.3:3128"},
          {"env:no_proxy", local},
          {"env:NO_PROXY", local}}},
        {"http=[::1]:8080",
         std::uint32_t{1},
         {{"env:http_proxy", "http://[::1]:8080"},
          {"env:HTTP_PROXY", "http://[::1]:8080"},
          {"env:no_proxy", local},
          {"env:NO_PROXY", local}}},
        {"10.1.2.3:3128", std::uint32_t{0}, {}},
        // Read as "Show current proxy" reads ProxyEnable.
        {"http=[::1]:8080",
         std::string("\n+1"),
         {{"env:http_proxy", "http://[::1]:8080"},
          {"env:HTTP_PROXY", "http://[::1]:8080"},
          {"env:no_proxy", local},
          {"env:NO_PROXY", local}}},
        {"10.1.2.3:3128", std::string("yes"), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.server) + " with ProxyEnable " + regValueText(c.enable));
        std::filesystem::remove(m_output);
        registry.values[kProxyServerName] = std::string(c.server);
        registry.values[kProxyEnableName] = c.enable;
        ASSERT_GT(shell.ShellExecute(0, "Open", m_recorder, "", "C:\\", 1), 32);
        std::map<std::string, std::string> proxyVariables;
        for (const auto& [key, value] : waitForRecord().fields)
            if (key.rfind("env:", 0) == 0)
                proxyVariables[key] = value;
        EXPECT_EQ(proxyVariables, c.expected);
    }
    ::unsetenv("http_proxy");
    ::unsetenv("NO_PROXY");
}

} // namespace
} // namespace tamberly
