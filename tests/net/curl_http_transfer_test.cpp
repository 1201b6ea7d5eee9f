// libcurl's client, the program's own requests, against real HTTP servers on 127.0.0.1.
#include "net/curl_http_transfer.h"

#include "platform/scoped_env.h"
#include "support/gzip_text.h"
#include "support/raw_http_server.h"
#include "support/transfer_routes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

namespace tamberly::test {
namespace {

using ::testing::HasSubstr;

constexpr TransferLimits kShort{kShortStall, kShortTotal, kSmallCap};

TEST(CurlHttpTransfer, ReturnsTheBodyOfAnOkAnswer) {
    HttpTestServer server;
    server.get("/Tamberly/update.php",
               [](const httplib::Request&, httplib::Response& res) { res.set_content("a:1*b:2*", "text/plain"); });
    server.start();
    CurlHttpTransfer http;

    const TransferResult result = http.get(server.baseUrl() + "/Tamberly/update.php");

    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.body, "a:1*b:2*");
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].method, "GET");
    EXPECT_FALSE(http.busy());
}

// The program switches the proxy itself, often to a dead one, and the browser it starts gets that proxy in its
// environment; the program's own requests go through neither.
TEST(CurlHttpTransfer, GoesDirectWhateverProxyTheEnvironmentNames) {
    HttpTestServer server;
    server.get("/x", [](const httplib::Request&, httplib::Response& res) { res.set_content("direct", "text/plain"); });
    server.start();
    ClosedPort deadProxy;
    ScopedEnv env;
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        env.set(name, deadProxy.url());
    env.set("no_proxy", "");
    env.set("NO_PROXY", "");
    CurlHttpTransfer http;

    const TransferResult result = http.get(server.baseUrl() + "/x");

    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.body, "direct");
}

TEST(CurlHttpTransfer, RefusesAddressesThatAreNotHttp) {
    CurlHttpTransfer http;
    for (const char* url : {"", "not a url", "ftp://127.0.0.1/Tamberly/update.php", "file:///etc/passwd", "http://"}) {
        const TransferResult result = http.get(url);
        EXPECT_FALSE(result.ok) << url;
        EXPECT_THAT(result.error, HasSubstr("is not an http or https address")) << url;
    }
}

/// Runs an action on the waiting thread, as a window runs its events, then waits to be woken.
class ActingWait final : public TransferWait {
public:
    explicit ActingWait(std::function<void()> action) : m_action(std::move(action)) {}
    bool run() override {
        if (m_action)
            m_action();
        std::unique_lock lock(m_mutex);
        m_woken.wait(lock, [this] { return m_done; });
        return true;
    }
    void wake() override {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_woken.notify_all();
    }

private:
    std::function<void()> m_action;
    std::mutex m_mutex;
    std::condition_variable m_woken;
    bool m_done = false;
};

// While one request waits for the server, the caller's thread runs on; a second request is refused.
TEST(CurlHttpTransfer, IsBusyWhileTheAnswerIsAwaited) {
    HttpTestServer server;
    auto gate = server.makeGate();
    server.get("/slow", [gate](const httplib::Request&, httplib::Response& res) {
        gate->wait();
        res.set_content("late", "text/plain");
    });
    server.start();
    bool seenBusy = false;
    TransferResult second;
    CurlHttpTransfer* self = nullptr;
    CurlHttpTransfer http([&]() -> std::unique_ptr<TransferWait> {
        return std::make_unique<ActingWait>([&] {
            while (server.requestCount() == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            seenBusy = self->busy();
            second = self->get(server.baseUrl() + "/slow");
            gate->open();
        });
    });
    self = &http;

    const TransferResult first = http.get(server.baseUrl() + "/slow");

    EXPECT_TRUE(seenBusy);
    EXPECT_FALSE(second.ok);
    EXPECT_EQ(second.error, "another request is still running");
    EXPECT_TRUE(first.ok) << first.error;
    EXPECT_EQ(first.body, "late");
    EXPECT_EQ(server.requestCount(), 1u);
    EXPECT_FALSE(http.busy());
}

TEST(CurlHttpTransfer, FollowsUpToFiveRedirects) {
    HttpTestServer server;
    addFaultyRoutes(server);
    server.start();
    CurlHttpTransfer http({}, kShort);

    const TransferResult result = http.get(server.baseUrl() + "/hop/5");

    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.body, "10.0.0.1:80*");
    EXPECT_EQ(server.requestCount(), 6u);
}

TEST(CurlHttpTransfer, AcceptsABodyOfExactlyTheCap) {
    HttpTestServer server;
    server.get("/full", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(static_cast<std::size_t>(kSmallCap), 'x'), "text/plain");
    });
    server.start();
    CurlHttpTransfer http({}, kShort);

    const TransferResult result = http.get(server.baseUrl() + "/full");

    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.body.size(), static_cast<std::size_t>(kSmallCap));
}

// Only a refusal's short plain-text body is handed on as the server's reason; error pages and long texts are not.
TEST(CurlHttpTransfer, HandsOnTheReasonOfARefusal) {
    const std::string longText(static_cast<std::size_t>(transfer_limits::kMaxReasonBytes) + 1, 'x');
    const struct {
        const char* path;
        int status;
        std::string body;
        const char* type;
        std::string reason;
    } cases[] = {
        {"/plain", 400, "host is missing\n", "text/plain", "host is missing\n"},
        {"/charset", 403, "not allowed", "Text/Plain; charset=utf-8", "not allowed"},
        {"/html", 400, "<html><body>Bad</body></html>", "text/html", ""},
        {"/long", 404, longText, "text/plain", ""},
        {"/server-error", 500, "database is locked", "text/plain", ""},
    };
    HttpTestServer server;
    for (const auto& c : cases)
        server.get(c.path, [&c](const httplib::Request&, httplib::Response& res) {
            res.status = c.status;
            res.set_content(c.body, c.type);
        });
    server.start();
    CurlHttpTransfer http;

    for (const auto& c : cases) {
        const TransferResult result = http.get(server.baseUrl() + c.path);
        EXPECT_FALSE(result.ok) << c.path;
        EXPECT_THAT(result.error, HasSubstr("the server answered " + std::to_string(c.status))) << c.path;
        EXPECT_EQ(result.serverReason, c.reason) << c.path;
    }
}

