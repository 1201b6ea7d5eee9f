// The WinINet transfer against a real HTTP server on 127.0.0.1, under Wine.
#include "platform/windows/wininet_transfer.h"

#include "platform/windows/internet_settings.h"
#include "platform/windows/win32_registry_key.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

#include <winsock2.h>

#include <windows.h>

namespace tamberly {
namespace {

using namespace std::chrono_literals;

constexpr auto kStall = 1000ms;
constexpr auto kTotal = 4000ms;
constexpr std::int64_t kCap = 1024;
constexpr WinInetLimits kLimits{kStall, kTotal, kCap};

// A small HTTP server on 127.0.0.1 (a port the system picks) over Winsock: each connection gets the raw answer the
// route gives for the request's path and is then closed.
class RawServer {
public:
    using Route = std::function<std::string(const std::string& path)>;

    explicit RawServer(Route route) : m_route(std::move(route)) {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
        m_listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listener, 16) != 0)
            throw std::runtime_error("cannot listen on 127.0.0.1");
        int size = sizeof address;
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~RawServer() {
        m_stopping = true;
        ::closesocket(m_listener);
        m_thread.join();
        for (auto& worker : m_workers)
            worker.join();
        ::WSACleanup();
    }
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    int port() const { return m_port; }
    std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(m_port); }
    int requestCount() const { return m_requests; }
    bool stopping() const { return m_stopping; }

private:
    void serve() {
        for (;;) {
            const SOCKET client = ::accept(m_listener, nullptr, nullptr);
            if (client == INVALID_SOCKET)
                return;
            m_workers.emplace_back([this, client] { answer(client); });
        }
    }
    void answer(SOCKET client) {
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const int got = ::recv(client, buffer, sizeof buffer, 0);
            if (got <= 0)
                break;
            request.append(buffer, static_cast<std::size_t>(got));
        }
        ++m_requests;
        const auto start = request.find(' ') + 1;
        const std::string reply = m_route(request.substr(start, request.find(' ', start) - start));
        ::send(client, reply.data(), static_cast<int>(reply.size()), 0);
        ::shutdown(client, SD_SEND);
        while (::recv(client, buffer, sizeof buffer, 0) > 0) {
        }
        ::closesocket(client);
    }

    Route m_route;
    SOCKET m_listener = INVALID_SOCKET;
    int m_port = 0;
    std::atomic<int> m_requests{0};
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
    std::vector<std::thread> m_workers;
};

