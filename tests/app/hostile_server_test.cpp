// "Download List" against list servers that misbehave on purpose: answers that never end, that grow without
// bound, heads that never end, compressed answers that expand without bound or in codings the program does not
// read, answers that break the protocol, that redirect in circles, and lists of arbitrary bytes. Every one ends at
// once with a clear status text, closes its connection, and leaves the stored list, byte for byte, and the rows as
// they were; the next request and quitting are not held up.
#include "commands/commands.h"
#include "core/proxy_list_store.h"
#include "core/settings.h"
#include "support/fake_view.h"
#include "support/gzip_text.h"
#include "support/raw_http_server.h"
#include "support/temp_dir.h"
#include "transfer_test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
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

std::string okHead(const std::string& extra = "") {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n" + extra + "\r\n";
}

std::string redirect(const std::string& location) {
    return "HTTP/1.1 302 Found\r\nLocation: " + location + "\r\nContent-Length: 0\r\n\r\n";
}

/// A list twice gzipped whose compressed bytes hold a "*", so that taken as they are they would pass for a list.
std::string twiceGzippedList() {
    std::string list;
    for (int i = 1;; ++i) {
        list += "10.0.0." + std::to_string(i % 250) + ":" + std::to_string(8000 + i) + "*";
        const std::string twice = gzipped(gzipped(list));
        if (twice.find('*') != std::string::npos)
            return twice;
    }
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
            if (s.send(fd, "HTTP/1.1 200 OK\r\n"))
                sendForEver(s, fd, "X-More: " + std::string(1000, 'a') + "\r\n");
        });
        server.route("endless-header-line", [](RawServer& s, int fd, const std::string&) {
            if (s.send(fd, "HTTP/1.1 200 OK\r\nX-More: "))
                sendForEver(s, fd, std::string(16 * 1024, 'a'));
        });
        server.route("deflate-bomb", [](RawServer& s, int fd, const std::string&) {
            // 16 MiB of one byte, deflated to well under the cap (qCompress puts the size in front).
            const QByteArray packed = qCompress(QByteArray(16 * 1024 * 1024, '*'), 9).mid(4);
            s.send(fd,
                   okHead("Content-Encoding: deflate\r\nContent-Length: " + std::to_string(packed.size()) + "\r\n") +
                       packed.toStdString());
        });
        server.route("gzip-bomb", [](RawServer& s, int fd, const std::string&) {
            // 1 MiB that expands to 1 GiB of "*": a list of empty entries if it were read whole.
            static const std::string bomb = gzipRepeated(std::string(1024 * 1024, '*'), 1024);
            s.send(fd,
                   okHead("Content-Encoding: gzip\r\nContent-Length: " + std::to_string(bomb.size()) + "\r\n") + bomb);
        });
        server.route("gzip-twice", [](RawServer& s, int fd, const std::string&) {
            const std::string twice = twiceGzippedList();
            s.send(fd,
                   okHead("Content-Encoding: gzip, gzip\r\nContent-Length: " + std::to_string(twice.size()) + "\r\n") +
                       twice);
        });
        server.route("unknown-coding", [](RawServer& s, int fd, const std::string&) {
            const std::string list = "10.0.0.9:80*10.0.0.8:80*";
            s.send(fd, okHead("Content-Encoding: snappy\r\nContent-Length: " + std::to_string(list.size()) + "\r\n") +
                           list);
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
        server.route("silent", [](RawServer&, int fd, const std::string&) {
            char byte;
            while (::recv(fd, &byte, 1, 0) > 0) {
            }
        });
        server.route("good", [](RawServer& s, int fd, const std::string&) {
            s.send(fd, okHead("Content-Length: 12\r\n") + "10.0.0.1:80*");
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

    /// The stored list and the rows are those from before the download.
    void expectNothingChanged() {
        EXPECT_EQ(readFile(prefs), before);
        EXPECT_THAT(view.rows, ElementsAreArray({"old:1", "old:2"}));
    }

    ScopedUserHome home;
    std::string prefs = home.configDir() + "/prefs.ini";
    std::string before;
    Settings settings{prefs};
    FakeView view;
    TransferPlatform platform{{kStall, kTotal, kCap}};
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
    // The window is busy for a moment while the answer comes in, as when it repaints: the request's thread must
    // keep to the limits meanwhile, not read on.
    QTimer::singleShot(0, [] { std::this_thread::sleep_for(kBusyWindow); });

    commands.run(Command::DownloadList);

    EXPECT_EQ(view.status, GetParam().status);
    // The client stops reading once it has enough to fail: an endless answer is not buffered ahead.
    EXPECT_LT(server.sentBytes(), kMostSentBytes);
    expectNothingChanged();
    EXPECT_FALSE(platform.http.busy());
    EXPECT_EQ(platform.fakes.proxy.setting.mode, ProxyMode::Off);
    // Given up on, each connection is closed at once...
    EXPECT_TRUE(server.waitForClosed(server.requests()));

    // ...and the next request goes out and is answered.
    useServer(server.url("good"));
    commands.run(Command::DownloadList);
    EXPECT_EQ(view.status, "List downloaded from server.");
    EXPECT_THAT(view.rows, ElementsAreArray({"10.0.0.1:80"}));
}

const std::string kClosedEarly =
    "List download failed: the server closed the connection before the answer was complete";
const std::string kTooLarge = "List download failed: the answer is larger than 64 KiB";
const std::string kHeadTooLarge = "List download failed: the answer's header is larger than 64 KiB or 100 fields";

INSTANTIATE_TEST_SUITE_P(
    Servers, HostileAnswer,
    ::testing::Values(
        Hostility{"trickle-body", "List download failed: the server did not complete the answer within 2 seconds"},
        Hostility{"trickle-head", "List download failed: the server sent nothing for 1 second"},
        Hostility{"endless", kTooLarge}, Hostility{"endless-chunked", kTooLarge},
        Hostility{"endless-headers", kHeadTooLarge}, Hostility{"endless-header-line", kHeadTooLarge},
        Hostility{"deflate-bomb", kTooLarge}, Hostility{"gzip-bomb", kTooLarge},
        Hostility{"gzip-twice", "List download failed: the answer is encoded as \"gzip, gzip\", which cannot be read"},
        Hostility{"unknown-coding", "List download failed: the answer is encoded as \"snappy\", which cannot be read"},
        Hostility{"truncated", kClosedEarly}, Hostility{"reset", kClosedEarly},
        Hostility{"not-http", "List download failed: the server gave no HTTP answer"},
        Hostility{"bad-chunk", "List download failed: the server's answer could not be decoded"},
        Hostility{"loop-a", "List download failed: the server redirected more than 5 times"},
        Hostility{"to-file", "List download failed: the server redirected to \"file:///etc/passwd\""}),
    [](const auto& info) {
        std::string name = info.param.route;
        std::erase(name, '-');
        return name;
    });

// Quit while an answer is awaited or streams in: the program's own loop ends at once, the request with it, and
// the server sees the connection closed. The program's own limits are far off.
TEST_F(HostileServer, QuittingDuringARequestIsImmediate) {
    TransferPlatform patient;
    Commands program{view, patient, settings};
    for (const char* route : {"silent", "trickle-head", "trickle-body"}) {
        useServer(server.url(route));
        const int requests = server.requests();
        RequestWatcher quit([&] { return server.requests() > requests; }, [] { QCoreApplication::exit(0); });
        // As in the program: the command runs from the application's event loop, and Quit ends that loop.
        QTimer::singleShot(0, [&] { program.run(Command::DownloadList); });

        QCoreApplication::exec();

        EXPECT_EQ(view.status, "List download failed: the request was cancelled") << route;
        expectNothingChanged();
        EXPECT_FALSE(patient.http.busy());
        EXPECT_TRUE(server.waitForClosed(server.requests())) << route;
    }
}

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
