// Qt's HTTP client, the program's own requests, against a real HTTP server on 127.0.0.1.
#include "app/qt_http_transfer.h"

#include "transfer_test_support.h"

#include <QNetworkProxy>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace tamberly::test {
namespace {

using ::testing::HasSubstr;

TEST(QtHttpTransfer, ReturnsTheBodyOfAnOkAnswer) {
    HttpTestServer server;
    server.get("/Tamberly/update.php",
               [](const httplib::Request&, httplib::Response& res) { res.set_content("a:1*b:2*", "text/plain"); });
    server.start();
    QtHttpTransfer http;

    const TransferResult result = http.get(server.baseUrl() + "/Tamberly/update.php");

    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.body, "a:1*b:2*");
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].method, "GET");
    EXPECT_FALSE(http.busy());
}

// The program switches the system proxy itself, often to a dead one; its own requests must not go through it.
TEST(QtHttpTransfer, BypassesTheApplicationProxy) {
    HttpTestServer server;
    server.get("/x", [](const httplib::Request&, httplib::Response& res) { res.set_content("direct", "text/plain"); });
    server.start();
    ClosedPort deadProxy;
    const QNetworkProxy saved = QNetworkProxy::applicationProxy();
    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, "127.0.0.1", static_cast<quint16>(deadProxy.port())));
    QtHttpTransfer http;

    const TransferResult result = http.get(server.baseUrl() + "/x");
    QNetworkProxy::setApplicationProxy(saved);

    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.body, "direct");
}

TEST(QtHttpTransfer, RefusesAddressesThatAreNotHttp) {
    QtHttpTransfer http;
    for (const char* url : {"", "not a url", "ftp://127.0.0.1/Tamberly/update.php", "file:///etc/passwd", "http://"}) {
        const TransferResult result = http.get(url);
        EXPECT_FALSE(result.ok) << url;
        EXPECT_THAT(result.error, HasSubstr("is not an http or https address")) << url;
    }
}

// While one request waits for the server, the window's events still run; a second request is refused.
TEST(QtHttpTransfer, IsBusyWhileTheAnswerIsAwaited) {
    HttpTestServer server;
    auto gate = server.makeGate();
    server.get("/slow", [gate](const httplib::Request&, httplib::Response& res) {
        gate->wait();
        res.set_content("late", "text/plain");
    });
    server.start();
    QtHttpTransfer http;

    bool seenBusy = false;
    TransferResult second;
    RequestWatcher watcher(server, 1, [&] {
        seenBusy = http.busy();
        second = http.get(server.baseUrl() + "/slow");
        gate->open();
    });
    const TransferResult first = http.get(server.baseUrl() + "/slow");

    EXPECT_TRUE(seenBusy);
    EXPECT_FALSE(second.ok);
    EXPECT_EQ(second.error, "another request is still running");
    EXPECT_TRUE(first.ok) << first.error;
    EXPECT_EQ(first.body, "late");
    EXPECT_EQ(server.requestCount(), 1u);
    EXPECT_FALSE(http.busy());
}

TEST(QtHttpTransfer, FollowsUpToFiveRedirects) {
    HttpTestServer server;
    addFaultyRoutes(server);
    server.start();
    QtHttpTransfer http(kShortStall, kShortTotal, kSmallCap);

    const TransferResult result = http.get(server.baseUrl() + "/hop/5");

    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.body, "10.0.0.1:80*");
    EXPECT_EQ(server.requestCount(), 6u);
}

TEST(QtHttpTransfer, AcceptsABodyOfExactlyTheCap) {
    HttpTestServer server;
    server.get("/full", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(static_cast<std::size_t>(kSmallCap), 'x'), "text/plain");
    });
    server.start();
    QtHttpTransfer http(kShortStall, kShortTotal, kSmallCap);

    const TransferResult result = http.get(server.baseUrl() + "/full");

    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.body.size(), static_cast<std::size_t>(kSmallCap));
}

// Only a refusal's short plain-text body is handed on as the server's reason; error pages and long texts are not.
TEST(QtHttpTransfer, HandsOnTheReasonOfARefusal) {
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
    QtHttpTransfer http;

    for (const auto& c : cases) {
        const TransferResult result = http.get(server.baseUrl() + c.path);
        EXPECT_FALSE(result.ok) << c.path;
        EXPECT_THAT(result.error, HasSubstr("the server answered " + std::to_string(c.status))) << c.path;
        EXPECT_EQ(result.serverReason, c.reason) << c.path;
    }
}

} // namespace
} // namespace tamberly::test
