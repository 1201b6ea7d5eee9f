// The Qt transfer control against a real HTTP server on 127.0.0.1.
#include "platform/qt/qt_transfer_control.h"

#include "transfer_test_support.h"

#include <QNetworkProxy>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace tamberly::test {
namespace {

using ::testing::HasSubstr;
using namespace std::chrono_literals;

TEST(QtTransferControl, ReturnsTheBodyOfAnOkAnswer) {
    HttpTestServer server;
    server.get("/Tamberly/update.php",
               [](const httplib::Request&, httplib::Response& res) { res.set_content("a:1*b:2*", "text/plain"); });
    server.start();
    QtTransferControl inet;

    const TransferResult result = inet.OpenURL(server.baseUrl() + "/Tamberly/update.php");

    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.body, "a:1*b:2*");
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].method, "GET");
    EXPECT_FALSE(inet.StillExecuting());
}

// The program switches the system proxy itself, often to a dead one; its own requests must not go through it.
TEST(QtTransferControl, BypassesTheApplicationProxy) {
    HttpTestServer server;
    server.get("/x", [](const httplib::Request&, httplib::Response& res) { res.set_content("direct", "text/plain"); });
    server.start();
    ClosedPort deadProxy;
    const QNetworkProxy saved = QNetworkProxy::applicationProxy();
    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, "127.0.0.1", static_cast<quint16>(deadProxy.port())));
    QtTransferControl inet;

    const TransferResult result = inet.OpenURL(server.baseUrl() + "/x");
    QNetworkProxy::setApplicationProxy(saved);

    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.body, "direct");
}

TEST(QtTransferControl, RefusesAddressesThatAreNotHttp) {
    QtTransferControl inet;
    for (const char* url : {"", "not a url", "ftp://127.0.0.1/Tamberly/update.php", "file:///etc/passwd", "http://"}) {
        const TransferResult result = inet.OpenURL(url);
        EXPECT_FALSE(result.ok) << url;
        EXPECT_THAT(result.error, HasSubstr("is not an http or https address")) << url;
    }
}

// While one request waits for the server, the window's events still run; a second request is refused.
TEST(QtTransferControl, IsStillExecutingWhileTheAnswerIsAwaited) {
    HttpTestServer server;
    auto gate = server.makeGate();
    server.get("/slow", [gate](const httplib::Request&, httplib::Response& res) {
        gate->wait();
        res.set_content("late", "text/plain");
    });
    server.start();
    QtTransferControl inet;

    bool seenBusy = false;
    TransferResult second;
    RequestWatcher watcher(server, 1, [&] {
        seenBusy = inet.StillExecuting();
        second = inet.OpenURL(server.baseUrl() + "/slow");
        gate->open();
    });
    const TransferResult first = inet.OpenURL(server.baseUrl() + "/slow");

    EXPECT_TRUE(seenBusy);
    EXPECT_FALSE(second.ok);
    EXPECT_EQ(second.error, "another request is still running");
    EXPECT_TRUE(first.ok) << first.error;
    EXPECT_EQ(first.body, "late");
    EXPECT_EQ(server.requestCount(), 1u);
    EXPECT_FALSE(inet.StillExecuting());
}

// Every way a request fails, with the reason the user is given.
struct FailureCase {
    const char* name;
    std::string path; // empty: a port where nobody listens
    std::string reason;
};

class QtTransferControlFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(QtTransferControlFailure, FailsWithAReason) {
    HttpTestServer server;
    addFaultyRoutes(server);
    server.start();
    ClosedPort closed;
    QtTransferControl inet(kShortStall, kShortTotal, kSmallCap);

    const std::string base = GetParam().path.empty() ? closed.url() : server.baseUrl();
    const TransferResult result = inet.OpenURL(base + GetParam().path);

    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.body.empty());
    EXPECT_THAT(result.error, HasSubstr(GetParam().reason));
    EXPECT_FALSE(inet.StillExecuting());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, QtTransferControlFailure,
    ::testing::Values(FailureCase{"Refused", "", "the server refused the connection"},
                      FailureCase{"Stalled", "/stall", "the server sent nothing for 1 second"},
                      FailureCase{"TooSlowInAll", "/drip", "did not complete the answer within 3 seconds"},
                      FailureCase{"ServerError", "/error500", "the server answered 500 Internal Server Error"},
                      FailureCase{"NotFound", "/nowhere", "the server answered 404 Not Found"},
                      FailureCase{"TooLargeByLength", "/large", "the answer is larger than 1 KiB"},
                      FailureCase{"TooLargeChunked", "/large-chunked", "the answer is larger than 1 KiB"},
                      FailureCase{"SixRedirects", "/hop/6", "the server redirected more than 5 times"},
                      FailureCase{"RedirectLoop", "/loop", "the server redirected more than 5 times"}),
    [](const auto& info) { return info.param.name; });

TEST(QtTransferControl, FollowsUpToFiveRedirects) {
    HttpTestServer server;
    addFaultyRoutes(server);
    server.start();
    QtTransferControl inet(kShortStall, kShortTotal, kSmallCap);

    const TransferResult result = inet.OpenURL(server.baseUrl() + "/hop/5");

    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.body, "10.0.0.1:80*");
    EXPECT_EQ(server.requestCount(), 6u);
}

TEST(QtTransferControl, AcceptsABodyOfExactlyTheCap) {
    HttpTestServer server;
    server.get("/full", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(static_cast<std::size_t>(kSmallCap), 'x'), "text/plain");
    });
    server.start();
    QtTransferControl inet(kShortStall, kShortTotal, kSmallCap);

    const TransferResult result = inet.OpenURL(server.baseUrl() + "/full");

    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.body.size(), static_cast<std::size_t>(kSmallCap));
}

} // namespace
} // namespace tamberly::test
