#include "core/proxy_entry.h"
#include "core/proxy_setting.h"

#include <gtest/gtest.h>

namespace tamberly {
namespace {

struct EntryCase {
    std::string text;
    std::string normal; // entry.text(), or empty when refused
    std::string why;    // the refusal's reason
};

TEST(ProxyEntry, ReadsNormalisesOrRefusesEachForm) {
    const EntryCase cases[] = {
        {"10.0.0.1:80", "10.0.0.1:80", ""},
        {"Proxy.Example.ORG:3128", "proxy.example.org:3128", ""},
        {"a-b.c1:00080", "a-b.c1:80", ""},
        {"HTTP://h.example:8080", "h.example:8080", ""},
        {"socks5://h.example:1080", "socks5://h.example:1080", ""},
        {"SOCKS5://[2001:DB8::1]:1080", "socks5://[2001:db8::1]:1080", ""},
        {"[2001:0db8:0000:0000:0000:0000:0000:0001]:8080", "[2001:db8::1]:8080", ""},
        {"[2001:db8:0:0:1:0:0:1]:1", "[2001:db8::1:0:0:1]:1", ""},
        {"[1:0:1:0:1:0:1:0]:1", "[1:0:1:0:1:0:1:0]:1", ""},
        {"[::]:1", "[::]:1", ""},
        {"[::1]:65535", "[::1]:65535", ""},
        {"[::ffff:1.2.3.4]:80", "1.2.3.4:80", ""},
        {"[::FFFF:0102:0304]:80", "1.2.3.4:80", ""},
        {"[::1.2.3.4]:80", "[::1.2.3.4]:80", ""},
        {"", "", "empty proxy entry"},
        {" 10.0.0.1:80", "", "proxy entry holds a blank, a control character or a character outside ASCII"},
        {"h\xC3\xA9.example:80", "", "proxy entry holds a blank, a control character or a character outside ASCII"},
        {"h.example", "", "proxy entry must be host:port"},
        {"h.example:", "", "port must be a number from 1 to 65535"},
        {"h.example:0", "", "port must be a number from 1 to 65535"},
        {"h.example:65536", "", "port must be a number from 1 to 65535"},
        {"h.example:8o", "", "port must be a number from 1 to 65535"},
        {":80", "", "host is missing"},
        {"010.1.1.1:80", "", "IPv4 address is not valid"},
        {"10.1:80", "", "IPv4 address is not valid"},
        {"256.1.1.1:80", "", "IPv4 address is not valid"},
        {"my_proxy:80", "", "host name is not valid"},
        {"-a.example:80", "", "host name is not valid"},
        {"a..example:80", "", "host name is not valid"},
        {"a.123:80", "", "host name is not valid"},
        {"2001:db8::1:8080", "", "an IPv6 address must be put in brackets, as in [2001:db8::1]:8080"},
        {"[2001:db8::1:8080", "", "IPv6 address is missing its closing ']'"},
        {"[2001:db8::1]", "", "proxy entry must be host:port"},
        {"[2001:db8::g]:1", "", "IPv6 address is not valid"},
        {"[fe80::1%eth0]:1", "", "IPv6 address is not valid"},
        {"[1:2:3:4:5:6:7:8:9]:1", "", "IPv6 address is not valid"},
        {"[1::2::3]:1", "", "IPv6 address is not valid"},
        {"[1:2:3:4:5:6:7:8::]:1", "", "IPv6 address is not valid"},
        {"[::ffff:01.2.3.4]:1", "", "IPv6 address is not valid"},
        {"ftp://h.example:21", "", "an IPv6 address must be put in brackets, as in [2001:db8::1]:8080"},
    };
    for (const auto& c : cases) {
        const EntryParse parsed = parseProxyEntry(c.text);
        if (c.normal.empty()) {
            EXPECT_FALSE(parsed.entry) << c.text;
            EXPECT_EQ(parsed.why, c.why) << c.text;
        } else {
            ASSERT_TRUE(parsed.entry) << c.text << ": " << parsed.why;
            EXPECT_EQ(parsed.entry->text(), c.normal) << c.text;
        }
    }
}

TEST(ProxyEntry, TellsTheKindOfHost) {
    EXPECT_EQ(parseProxyEntry("a.example:1").entry->hostKind, ProxyEntry::HostKind::Name);
    EXPECT_EQ(parseProxyEntry("[::ffff:1.2.3.4]:1").entry->hostKind, ProxyEntry::HostKind::Ipv4);
    const auto v6 = parseProxyEntry("[::1]:1").entry;
    EXPECT_EQ(v6->hostKind, ProxyEntry::HostKind::Ipv6);
    EXPECT_EQ(v6->host, "::1");
    EXPECT_EQ(v6->port, 1);
}

struct ServersCase {
    std::string text;
    std::string formatted; // formatProxyServers of what was read; empty when refused
    std::string why;
};

TEST(ProxyServers, ReadOneEntryOrThePerProtocolFormAndFormatBack) {
    const ServersCase cases[] = {
        {"10.0.0.1:80", "10.0.0.1:80", ""},
        {"http://H.example:80", "h.example:80", ""},
        {"socks5://h.example:1080", "socks=h.example:1080", ""},
        {"http=a.example:1;https=[::1]:8080", "http=a.example:1;https=[::1]:8080", ""},
        {" http = a.example:1 ; ; gopher=g.example:70 ; HTTPS=a.example:1; ftp=a.example:1", "a.example:1", ""},
        {"socks=s.example:1080", "socks=s.example:1080", ""},
        {"http=", "", "no protocol has a proxy"},
        {"http=a.example:1;b.example:2", "", "a plain proxy is mixed with per-protocol ones"},
        {"https=a.example", "", "https: proxy entry must be host:port"},
        {"", "", "empty proxy entry"},
    };
    for (const auto& c : cases) {
        const ServersParse parsed = parseProxyServers(c.text);
        if (c.formatted.empty()) {
            EXPECT_FALSE(parsed.servers) << c.text;
            EXPECT_EQ(parsed.why, c.why) << c.text;
        } else {
            ASSERT_TRUE(parsed.servers) << c.text << ": " << parsed.why;
            EXPECT_EQ(formatProxyServers(*parsed.servers), c.formatted) << c.text;
        }
    }
    EXPECT_EQ(formatProxyServers({}), "");
}

TEST(ProxyEnvironment, SetsEachProtocolsProxyOnlyWhileAManualProxyIsOn) {
    const auto servers = parseProxyServers("http=a.example:1;https=[::1]:2").servers;
    const EnvironmentChange on = proxyEnvironment(ProxySetting::manual(*servers));
    EXPECT_EQ(on.unset.size(), 8u);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"http_proxy", "http://a.example:1"},    {"HTTP_PROXY", "http://a.example:1"},
        {"https_proxy", "http://[::1]:2"},       {"HTTPS_PROXY", "http://[::1]:2"},
        {"no_proxy", "localhost,127.0.0.1,::1"}, {"NO_PROXY", "localhost,127.0.0.1,::1"}};
    EXPECT_EQ(on.set, expected);

    ProxySetting off = ProxySetting::manual(*servers);
    off.mode = ProxyMode::Off;
    EXPECT_TRUE(proxyEnvironment(off).set.empty());
    EXPECT_EQ(proxyEnvironment(off).unset, on.unset);
    EXPECT_TRUE(proxyEnvironment(ProxySetting::manual(*parseProxyServers("socks5://s.example:1").servers)).set.empty());
}

TEST(ProxyEnable, OnlyATextReadingAsTheNumberOneIsOn) {
    const std::pair<const char*, bool> cases[] = {
        {"1", true}, {" \t\n1", true}, {"+1", true},   {"1x", true},  {"01", true},  {"0", false},  {"2", false},
        {"", false}, {"yes", false},   {"\r1", false}, {"-1", false}, {"11", false}, {"1e0", true}, {"  ", false},
    };
    for (const auto& [text, on] : cases)
        EXPECT_EQ(proxyEnableIsOn(text), on) << testing::PrintToString(std::string(text));
}

} // namespace
} // namespace tamberly