// Answers whose heads and codings sit on either side of what the program reads, each from a raw server.
struct RawCase {
    const char* name;
    std::string answer;
    std::string error; // empty: the answer is ok...
    std::string body;  // ...with this body
};

// Names the case in failure messages.
void PrintTo(const RawCase& c, std::ostream* os) {
    *os << c.name;
}

std::string answer(const std::string& fields, const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
           fields + "\r\n" + body;
}

/// An answer with `count` fields in all: Content-Type, Content-Length and the rest padding.
std::string withFields(int count) {
    std::string fields;
    for (int i = 2; i < count; ++i)
        fields += "X-Field-" + std::to_string(i) + ": x\r\n";
    return answer(fields, "a:1*");
}

/// An answer whose head, status line and blank line included, is `bytes` long.
std::string withHeadBytes(std::int64_t bytes) {
    const std::string shortest = answer("X-Pad: \r\n", "");
    const std::string pad(static_cast<std::size_t>(bytes) - shortest.size(), 'p');
    return answer("X-Pad: " + pad + "\r\n", "a:1*");
}

const std::string kHeadTooLarge = "the answer's header is larger than 64 KiB or 100 fields";
const std::string kList = "10.0.0.1:80*10.0.0.2:3128*";

class RawAnswers : public ::testing::TestWithParam<RawCase> {};

TEST_P(RawAnswers, AreReadOrRefusedWithTheirReason) {
    RawServer server;
    std::string requestHead;
    server.route("x", [&](RawServer& s, int fd, const std::string& head) {
        requestHead = head;
        s.send(fd, GetParam().answer);
    });
    server.start();
    CurlHttpTransfer http({}, {kShortStall, kShortTotal, 64 * 1024});

    const TransferResult result = http.get(server.url("x"));

    EXPECT_EQ(result.ok, GetParam().error.empty()) << result.error;
    EXPECT_EQ(result.error, GetParam().error);
    EXPECT_EQ(result.body, GetParam().body);
    // Compression is asked for only in the codings the program reads.
    EXPECT_THAT(requestHead, HasSubstr("\r\nAccept-Encoding: gzip, deflate\r\n"));
    // Whatever the outcome, the connection is closed at once: the server sees the hang-up.
    EXPECT_TRUE(server.waitForClosed(1));
}

INSTANTIATE_TEST_SUITE_P(
    Heads, RawAnswers,
    ::testing::Values(RawCase{"HundredFields", withFields(100), "", "a:1*"},
                      RawCase{"HundredAndOneFields", withFields(101), kHeadTooLarge, ""},
                      RawCase{"HeadOf64KiB", withHeadBytes(64 * 1024), "", "a:1*"},
                      RawCase{"HeadOneByteLonger", withHeadBytes(64 * 1024 + 1), kHeadTooLarge, ""},
                      RawCase{"OneFieldOf200KiB", answer("X-Long: " + std::string(200 * 1024, 'a') + "\r\n", ""),
                              kHeadTooLarge, ""}),
    [](const auto& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Codings, RawAnswers,
    ::testing::Values(
        RawCase{"Gzip", answer("Content-Encoding: gzip\r\n", gzipped(kList)), "", kList},
        RawCase{"XGzip", answer("Content-Encoding: x-gzip\r\n", gzipped(kList)), "", kList},
        RawCase{"Deflate", answer("Content-Encoding: Deflate\r\n", deflated(kList)), "", kList},
        RawCase{"Identity", answer("Content-Encoding: identity\r\n", kList), "", kList},
        RawCase{"IdentityThenGzip", answer("Content-Encoding: identity, gzip\r\n", gzipped(kList)), "", kList},
        RawCase{"GzipTwice", answer("Content-Encoding: gzip, gzip\r\n", gzipped(gzipped(kList))),
                "the answer is encoded as \"gzip, gzip\", which cannot be read", ""},
        RawCase{"GzipInTwoFields",
                answer("Content-Encoding: gzip\r\nContent-Encoding: gzip\r\n", gzipped(gzipped(kList))),
                "the answer is encoded as \"gzip, gzip\", which cannot be read", ""},
        RawCase{"Brotli", answer("Content-Encoding: br\r\n", "\x0b\x02\x80" + kList + "\x03"),
                "the answer is encoded as \"br\", which cannot be read", ""},
        RawCase{"CorruptGzip",
                answer("Content-Encoding: gzip\r\n", std::string("\x1f\x8b\x08\0\0\0\0\0\0\xff", 10) + "no deflate"),
                "the server's answer could not be decoded", ""},
        // 64 KiB that expand to 64 MiB: refused once the decoded bytes pass the cap.
        RawCase{"GzipBomb", answer("Content-Encoding: gzip\r\n", gzipRepeated(std::string(1024 * 1024, '*'), 64)),
                "the answer is larger than 64 KiB", ""},
        // The length the server names counts when nothing is decoded.
        RawCase{"LongerThanTheCapAnnounced",
                "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(64 * 1024 + 1) + "\r\n\r\n" + kList,
                "the answer is larger than 64 KiB", ""}),
    [](const auto& info) { return info.param.name; });

} // namespace
} // namespace tamberly::test
