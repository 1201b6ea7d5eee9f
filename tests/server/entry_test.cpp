#include "command_line.h"
#include "entry.h"
#include "http_server.h"
#include "ip_address.h"
#include "judge_page.h"
#include "net/check_grades.h"
#include "rate_limiter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace tamberly {
namespace {

struct EntryCase {
    std::string raw;
    std::string stored; ///< empty when refused
    std::string reason; ///< part of the refusal reason
};

TEST(CheckEntry, AcceptsHostPortInStoredFormAndRefusesTheRestWithAReason) {
    const std::string label63(63, 'a');
    const std::string longName = label63 + "." + label63 + "." + label63 + "." + std::string(61, 'b'); // 253
    const EntryCase cases[] = {
        {"10.0.0.1:80", "10.0.0.1:80", ""},
        {"255.255.255.255:65535", "255.255.255.255:65535", ""},
        {"0.0.0.0:1", "0.0.0.0:1", ""},
        {"Proxy.Example.COM:3128", "proxy.example.com:3128", ""},
        {"localhost:8080", "localhost:8080", ""},
        {"my-proxy.example:8080", "my-proxy.example:8080", ""},
        {"1e100.net:80", "1e100.net:80", ""},
        {"xn--bcher-kva.example:80", "xn--bcher-kva.example:80", ""},
        {"10.0.0.1:0080", "10.0.0.1:80", ""},
        {"[2001:DB8:0:0:0:0:0:1]:8080", "[2001:db8::1]:8080", ""},
        {"[::1]:80", "[::1]:80", ""},
        {"[::ffff:10.0.0.1]:80", "10.0.0.1:80", ""}, // one proxy, one row
        {longName + ":1", longName + ":1", ""},
        // refused
        {"", "", "empty"},
        {std::string(256, 'a'), "", "longer than 255"},
        {longName + "b:1", "", "longer than 255"},
        {label63 + "a.example:80", "", "host name"},
        {"10.0.0.1", "", "host:port"},
        {"10.0.0.1:", "", "port"},
        {"10.0.0.1:0", "", "port"},
        {"10.0.0.1:000", "", "port"},
        {"10.0.0.1:65536", "", "port"},
        {"10.0.0.1:99999999999999999999", "", "port"},
        {"10.0.0.1:-1", "", "port"},
        {"10.0.0.1:80a", "", "port"},
        {":80", "", "host is missing"},
        {"256.0.0.1:80", "", "IPv4"},
        {"10.0.0:80", "", "IPv4"},
        {"010.0.0.1:80", "", "IPv4"},
        {"10.0.0.1.5:80", "", "IPv4"},
        {"example.123:80", "", "host name"},
        {"-proxy.example:80", "", "host name"},
        {"proxy-.example:80", "", "host name"},
        {"proxy..example:80", "", "host name"},
        {"proxy.example.:80", "", "host name"},
        {"under_score.example:80", "", "host name"},
        {"2001:db8::1:80", "", "brackets"},
        {"[2001:db8::1]", "", "host:port"},
        {"[2001:db8::1]80", "", "host:port"},
        {"[2001:db8::1:80", "", "closing"},
        {"[fe80::1%eth0]:80", "", "IPv6"},
        {"[10.0.0.1]:80", "", "IPv6"},
        {"[]:80", "", "IPv6"},
        {"<script>alert(1)</script>:80", "", "host name"},
        {"x');DROP/**/TABLE/**/proxies;--:80", "", "cannot hold"},
        {"a*b:80", "", "cannot hold \"*\""},
        {"socks5://a.b:80", "", "without a scheme"},
        {"http://10.0.0.1:80", "", "without a scheme"},
        {"proxy example:80", "", "blank"},
        {" 10.0.0.1:80", "", "blank"},
        {std::string("10.0.0.1\0:80", 12), "", "control"},
        {"10.0.0.1:80\r\n", "", "control"},
        {"\xFF\xFE:80", "", "outside ASCII"},
        {"b\xC3\xBC"
         "cher.example:80",
         "", "outside ASCII"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("entry: " + c.raw);
        const auto check = checkEntry(c.raw);
        EXPECT_EQ(check.ok, !c.stored.empty());
        EXPECT_EQ(check.entry, c.stored);
        if (c.stored.empty()) {
            EXPECT_NE(check.reason.find(c.reason), std::string::npos) << check.reason;
            EXPECT_EQ(check.reason.find('\n'), std::string::npos);
        }
    }
}

// What the list publishes of the stored rows: the forms the server writes; a row edited by hand into anything else
// (or an IPv4-mapped form, merged into its IPv4 row when the database was upgraded) is left out.
TEST(IsStoredForm, TakesTheFormsTheServerWritesOnly) {
    const std::pair<std::string, bool> cases[] = {
        {"10.0.0.1:80", true},
        {"proxy.example:3128", true},
        {"[2001:db8::1]:8080", true},
        {"[::ffff:10.0.0.1]:80", false},
        {"Proxy.Example:3128", false},
        {"10.0.0.1:080", false},
        {"[2001:DB8::1]:8080", false},
        {"a*b:80", false},
        {"", false},
    };
    for (const auto& [entry, stored] : cases)
        EXPECT_EQ(isStoredForm(entry), stored) << entry;
}

// The client behind trusted proxies, as nginx's real_ip_recursive finds it: from the right, past trusted hops.
// The judge reports what reached it from the proxy being judged: behind a trusted front web server, the client the
// walk gives and the headers without what the fronts wrote; from any other peer, everything as it came.
TEST(JudgePage, ReportsTheClientAndLeavesOutWhatTrustedProxiesAdded) {
    const std::vector<IpRange> trusted = {*parseIpRange("127.0.0.0/8"), *parseIpRange("10.0.0.0/8")};
    struct Case {
        std::string peer;
        HeaderLines sent;
        std::string client;
        HeaderLines seen;
    };
    const HeaderLines plain = {{"Host", "list.example"}, {"user-AGENT", "x"}};
    const Case cases[] = {
        // From an untrusted peer nothing is taken away, whatever it claims.
        {"198.51.100.7",
         {{"Host", "h"}, {"X-Forwarded-For", "127.0.0.9"}, {"X-Real-IP", "127.0.0.9"}, {"X-Forwarded-Proto", "http"}},
         "198.51.100.7",
         {{"Host", "h"}, {"X-Forwarded-For", "127.0.0.9"}, {"X-Real-IP", "127.0.0.9"}, {"X-Forwarded-Proto", "http"}}},
        {"198.51.100.7", plain, "198.51.100.7", plain},
        // nginx in front: it appended the address it saw and set X-Real-IP and X-Forwarded-Proto.
        {"127.0.0.1",
         {{"Host", "h"},
          {"X-Forwarded-For", "198.51.100.7"},
          {"X-Real-IP", "198.51.100.7"},
          {"X-Forwarded-Proto", "http"},
          {"Accept", "*/*"}},
         "198.51.100.7",
         {{"Host", "h"}, {"Accept", "*/*"}}},
        // A transparent proxy's own X-Forwarded-For stays, without the front's part.
        {"127.0.0.1",
         {{"X-Forwarded-For", "203.0.113.5, 198.51.100.7"}},
         "198.51.100.7",
         {{"X-Forwarded-For", "203.0.113.5"}}},
        {"127.0.0.1",
         {{"X-Forwarded-For", "203.0.113.5"}, {"x-forwarded-for", "198.51.100.7, 10.1.1.1"}},
         "198.51.100.7",
         {{"X-Forwarded-For", "203.0.113.5"}}},
        // Two fronts, both trusted, and a proxy's Via.
        {"10.0.0.2",
         {{"Via", "1.1 squid"}, {"X-Forwarded-For", "198.51.100.7, 10.0.0.3"}},
         "198.51.100.7",
         {{"Via", "1.1 squid"}}},
        // An X-Real-IP that names someone else is the proxy's.
        {"127.0.0.1",
         {{"X-Forwarded-For", "198.51.100.7"}, {"X-Real-IP", "203.0.113.5"}},
         "198.51.100.7",
         {{"X-Real-IP", "203.0.113.5"}}},
        // The walk stops at a value that is no address; what lies left of it stays.
        {"127.0.0.1", {{"X-Forwarded-For", "unknown, 198.51.100.7"}}, "198.51.100.7", {{"X-Forwarded-For", "unknown"}}},
        // A trusted peer without the header is the client itself.
        {"127.0.0.1", plain, "127.0.0.1", plain},
        // Forwarded is walked the same way.
        {"127.0.0.1",
         {{"Forwarded", "for=203.0.113.5, for=\"[2001:db8::7]:4711\";proto=http"}, {"X-Forwarded-For", "2001:db8::7"}},
         "2001:db8::7",
         {{"Forwarded", "for=203.0.113.5"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.peer + " " + (c.sent.empty() ? "" : c.sent.front().first + ": " + c.sent.front().second));
        JudgeAnswer seen;
        ASSERT_TRUE(parseJudgeAnswer(judgePageText(*parseIpAddress(c.peer), c.sent, trusted), seen));
        EXPECT_EQ(seen.clientAddress, c.client);
        EXPECT_EQ(seen.headers, c.seen);
    }
}

TEST(ForwardedClient, WalksFromTheRightPastTrustedProxies) {
    const std::vector<IpRange> trusted = {*parseIpRange("10.0.0.0/8"), *parseIpRange("2001:db8::/32")};
    struct Case {
        std::string peer;
        std::vector<std::string_view> forwardedFor;
        std::string client;
    };
    const Case cases[] = {
        {"198.51.100.1", {"203.0.113.1"}, "198.51.100.1"}, // an untrusted peer: the header counts for nothing
        {"10.0.0.1", {}, "10.0.0.1"},
        {"10.0.0.1", {"203.0.113.1"}, "203.0.113.1"},
        {"10.0.0.1", {"203.0.113.9, 203.0.113.1, 10.2.2.2"}, "203.0.113.1"},
        {"10.0.0.1", {"203.0.113.9", "203.0.113.1,10.2.2.2"}, "203.0.113.1"}, // two fields are one list
        {"10.0.0.1", {"10.3.3.3, 10.2.2.2"}, "10.3.3.3"},                     // all trusted: the leftmost
        {"10.0.0.1", {"203.0.113.9, junk, 10.2.2.2"}, "10.2.2.2"},            // the walk ends at a bad value
        {"10.0.0.1", {"::ffff:203.0.113.7"}, "203.0.113.7"},
        {"2001:db8::1", {"2001:db9::5"}, "2001:db9::5"},
        {"::ffff:10.0.0.1", {"203.0.113.1"}, "203.0.113.1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.peer);
        EXPECT_EQ(forwardedClient(*parseIpAddress(c.peer), c.forwardedFor, trusted).text(), c.client);
    }
    EXPECT_EQ(parseIpAddress("2001:db8:1:2:aaaa::1")->clientKey(), "2001:db8:1:2::/64");
    EXPECT_EQ(parseIpAddress("::ffff:203.0.113.7")->clientKey(), "203.0.113.7");
    for (const std::string bad : {"10.0.0.0/33", "::/129", "10.0.0.0/", "10.0.0/8", "host/8", "10.0.0.0/-1"})
        EXPECT_FALSE(parseIpRange(bad)) << bad;
}

TEST(RateLimiter, GivesABurstThenOneTokenPerPeriodAndForgetsTheLeastRecentClient) {
    RateLimiter limiter(3, 2.0, 2);
    const auto start = RateLimiter::Clock::now();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(limiter.take("a", start), 0);
    EXPECT_EQ(limiter.take("a", start), 2);
    EXPECT_EQ(limiter.take("a", start + std::chrono::milliseconds(1500)), 1);
    EXPECT_EQ(limiter.take("a", start + std::chrono::milliseconds(2100)), 0);
    EXPECT_EQ(limiter.take("b", start), 0) << "another client has its own bucket";
    EXPECT_EQ(limiter.take("c", start), 0);
    EXPECT_EQ(limiter.clients(), 2u) << "a was used least recently and made room";
}

TEST(ParseDuration, TakesSecondsOrAUnit) {
    const std::pair<std::string, std::int64_t> good[] = {{"90", 90},     {"30s", 30},    {"90m", 5400},
                                                         {"24h", 86400}, {"7d", 604800}, {"365d", 31536000}};
    for (const auto& [text, seconds] : good) {
        std::int64_t value = 0;
        EXPECT_TRUE(parseDuration(text, value)) << text;
        EXPECT_EQ(value, seconds) << text;
    }
    for (const std::string bad : {"", "0", "h", "-1h", "1w", "366d", "1.5h", "24 h"}) {
        std::int64_t value = 0;
        EXPECT_FALSE(parseDuration(bad, value)) << bad;
    }
}

TEST(SplitImportText, TakesListTextAndLinesAlikeWithTheLineOfEachPiece) {
    const auto pieces = splitImportText("\xEF\xBB\xBF"
                                        "a:1*b:2*\r\n"
                                        "  c:3 \t\r\n"
                                        "\n"
                                        "d:4*e:5\r"
                                        "f:6");
    const std::vector<std::pair<std::string, int>> expected = {{"a:1", 1}, {"b:2", 1}, {"c:3", 2},
                                                               {"d:4", 4}, {"e:5", 4}, {"f:6", 5}};
    ASSERT_EQ(pieces.size(), expected.size());
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        EXPECT_EQ(pieces[i].text, expected[i].first);
        EXPECT_EQ(pieces[i].line, expected[i].second);
    }
    EXPECT_TRUE(splitImportText("").empty());
    EXPECT_TRUE(splitImportText("**\n \n*").empty());
}

TEST(ParseListenAddress, ReadsHostAndPort) {
    struct Case {
        std::string text;
        bool ok;
        std::string host;
        int port;
    };
    const Case cases[] = {
        {"127.0.0.1:8642", true, "127.0.0.1", 8642},
        {"localhost:0", true, "localhost", 0},
        {"[::1]:80", true, "::1", 80},
        {"0.0.0.0:65535", true, "0.0.0.0", 65535},
        {"127.0.0.1", false, "", 0},
        {":80", false, "", 0},
        {"127.0.0.1:65536", false, "", 0},
        {"127.0.0.1:-1", false, "", 0},
        {"::1:80", false, "", 0},
        {"[::1]80", false, "", 0},
        {"127.0.0.1:", false, "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string host;
        int port = -1;
        EXPECT_EQ(parseListenAddress(c.text, host, port), c.ok);
        if (c.ok) {
            EXPECT_EQ(host, c.host);
            EXPECT_EQ(port, c.port);
        }
    }
}

TEST(AccessLogLine, KeepsEveryRequestOnOneSafeLine) {
    const std::string line =
        accessLogLine("127.0.0.1", 0, "GET", "/Tamberly/addproxy.php?proxy=a\n\"b\\\x01\xFF", "HTTP/1.1", 400, 12);
    EXPECT_EQ(line, "127.0.0.1 - - [01/Jan/1970:00:00:00 +0000] "
                    "\"GET /Tamberly/addproxy.php?proxy=a\\x0a\\x22b\\x5c\\x01\\xff HTTP/1.1\" 400 12\n");

    const std::string longLine = accessLogLine("", 0, "GET", std::string(9000, 'a'), "HTTP/1.1", 414, 0);
    EXPECT_LT(longLine.size(), 700u);
    EXPECT_EQ(longLine.find('\n'), longLine.size() - 1);
    EXPECT_EQ(accessLogLine("", 0, "", "", "", 400, 0), "- - - [01/Jan/1970:00:00:00 +0000] \"-\" 400 -\n");
}

} // namespace
} // namespace tamberly
