// "Download List" against list servers that misbehave on purpose: answers that never end, that grow without
// bound, that break the protocol, that redirect in circles, and lists of arbitrary bytes. Every one ends with a
// clear status text; a failed one leaves the stored list, byte for byte, as it was.
#include "commands/commands.h"
#include "core/proxy_list_store.h"
#include "core/settings.h"
#include "support/fake_view.h"
#include "support/temp_dir.h"
#include "transfer_test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QByteArray>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace tamberly::test {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAreArray;

// The stall limit is far above the trickle's pace, so only the total limit can end a trickle of body bytes.
constexpr std::chrono::milliseconds kStall = 1000ms;
constexpr std::chrono::milliseconds kTotal = 2000ms;
constexpr std::chrono::milliseconds kTricklePace = 20ms;
constexpr std::int64_t kCap = 64 * 1024;
constexpr std::chrono::milliseconds kBusyWindow = 300ms;
// The cap, the client's read buffer and what the sockets hold on the way: far below what an unthrottled reader
// takes in while the failure is noticed.
constexpr std::int64_t kMostSentBytes = 32 * 1024 * 1024;

/// A TCP server on 127.0.0.1 that answers with whatever bytes a route writes, well-formed HTTP or not. Each
/// connection runs on a thread of its own; stop() cuts every connection, so a route that writes for ever ends.
class RawServer {
public:
    /// Gets the connection and the request head (request line and headers); writes what it likes.
    using Route = std::function<void(RawServer& server, int fd, const std::string& head)>;

    RawServer() {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
            ::listen(m_listener, 16) != 0)
            throw std::runtime_error("cannot listen on 127.0.0.1");
        m_port = ntohs(address.sin_port);
    }
    ~RawServer() { stop(); }
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    /// Routes by the first folder of the request path: "/name/..." goes to route(name). Only before start().
    void route(const std::string& name, Route route) { m_routes["/" + name] = std::move(route); }

    void start() {
        m_acceptor = std::thread([this] {
            for (;;) {
                const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd < 0) {
                    if (errno == EINTR || errno == ECONNABORTED)
                        continue;
                    return;
                }
                std::lock_guard lock(m_mutex);
                if (m_stopping) {
                    ::close(fd);
                    return;
                }
                m_connections.push_back(fd);
                m_workers.emplace_back([this, fd] { serve(fd); });
            }
        });
    }

    void stop() {
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                return;
            m_stopping = true;
            for (const int fd : m_connections)
                ::shutdown(fd, SHUT_RDWR);
        }
        ::shutdown(m_listener, SHUT_RDWR);
        if (m_acceptor.joinable())
            m_acceptor.join();
        for (auto& worker : m_workers)
            worker.join();
        for (const int fd : m_connections)
            if (fd >= 0)
                ::close(fd);
        ::close(m_listener);
    }

    std::string url(const std::string& name) const { return "http://127.0.0.1:" + std::to_string(m_port) + "/" + name; }
    /// Bytes the routes have written so far, on all connections.
    std::int64_t sentBytes() const { return m_sent; }

    /// Ends the connection with a reset instead of an orderly close.
    void reset(int fd) {
        std::lock_guard lock(m_mutex);
        std::replace(m_connections.begin(), m_connections.end(), fd, -1);
        const linger abortive{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        ::close(fd);
    }

    /// Writes all of data; false once the client is gone or the server stops.
    bool send(int fd, const std::string& data) {
        std::size_t sent = 0;
        while (sent < data.size() && !m_stopping) {
            const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            sent += static_cast<std::size_t>(n);
            m_sent += n;
        }
        return sent == data.size();
    }

private:
    void serve(int fd) {
        std::string head;
        char buffer[4096];
        while (head.find("\r\n\r\n") == std::string::npos) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                return;
            head.append(buffer, static_cast<std::size_t>(n));
        }
        const std::size_t pathStart = head.find(' ') + 1;
        const std::string path = head.substr(pathStart, head.find(' ', pathStart) - pathStart);
        const auto route = m_routes.find(path.substr(0, path.find('/', 1)));
        if (route == m_routes.end())
            send(fd, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        else
            route->second(*this, fd, head);
        std::lock_guard lock(m_mutex);
        if (std::find(m_connections.begin(), m_connections.end(), fd) != m_connections.end())
            ::shutdown(fd, SHUT_WR);
    }

    int m_listener = -1;
    int m_port = 0;
    std::map<std::string, Route> m_routes;
    std::thread m_acceptor;
    mutable std::mutex m_mutex;
    std::vector<int> m_connections;
    std::vector<std::thread> m_workers;
    std::atomic<bool> m_stopping{false};
    std::atomic<std::int64_t> m_sent{0};
};

