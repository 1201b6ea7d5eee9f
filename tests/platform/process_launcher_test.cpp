// Starting programs for real: a recorder script reports what it was started with (folder, arguments, session,
// environment), and each failure gives its typed error.
#include "platform/linux/process_launcher.h"

#include "scoped_env.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tamberly {
namespace {

using test::readFile;
using test::ScopedEnv;
using test::TempDir;
using test::writeFile;

// Generous bound for a started process to do its work; only a hang ever reaches it.
constexpr auto kPatience = std::chrono::seconds(30);

void makeExecutable(const std::string& path, const std::string& text, mode_t mode = 0755) {
    writeFile(path, text);
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

// What the recorder wrote: "cwd", "pid", "sid", "kept", "env:NAME" and the arguments in order.
struct Record {
    std::map<std::string, std::string> fields;
    std::vector<std::string> args;
    std::map<std::string, std::string> proxyVariables() const {
        std::map<std::string, std::string> out;
        for (const auto& [key, value] : fields)
            if (key.rfind("env:", 0) == 0)
                out[key] = value;
        return out;
    }
};

class ProcessLauncherTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_recorder = recorder("recorder.sh");
        m_env.set("TAMBERLY_KEPT", "ours");
    }

    // A script that reports on itself; written whole and then renamed, so the test never reads half a record.
    std::string recorder(const std::string& name) {
        const std::string path = m_dir.file(name);
        makeExecutable(path, "#!/bin/sh\n"
                             "{\n"
                             "  printf 'cwd=%s\\n' \"$(pwd -P)\"\n"
                             "  for a in \"$@\"; do printf 'arg=[%s]\\n' \"$a\"; done\n"
                             "  read -r stat < /proc/$$/stat\n"
                             "  set -- $stat\n"
                             "  printf 'pid=%s\\nsid=%s\\nkept=%s\\n' \"$1\" \"$6\" \"$TAMBERLY_KEPT\"\n"
                             "  /usr/bin/env | /bin/grep -i '^[a-z]*_proxy=' | /bin/sed 's/^/env:/'\n"
                             "} > '" +
                                 m_output + ".tmp' && /bin/mv '" + m_output + ".tmp' '" + m_output + "'\n");
        return path;
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
        std::filesystem::remove(m_output);
        return record;
    }