std::string ok(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

/// An ok answer with fields of its own ahead of the body.
std::string okWith(const std::string& fields, const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n" + fields + "\r\n" + body;
}

/// An ok answer with `count` fields in all.
std::string withFields(int count) {
    std::string fields;
    for (int i = 3; i < count; ++i)
        fields += "X-Field-" + std::to_string(i) + ": x\r\n";
    return okWith(fields, "a:1*");
}

std::string redirect(const std::string& location) {
    return "HTTP/1.1 302 Found\r\nLocation: " + location + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}

// A port on 127.0.0.1 where nothing listens.
int closedPort() {
    RawServer server([](const std::string&) { return std::string(); });
    return server.port();
}

const std::string kHeadTooLarge = "the answer's header is larger than 64 KiB or 100 fields";

struct Route {
    const char* path;
    std::string error; // empty: the answer is ok
    std::string body;
};

TEST(WinInetTransfer, OutcomesAndTextsAsOnEveryPlatform) {
    const std::string cap(static_cast<std::size_t>(kCap), 'x');
    std::atomic<bool> stopping{false};
    RawServer server([&](const std::string& path) -> std::string {
        if (path == "/Tamberly/update.php")
            return ok("a:1*b:2*");
        if (path == "/full")
            return ok(cap);
        if (path == "/large")
            return ok(cap + "x");
        if (path == "/silent") {
            for (int i = 0; i < 60 && !stopping; ++i)
                std::this_thread::sleep_for(50ms);
            return ok("late");
        }
        if (path.starts_with("/hop/")) {
            const int left = std::stoi(path.substr(5));
            return left == 0 ? ok("10.0.0.1:80*") : redirect("/hop/" + std::to_string(left - 1));
        }
        if (path == "/loop")
            return redirect("/loop");
        if (path == "/to-file")
            return redirect("file:///C:/x");
        if (path == "/hundred-fields")
            return withFields(100);
        if (path == "/hundred-and-one-fields")
            return withFields(101);
        if (path == "/long-head") {
            // Fewer fields than the cap, but longer in all; each short, as Wine's WinINet cuts a long line short.
            std::string fields;
            for (int i = 0; i < 90; ++i)
                fields += "X-Pad-" + std::to_string(i) + ": " + std::string(800, 'p') + "\r\n";
            return okWith(fields, "a:1*");
        }
        // None of these is asked for, so none is decoded: taken as they are, the bytes would pass for a list.
        if (path == "/gzip-twice")
            return okWith("Content-Encoding: gzip, gzip\r\n", "\x1f\x8b\x08*packed*");
        if (path == "/gzip-bomb")
            return okWith("Content-Encoding: gzip\r\n", std::string(1024 * 1024, '*'));
        if (path == "/snappy")
            return okWith("Content-Encoding: snappy\r\n", "10.0.0.9:80*");
        if (path == "/identity")
            return okWith("Content-Encoding: identity\r\n", "10.0.0.9:80*");
        return "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    });
    WinInetTransfer inet({}, kLimits);

    const Route routes[] = {
        {"/Tamberly/update.php", "", "a:1*b:2*"},
        {"/full", "", cap},
        {"/hop/5", "", "10.0.0.1:80*"},
        {"/missing", "the server answered 404 Not Found", ""},
        {"/large", "the answer is larger than 1 KiB", ""},
        {"/silent", "the server sent nothing for 1 second", ""},
        {"/loop", "the server redirected more than 5 times", ""},
        {"/to-file", "the server redirected to \"file:///C:/x\"", ""},
        {"/hundred-fields", "", "a:1*"},
        {"/hundred-and-one-fields", kHeadTooLarge, ""},
        {"/long-head", kHeadTooLarge, ""},
        {"/gzip-twice", "the answer is encoded as \"gzip, gzip\", which cannot be read", ""},
        {"/gzip-bomb", "the answer is encoded as \"gzip\", which cannot be read", ""},
        {"/snappy", "the answer is encoded as \"snappy\", which cannot be read", ""},
        {"/identity", "", "10.0.0.9:80*"},
    };
    for (const auto& route : routes) {
        const TransferResult result = inet.get(server.baseUrl() + route.path);
        EXPECT_EQ(result.ok, route.error.empty()) << route.path << ": " << result.error;
        EXPECT_EQ(result.error, route.error) << route.path;
        EXPECT_EQ(result.body, route.body) << route.path;
        EXPECT_FALSE(inet.busy());
    }
    stopping = true;
    const TransferResult refused = inet.get("http://127.0.0.1:" + std::to_string(closedPort()) + "/x");
    EXPECT_EQ(refused.error, "the server refused the connection");
    for (const char* url : {"", "not a url", "ftp://127.0.0.1/Tamberly/update.php", "file:///C:/x", "http://"})
        EXPECT_THAT(inet.get(url).error, ::testing::HasSubstr("is not an http or https address")) << url;
}

std::string answer(const std::string& status, const std::string& type, const std::string& body) {
    return "HTTP/1.1 " + status + "\r\nContent-Type: " + type + "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

// The list server says why it refused a proposal in a short text of its own; nothing else passes for such a reason.
TEST(WinInetTransfer, AShortPlainTextRefusalIsTheServersReason) {
    const std::string longest(static_cast<std::size_t>(transfer_limits::kMaxReasonBytes), 'x');
    const struct {
        const char* path;
        std::string answer;
        std::string error;
        std::string reason;
    } cases[] = {
        {"/plain", answer("403 Forbidden", "text/plain; charset=utf-8", "this proxy is listed already"),
         "the server answered 403 Forbidden", "this proxy is listed already"},
        {"/longest", answer("400 Bad Request", "Text/Plain", longest), "the server answered 400 Bad Request", longest},
        {"/too-long", answer("400 Bad Request", "text/plain", longest + "x"), "the server answered 400 Bad Request",
         ""},
        {"/page", answer("404 Not Found", "text/html", "<p>not here</p>"), "the server answered 404 Not Found", ""},
        {"/broken", answer("500 Internal Server Error", "text/plain", "oops"),
         "the server answered 500 Internal Server Error", ""},
    };
    RawServer server([&](const std::string& path) {
        for (const auto& c : cases)
            if (path == c.path)
                return c.answer;
        return std::string();
    });
    WinInetTransfer inet({}, {kStall, kTotal, 4 * kCap});
    for (const auto& c : cases) {
        const TransferResult result = inet.get(server.baseUrl() + c.path);
        EXPECT_FALSE(result.ok) << c.path;
        EXPECT_EQ(result.error, c.error) << c.path;
        EXPECT_EQ(result.serverReason, c.reason) << c.path;
        EXPECT_EQ(result.body, "") << c.path;
    }
}

// The program switches the system proxy itself, often to a dead one; its own requests must not go through it.
TEST(WinInetTransfer, GoesDirectWhateverProxyIsInForce) {
    RawServer server([](const std::string&) { return ok("direct"); });
    // The real per-user Internet Settings, with the real notification to running programs.
    InternetSettings settings;
    const CurrentSetting saved = settings.current();
    ASSERT_TRUE(saved.setting) << saved.why;
    const ServersParse dead = parseProxyServers("127.0.0.1:" + std::to_string(closedPort()));
    ASSERT_TRUE(settings.apply(ProxySetting::manual(*dead.servers)).recorded());

    const TransferResult result = WinInetTransfer({}, kLimits).get(server.baseUrl() + "/x");

    EXPECT_TRUE(settings.apply(*saved.setting).recorded());
    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.body, "direct");
}

// While one request waits, the thread's messages are dispatched (the window repaints and takes commands), each
// offered to the window's keys first; a second request started from one of them is refused.
WinInetTransfer* g_inet = nullptr;
bool g_seenBusy = false;
TransferResult g_second;
std::string g_base;

constexpr UINT kWindowKey = WM_APP + 7;

void CALLBACK duringTheRequest(HWND, UINT, UINT_PTR timer, DWORD) {
    ::KillTimer(nullptr, timer);
    ::PostThreadMessageW(::GetCurrentThreadId(), kWindowKey, 0, 0);
    g_seenBusy = g_inet->busy();
    g_second = g_inet->get(g_base + "/slow");
}

TEST(WinInetTransfer, DispatchesMessagesAndIsBusyWhileItWaits) {
    RawServer server([](const std::string&) {
        std::this_thread::sleep_for(600ms);
        return ok("late");
    });
    int keys = 0;
    WinInetTransfer inet(
        [&](MSG& message) {
            keys += message.message == kWindowKey;
            return message.message == kWindowKey;
        },
        kLimits);
    g_inet = &inet;
    g_base = server.baseUrl();
    ::SetTimer(nullptr, 0, 100, duringTheRequest);

    const TransferResult first = inet.get(server.baseUrl() + "/slow");

    EXPECT_TRUE(first.ok) << first.error;
    EXPECT_EQ(first.body, "late");
    EXPECT_TRUE(g_seenBusy);
    EXPECT_EQ(g_second.error, "another request is still running");
    EXPECT_EQ(server.requestCount(), 1);
    EXPECT_EQ(keys, 1) << "the window's keys saw the key message";
    EXPECT_FALSE(inet.busy());
}

} // namespace
} // namespace tamberly