std::string okHead(const std::string& extra = "") {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n" + extra + "\r\n";
}

std::string redirect(const std::string& location) {
    return "HTTP/1.1 302 Found\r\nLocation: " + location + "\r\nContent-Length: 0\r\n\r\n";
}

/// Sends piece again and again until the client hangs up or the server stops, waiting pace between pieces.
void sendForEver(RawServer& server, int fd, const std::string& piece, std::chrono::milliseconds pace = 0ms) {
    while (server.send(fd, piece))
        std::this_thread::sleep_for(pace);
}

/// A list of every byte value: each byte but "*" as an entry of its own, then entries with line breaks, blanks at
/// either end, UTF-8 and bytes that are not UTF-8, and an empty entry.
std::string hostileList() {
    std::string list;
    for (int c = 0; c < 256; ++c) {
        if (c == '*')
            continue;
        list += static_cast<char>(c);
        list += '*';
    }
    list += std::string("10.0.0.1:80\r\n*\r\n10.0.0.2:80* 10.0.0.3:80 *\tcaf\xC3\xA9:80*\xFF\xFE\x80:81**") +
            std::string("nul\0inside:82*", 14) + "tail without separator";
    return list;
}

class HostileServer : public ::testing::Test {
protected:
    HostileServer() {
        server.route("trickle-body", [](RawServer& s, int fd, const std::string&) {
            if (s.send(fd, okHead("Connection: close\r\n")))
                sendForEver(s, fd, "*", kTricklePace);
        });
        server.route("trickle-head", [](RawServer& s, int fd, const std::string&) {
            if (s.send(fd, "HTTP/1.1 200 OK\r\nX-Slow: "))
                sendForEver(s, fd, "a", kTricklePace);
        });
        server.route("endless", [](RawServer& s, int fd, const std::string&) {
            if (s.send(fd, okHead("Connection: close\r\n")))
                sendForEver(s, fd, std::string(16 * 1024, '*'));
        });
        server.route("endless-chunked", [](RawServer& s, int fd, const std::string&) {
            if (s.send(fd, okHead("Transfer-Encoding: chunked\r\n")))
                sendForEver(s, fd, "4000\r\n" + std::string(0x4000, '*') + "\r\n");
        });
        server.route("endless-headers", [](RawServer& s, int fd, const std::string&) {
            // Paced to what Qt parses, which is slow for headers: a backlog would keep its thread busy after the
            // test.
            if (s.send(fd, "HTTP/1.1 200 OK\r\n"))
                sendForEver(s, fd, "X-More: " + std::string(1000, 'a') + "\r\n", 5ms);
        });
        server.route("deflate-bomb", [](RawServer& s, int fd, const std::string&) {
            // 16 MiB of one byte, deflated to well under the cap (qCompress puts the size in front).
            const QByteArray packed = qCompress(QByteArray(16 * 1024 * 1024, '*'), 9).mid(4);
            s.send(fd,
                   okHead("Content-Encoding: deflate\r\nContent-Length: " + std::to_string(packed.size()) + "\r\n") +
                       packed.toStdString());
        });
        server.route("truncated", [](RawServer& s, int fd, const std::string&) {
            s.send(fd, okHead("Content-Length: 100\r\n") + "10.0.0.9:80*10.0.0.8:80*");
        });
        server.route("reset", [](RawServer& s, int fd, const std::string&) {
            s.send(fd, okHead("Content-Length: 100\r\n") + "10.0.0.9:80*10.0.0.8:80*");
            s.reset(fd);
        });
        server.route("not-http", [](RawServer& s, int fd, const std::string&) {
            s.send(fd, "SSH-2.0-OpenSSH_9.2p1 Debian-2\r\n10.0.0.9:80*\r\n\r\n");
        });
        server.route("bad-chunk", [](RawServer& s, int fd, const std::string&) {
            s.send(fd, okHead("Transfer-Encoding: chunked\r\n") + "zz\r\n10.0.0.9:80*\r\n0\r\n\r\n");
        });
        server.route("loop-a",
                     [this](RawServer& s, int fd, const std::string&) { s.send(fd, redirect(server.url("loop-b"))); });
        server.route("loop-b", [this](RawServer& s, int fd, const std::string&) {
            s.send(fd, redirect(server.url("loop-a") + "/Tamberly/update.php"));
        });
        server.route("to-file",
                     [](RawServer& s, int fd, const std::string&) { s.send(fd, redirect("file:///etc/passwd")); });
        server.route("binary", [](RawServer& s, int fd, const std::string&) {
            const std::string list = hostileList();
            s.send(fd, okHead("Content-Length: " + std::to_string(list.size()) + "\r\n") + list);
        });
        server.start();

        EXPECT_EQ(settings.setBrowserPath("/usr/bin/firefox"), "");
        EXPECT_EQ(ProxyListStore(settings).save("old:1*old:2*"), "");
        view.rows = {"old:1", "old:2"};
        platform.fakes.proxy.setting = ProxySetting::manual(*parseProxyServers("on.example:1").servers);
    }