    // True once the process is gone for good: neither running nor left as a zombie.
    static bool waitUntilGone(const std::string& pid) {
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (std::chrono::steady_clock::now() < deadline) {
            if (::kill(static_cast<pid_t>(std::stol(pid)), 0) == -1 && errno == ESRCH)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    TempDir m_dir;
    std::string m_output = m_dir.file("record.txt");
    std::string m_recorder;
    ScopedEnv m_env;
    ProcessLauncher m_launcher;
};

TEST_F(ProcessLauncherTest, StartsTheProgramDetachedInTheRootFolderWithItsArgumentsAsGiven) {
    const std::vector<std::string> arguments = {"one", "two words", "", "  three ", "$HOME;*", "\"quoted\""};
    ASSERT_EQ(m_launcher.launch(m_recorder, arguments, {}), LaunchError::None);

    const Record record = waitForRecord();
    EXPECT_EQ(record.fields.at("cwd"), "/");
    EXPECT_EQ(record.args, arguments);
    // Leader of a session of its own.
    EXPECT_EQ(record.fields.at("sid"), record.fields.at("pid"));
    EXPECT_NE(record.fields.at("sid"), std::to_string(::getsid(0)));
    EXPECT_EQ(record.fields.at("kept"), "ours");
    EXPECT_TRUE(waitUntilGone(record.fields.at("pid"))) << "the finished child was left as a zombie";
}

TEST_F(ProcessLauncherTest, ABareNameIsFoundOnPathAndARelativePathIsOurs) {
    m_env.set("PATH", m_dir.path());
    ASSERT_EQ(m_launcher.launch("recorder.sh", {"x"}, {}), LaunchError::None);
    EXPECT_EQ(waitForRecord().args, std::vector<std::string>{"x"});

    const auto ours = std::filesystem::current_path();
    std::filesystem::current_path(m_dir.path());
    const LaunchError relative = m_launcher.launch("./recorder.sh", {"y"}, {});
    std::filesystem::current_path(ours);
    ASSERT_EQ(relative, LaunchError::None);
    EXPECT_EQ(waitForRecord().args, std::vector<std::string>{"y"});
}

TEST_F(ProcessLauncherTest, FailuresGiveTheirErrorAndStartNothing) {
    writeFile(m_dir.file("plain.txt"), "");
    makeExecutable(m_dir.file("no-run.sh"), "#!/bin/sh\nexit 0\n", 0644);
    makeExecutable(m_dir.file("no-interpreter"), "just some words\n");
    std::filesystem::create_directory(m_dir.file("folder"));

    const struct {
        const char* name;
        std::string program;
        LaunchError error;
    } cases[] = {
        {"missing file", m_dir.file("absent"), LaunchError::FileNotFound},
        {"missing bare name", "tamberly-no-such-program", LaunchError::FileNotFound},
        {"missing folder on the way", m_dir.file("nowhere/program"), LaunchError::PathNotFound},
        {"a file in the way", m_dir.file("plain.txt/program"), LaunchError::PathNotFound},
        {"no run permission", m_dir.file("no-run.sh"), LaunchError::AccessDenied},
        {"a folder", m_dir.file("folder"), LaunchError::AccessDenied},
        {"text without interpreter line", m_dir.file("no-interpreter"), LaunchError::BadFormat},
        {"empty program", "", LaunchError::FileNotFound},
    };
    for (const auto& c : cases)
        EXPECT_EQ(m_launcher.launch(c.program, {}, {}), c.error) << c.name;
    EXPECT_FALSE(std::filesystem::exists(m_output)) << "a failed start must not start anything";
}

TEST_F(ProcessLauncherTest, AProgramOpenForWritingIsASharingViolation) {
    const std::string program = m_dir.file("busy");
    std::filesystem::copy_file("/bin/true", program);
    ::chmod(program.c_str(), 0755);
    const int fd = ::open(program.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(m_launcher.launch(program, {}, {}), LaunchError::SharingViolation);
    ::close(fd);
}

TEST(ProcessLauncherErrors, ErrnoMapsToLaunchErrors) {
    const struct {
        int error;
        const char* program;
        LaunchError expected;
    } cases[] = {
        {ENOMEM, "/bin/x", LaunchError::OutOfMemory},
        {ETXTBSY, "/bin/x", LaunchError::SharingViolation},
        {EPERM, "/bin/x", LaunchError::AccessDenied},
        {ENOTDIR, "/bin/x", LaunchError::PathNotFound},
        {EIO, "/bin/x", LaunchError::Unknown},
        {ENOENT, "/bin/x", LaunchError::FileNotFound},
        {ENOENT, "/no-such-folder/x", LaunchError::PathNotFound},
        {ENOENT, "x", LaunchError::FileNotFound},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProcessLauncher::errorFor(c.error, c.program), c.expected) << c.error << " " << c.program;
}

// The browser uses the proxy it is given: the variables when it is on (whatever our environment said), none of
// them when it is off; everything else of ours it inherits.
TEST_F(ProcessLauncherTest, TheStartedProgramGetsOurEnvironmentWithTheChangeApplied) {
    m_env.set("http_proxy", "http://stale.example:1");
    m_env.set("NO_PROXY", "stale.example");
    const std::string local = "localhost,127.0.0.1,::1";
    const auto manual = [](const char* text) {
        return proxyEnvironment(ProxySetting::manual(parseProxyServers(text).servers.value()));
    };
    const struct {
        const char* name;
        EnvironmentChange change;
        std::map<std::string, std::string> expected;
    } cases[] = {
        {"one proxy",
         manual("10.1.2.3:3128"),
         {{"env:http_proxy", "http://10.1.2.3:3128"},
          {"env:HTTP_PROXY", "http://10.1.2.3:3128"},
          {"env:https_proxy", "http://10.1.2.3:3128"},
          {"env:HTTPS_PROXY", "http://10.1.2.3:3128"},
          {"env:ftp_proxy", "http://10.1.2.3:3128"},
          {"env:FTP_PROXY", "http://10.1.2.3:3128"},
          {"env:no_proxy", local},
          {"env:NO_PROXY", local}}},
        {"per protocol",
         manual("http=[::1]:8080"),
         {{"env:http_proxy", "http://[::1]:8080"},
          {"env:HTTP_PROXY", "http://[::1]:8080"},
          {"env:no_proxy", local},
          {"env:NO_PROXY", local}}},
        {"off", proxyEnvironment(ProxySetting::off()), {}},
        {"no change", {}, {{"env:http_proxy", "http://stale.example:1"}, {"env:NO_PROXY", "stale.example"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(m_launcher.launch(m_recorder, {}, c.change), LaunchError::None);
        const Record record = waitForRecord();
        EXPECT_EQ(record.proxyVariables(), c.expected);
        EXPECT_EQ(record.fields.at("kept"), "ours");
    }
    // A variable set replaces ours rather than standing beside it.
    ASSERT_EQ(m_launcher.launch(m_recorder, {}, {{}, {{"TAMBERLY_KEPT", "theirs"}}}), LaunchError::None);
    EXPECT_EQ(waitForRecord().fields.at("kept"), "theirs");
}

// A page opens with the stored browser (a new window where it takes one) or with xdg-open, and a missing browser
// gives its error.
TEST_F(ProcessLauncherTest, OpensAPageWithTheStoredBrowserOrTheDesktopsDefault) {
    const std::string url = "http://127.0.0.1:8642/Tamberly/index.php";
    const std::string firefox = recorder("firefox");
    const EnvironmentChange proxy =
        proxyEnvironment(ProxySetting::manual(parseProxyServers("10.1.2.3:3128").servers.value()));
    ASSERT_EQ(m_launcher.openUrl(url, firefox, proxy), LaunchError::None);
    Record record = waitForRecord();
    EXPECT_EQ(record.args, (std::vector<std::string>{"--new-window", url}));
    EXPECT_EQ(record.fields["env:http_proxy"], "http://10.1.2.3:3128");

    recorder("xdg-open");
    m_env.set("PATH", m_dir.path());
    ASSERT_EQ(m_launcher.openUrl(url, "", {}), LaunchError::None);
    EXPECT_EQ(waitForRecord().args, std::vector<std::string>{url});

    EXPECT_EQ(m_launcher.openUrl(url, m_dir.file("gone/firefox"), {}), LaunchError::PathNotFound);
    EXPECT_EQ(m_launcher.findBrowser(), firefox) << "the first known browser on PATH";
}

} // namespace
} // namespace tamberly
