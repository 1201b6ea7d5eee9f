#include "proxy/system_proxy.h"

#include "support/fakes.h"

#include <gtest/gtest.h>

namespace tamberly {
namespace {

using test::FakeDialogs;
using test::FakeRegistry;
using test::FakeStatusLine;

const std::string kServer = kProxyServerName;
const std::string kEnable = kProxyEnableName;

struct SystemProxyTest : ::testing::Test {
    std::vector<std::string> log;
    FakeRegistry registry;
    FakeStatusLine status;
    FakeDialogs dialogs;
    SystemProxy proxy{registry, status, dialogs};

    SystemProxyTest() {
        registry.sharedLog = &log;
        status.sharedLog = &log;
        dialogs.sharedLog = &log;
    }
};

TEST_F(SystemProxyTest, UseProxyWritesServerThenStatusThenEnable) {
    for (const std::string entry : {"10.0.0.1:80", "", "bare-host", "text with blanks"}) {
        log.clear();
        EXPECT_TRUE(proxy.UseProxy(entry));
        EXPECT_EQ(log, (std::vector<std::string>{"write " + kServer + "=" + entry + " (REG_SZ)",
                                                 "status Proxy changed to : " + entry,
                                                 "write " + kEnable + "=1 (REG_DWORD)"}))
            << entry;
    }
}

TEST_F(SystemProxyTest, UseProxyStopsWhenTheServerCannotBeWritten) {
    registry.failWritesTo = kServer;
    status.text = "before";
    EXPECT_FALSE(proxy.UseProxy("10.0.0.1:80"));
    EXPECT_EQ(status.text, "before");
    EXPECT_FALSE(registry.values.count(kEnable));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "The proxy setting could not be changed: the registry file is read-only");
}

TEST_F(SystemProxyTest, DisableProxyWritesOnlyEnableAndLeavesTheStatus) {
    registry.values[kServer] = std::string("10.0.0.1:80");
    status.text = "kept";
    proxy.Mnunoproxy_Click();
    proxy.Mnunoproxy_Click(); // already off: written again
    EXPECT_EQ(log,
              (std::vector<std::string>{"write " + kEnable + "=0 (REG_DWORD)", "write " + kEnable + "=0 (REG_DWORD)"}));
    EXPECT_EQ(status.text, "kept");
    EXPECT_EQ(regValueText(registry.values[kServer]), "10.0.0.1:80");
}

TEST_F(SystemProxyTest, CurrentProxyReportsTheRegistryState) {
    struct Case {
        std::optional<RegValue> enable;
        std::optional<RegValue> server;
        std::string shown;
        bool readsServer;
    };
    const Case cases[] = {
        {std::uint32_t{1}, std::string("10.0.0.1:80"), "Current proxy : 10.0.0.1:80", true},
        {std::uint32_t{1}, std::string(""), "No proxy", true},
        {std::uint32_t{1}, std::nullopt, "No proxy", true},
        {std::uint32_t{0}, std::string("10.0.0.1:80"), "Proxy desactivated", false},
        {std::uint32_t{2}, std::string("10.0.0.1:80"), "Proxy desactivated", false},
        {std::nullopt, std::string("10.0.0.1:80"), "Proxy desactivated", false},
        {std::string("1"), std::string("a:1"), "Current proxy : a:1", true},
        {std::string("yes"), std::string("a:1"), "Proxy desactivated", false},
        // Read as the classic runtime's Val reads a number: leading blanks, tabs and line feeds are skipped.
        {std::string(" \t\n1"), std::string("a:1"), "Current proxy : a:1", true},
        {std::string("+1"), std::string("a:1"), "Current proxy : a:1", true},
        {std::string("\r1"), std::string("a:1"), "Proxy desactivated", false},
        {std::string("-1"), std::string("a:1"), "Proxy desactivated", false},
    };
    for (const auto& c : cases) {
        registry.values.clear();
        registry.log.clear();
        if (c.enable)
            registry.values[kEnable] = *c.enable;
        if (c.server)
            registry.values[kServer] = *c.server;
        proxy.currproxy_Click();
        EXPECT_EQ(status.text, c.shown);
        EXPECT_EQ(registry.log.size(), c.readsServer ? 2u : 1u) << c.shown;
        EXPECT_EQ(registry.log[0], "read " + kEnable);
    }
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(SystemProxyTest, NoProxyThenUseThisProxyAreReportedBack) {
    proxy.Mnunoproxy_Click();
    proxy.currproxy_Click();
    EXPECT_EQ(status.text, "Proxy desactivated");
    proxy.UseProxy("proxy.example:3128");
    proxy.currproxy_Click();
    EXPECT_EQ(status.text, "Current proxy : proxy.example:3128");
}

} // namespace
} // namespace tamberly
