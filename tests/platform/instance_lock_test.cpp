// One program per settings folder: the first start holds the lock and answers later starts on its socket; another
// settings folder is another program; a first start that ended, however, leaves the lock to the next.
#include "platform/linux/instance_lock.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <csignal>
#include <future>
#include <string>

#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tamberly::test {
namespace {

using Role = InstanceLock::Role;
using namespace std::chrono_literals;

class InstanceLockTest : public ::testing::Test {
protected:
    InstanceLockTest() { ::chmod(m_dir.path().c_str(), 0700); }
    std::string runtime() const { return m_dir.path(); }
    std::string settings(const std::string& name) const { return m_dir.file("config/" + name); }

    // The first start's side: waits for a request on its socket and takes it.
    static std::optional<std::string> takeWithin(InstanceLock& first, std::chrono::milliseconds limit) {
        pollfd entry{first.listener(), POLLIN, 0};
        if (::poll(&entry, 1, static_cast<int>(limit.count())) != 1)
            return std::nullopt;
        return first.takeRequest();
    }

    TempDir m_dir;
};

TEST_F(InstanceLockTest, ALaterStartWithTheSameFolderAsksTheFirstAndAnotherFolderIsAProgramOfItsOwn) {
    InstanceLock first(settings("a"), runtime());
    ASSERT_EQ(first.role(), Role::First) << first.why();
    EXPECT_GE(first.listener(), 0);

    // The same folder however it is spelled.
    for (const std::string& same : {settings("a"), settings("a") + "/", m_dir.path() + "/config/./b/../a"}) {
        SCOPED_TRACE(same);
        InstanceLock later(same, runtime());
        ASSERT_EQ(later.role(), Role::Second);
        EXPECT_EQ(later.listener(), -1);
        auto asked = std::async(std::launch::async, [&] { return later.askFirstToShow("token-1234_TIME5"); });
        EXPECT_EQ(takeWithin(first, 5s), "token-1234_TIME5");
        EXPECT_TRUE(asked.get()) << later.why();
    }

    InstanceLock untokened(settings("a"), runtime());
    auto asked = std::async(std::launch::async, [&] { return untokened.askFirstToShow(""); });
    EXPECT_EQ(takeWithin(first, 5s), "");
    EXPECT_TRUE(asked.get());

    InstanceLock other(settings("b"), runtime());
    EXPECT_EQ(other.role(), Role::First) << other.why();
    EXPECT_NE(other.socketPath(), first.socketPath());
}

// A first start that takes no request (its window is stuck) leaves a later one waiting only so long, saying why.
TEST_F(InstanceLockTest, AFirstStartThatDoesNotAnswerIsNamedAfterTheLimit) {
    InstanceLock first(settings("a"), runtime());
    ASSERT_EQ(first.role(), Role::First);
    InstanceLock later(settings("a"), runtime());
    EXPECT_FALSE(later.askFirstToShow("", 300ms));
    EXPECT_EQ(later.why(), "it did not answer within 300 ms");
}

// Nothing but a request is answered, and a stranger's line does not call the window forward.
TEST_F(InstanceLockTest, NothingButARequestIsAnswered) {
    InstanceLock first(settings("a"), runtime());
    ASSERT_EQ(first.role(), Role::First);
    auto stranger = std::async(std::launch::async, [&] {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        first.socketPath().copy(address.sun_path, sizeof address.sun_path - 1);
        std::string answer;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::send(fd, "hello\n", 6, MSG_NOSIGNAL) == 6) {
            char buffer[16];
            for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
                answer.append(buffer, static_cast<std::size_t>(n));
        }
        ::close(fd);
        return answer;
    });
    EXPECT_EQ(takeWithin(first, 5s), std::nullopt);
    EXPECT_EQ(stranger.get(), "");
}

// The lock is the kernel's: a first start killed outright, or one whose browser lives on after it, leaves it to the
// next start, which takes over the socket the killed one left behind.
TEST_F(InstanceLockTest, AFirstStartThatEndedLeavesTheLockToTheNext) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        InstanceLock held(settings("a"), runtime());
        const char role = held.role() == Role::First ? '1' : '0';
        [[maybe_unused]] const auto written = ::write(ready[1], &role, 1);
        ::pause();
        ::_exit(0);
    }
    char role = 0;
    ASSERT_EQ(::read(ready[0], &role, 1), 1);
    ASSERT_EQ(role, '1');
    EXPECT_EQ(InstanceLock(settings("a"), runtime()).role(), Role::Second);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);

    pid_t browser = 0;
    {
        InstanceLock next(settings("a"), runtime());
        ASSERT_EQ(next.role(), Role::First) << next.why();
        InstanceLock later(settings("a"), runtime());
        auto asked = std::async(std::launch::async, [&] { return later.askFirstToShow(""); });
        EXPECT_EQ(takeWithin(next, 5s), "") << "the socket was not taken over";
        EXPECT_TRUE(asked.get()) << later.why();
        // A program it starts (the browser) lives on after it, and must not keep the lock.
        const char* argv[] = {"sleep", "30", nullptr};
        ASSERT_EQ(::posix_spawnp(&browser, "sleep", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    }
    EXPECT_EQ(InstanceLock(settings("a"), runtime()).role(), Role::First);
    // A first start that ends normally leaves neither its lock file nor its socket.
    for (const auto& entry : std::filesystem::directory_iterator(runtime()))
        ADD_FAILURE() << "left behind: " << entry.path();
    ::kill(browser, SIGKILL);
    ::waitpid(browser, nullptr, 0);
}

TEST_F(InstanceLockTest, WithoutAPrivateRuntimeFolderTheProgramRunsUnguarded) {
    const std::string shared = m_dir.file("shared");
    ::mkdir(shared.c_str(), 0777);
    ::chmod(shared.c_str(), 0777);
    const struct {
        std::string runtime;
        std::string why;
    } cases[] = {
        {"", "no runtime folder ($XDG_RUNTIME_DIR)"},
        {"relative/run", "no runtime folder ($XDG_RUNTIME_DIR)"},
        {m_dir.file("missing"),
         "the runtime folder " + m_dir.file("missing") + " is not a private folder of this user"},
        {shared, "the runtime folder " + shared + " is not a private folder of this user"},
    };
    for (const auto& c : cases) {
        InstanceLock lock(settings("a"), c.runtime);
        EXPECT_EQ(lock.role(), Role::Unguarded) << c.runtime;
        EXPECT_EQ(lock.why(), c.why);
        EXPECT_EQ(lock.listener(), -1);
        EXPECT_FALSE(lock.askFirstToShow(""));
    }
}

} // namespace
} // namespace tamberly::test