    void useServer(const std::string& base) {
        ASSERT_EQ(settings.setValue("Server", "URL", base), "");
        before = readFile(prefs);
    }

    ScopedUserHome home;
    std::string prefs = home.configDir() + "/prefs.ini";
    std::string before;
    Settings settings{prefs};
    FakeView view;
    QtTransferPlatform platform{kStall, kTotal, kCap};
    RawServer server; // stops first, so no answer outlives the test
    Commands commands{view, platform, settings};
};

struct Hostility {
    const char* route;
    std::string status;
};

class HostileAnswer : public HostileServer, public ::testing::WithParamInterface<Hostility> {};

TEST_P(HostileAnswer, EndsWithAReasonAndKeepsTheStoredList) {
    useServer(server.url(GetParam().route));
    // The window is busy for a moment while the answer comes in, as when it repaints: Qt's network thread must
    // not read on meanwhile.
    QTimer::singleShot(0, [] { std::this_thread::sleep_for(kBusyWindow); });

    commands.run(Command::DownloadList);

    EXPECT_EQ(view.status, GetParam().status);
    // The client stops reading once it has enough to fail: an endless answer is not buffered ahead.
    EXPECT_LT(server.sentBytes(), kMostSentBytes);
    EXPECT_EQ(readFile(prefs), before);
    EXPECT_THAT(view.rows, ElementsAreArray({"old:1", "old:2"}));
    EXPECT_FALSE(platform.http.busy());
    EXPECT_EQ(platform.fakes.proxy.setting.mode, ProxyMode::Off);
}

const std::string kClosedEarly =
    "List download failed: the server closed the connection before the answer was complete";

INSTANTIATE_TEST_SUITE_P(
    Servers, HostileAnswer,
    ::testing::Values(Hostility{"trickle-body",
                                "List download failed: the server did not complete the answer within 2 seconds"},
                      Hostility{"trickle-head", "List download failed: the server sent nothing for 1 second"},
                      Hostility{"endless", "List download failed: the answer is larger than 64 KiB"},
                      Hostility{"endless-chunked", "List download failed: the answer is larger than 64 KiB"},
                      Hostility{"endless-headers", "List download failed: the server sent nothing for 1 second"},
                      Hostility{"deflate-bomb", "List download failed: the server's answer could not be decoded"},
                      Hostility{"truncated", kClosedEarly}, Hostility{"reset", kClosedEarly},
                      Hostility{"not-http", kClosedEarly},
                      Hostility{"bad-chunk", "The server sent an empty list; nothing changed."},
                      Hostility{"loop-a", "List download failed: the server redirected more than 5 times"},
                      Hostility{"to-file", "List download failed: the server redirected to \"file:///etc/passwd\""}),
    [](const auto& info) {
        std::string name = info.param.route;
        std::erase(name, '-');
        return name;
    });

// Bytes the cipher has no symbol for, line breaks, NUL and bytes above 127 are stored and read back exactly, so
// the list shown after the next start is the one shown now.
TEST_F(HostileServer, AnyBytesInTheListAreStoredAndReloadedExactly) {
    useServer(server.url("binary"));

    commands.run(Command::DownloadList);

    ASSERT_EQ(view.status, "List downloaded from server.");
    const std::string list = hostileList();
    const auto entries = splitListText(list);
    const std::vector<std::string> expected(entries.begin(), entries.end());
    ASSERT_EQ(expected.size(), 255u + 7u);
    EXPECT_EQ(view.rows, expected);

    // As the next start reads it.
    Settings reread(prefs);
    const std::string stored = ProxyListStore(reread).load();
    EXPECT_EQ(stored, list);
    const auto reloaded = splitListText(stored);
    EXPECT_EQ(std::vector<std::string>(reloaded.begin(), reloaded.end()), expected);
    EXPECT_EQ(reread.browserPath(), "/usr/bin/firefox");
    EXPECT_EQ(reread.value("Server", "URL"), server.url("binary"));
}

} // namespace
} // namespace tamberly::test
