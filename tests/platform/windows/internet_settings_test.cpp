// The Internet Settings on the real registry under Wine, in a scratch key of each test's own.
#include "platform/windows/internet_settings.h"

#include "platform/windows/wide_text.h"
#include "scratch_key.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>

namespace tamberly {
namespace {

// Passes every access on to the real key and notes each change, in order; the value named refuse is not written.
class RecordingKey final : public RegistryKey {
public:
    RecordingKey(Win32RegistryKey key, std::vector<std::string>& log, std::string refuse)
        : m_key(std::move(key)), m_log(log), m_refuse(std::move(refuse)) {}
    RegistryRead read(const std::string& name) const override { return m_key.read(name); }
    std::string write(const std::string& name, const RegistryData& data) override {
        m_log.push_back("write " + name);
        return name == m_refuse ? "the value is refused" : m_key.write(name, data);
    }
    std::string remove(const std::string& name) override {
        m_log.push_back("remove " + name);
        return m_key.remove(name);
    }

private:
    Win32RegistryKey m_key;
    std::vector<std::string>& m_log;
    std::string m_refuse;
};

ProxyServers servers(const std::string& text) {
    const ServersParse parsed = parseProxyServers(text);
    if (!parsed.servers)
        throw std::invalid_argument(text + ": " + parsed.why);
    return *parsed.servers;
}

ProxySetting automatic(const std::string& url) {
    return {ProxyMode::Automatic, std::nullopt, std::nullopt, url};
}

struct InternetSettingsTest : ::testing::Test {
    test::ScratchKey scratch;
    Win32RegistryKey values = scratch.key();
    std::vector<std::string> log;
    int notified = 0;

    InternetSettings make(const std::string& refuse = {}) {
        return InternetSettings(std::make_unique<RecordingKey>(scratch.key(), log, refuse), [this] { ++notified; });
    }
    std::optional<RegistryData> raw(const std::string& name) const { return values.read(name).data; }
};

std::optional<RegistryData> text(const std::string& value) {
    return RegistryData{value};
}
std::optional<RegistryData> number(std::uint32_t value) {
    return RegistryData{value};
}

TEST_F(InternetSettingsTest, WhatIsAppliedIsStoredAsOtherProgramsReadItAndReadBack) {
    const ProxySetting withBypass = {ProxyMode::Manual,
                                     servers("proxy.example:8080"),
                                     std::vector<std::string>{"localhost", "*.example.org", "<local>"},
                                     {}};
    const struct {
        const char* what;
        std::vector<ProxySetting> changes;
        std::optional<RegistryData> proxyServer, proxyEnable, autoConfigUrl, proxyOverride;
        ProxySetting current;
    } cases[] = {
        {"manual, one server for every protocol",
         {ProxySetting::manual(servers("proxy.example:8080"))},
         text("proxy.example:8080"),
         number(1),
         std::nullopt,
         std::nullopt,
         {ProxyMode::Manual, servers("proxy.example:8080"), std::vector<std::string>{}, {}}},
        {"manual, a server per protocol",
         {ProxySetting::manual(servers("http=a.example:1;https=b.example:2;ftp=c.example:3;socks=d.example:4"))},
         text("http=a.example:1;https=b.example:2;ftp=c.example:3;socks=d.example:4"),
         number(1),
         std::nullopt,
         std::nullopt,
         {ProxyMode::Manual,
          servers("http=a.example:1;https=b.example:2;ftp=c.example:3;socks=d.example:4"),
          std::vector<std::string>{},
          {}}},
        {"manual without servers writes the empty text",
         {ProxySetting::manual(servers("proxy.example:8080")), ProxySetting::manual(ProxyServers{})},
         text(""),
         number(1),
         std::nullopt,
         std::nullopt,
         {ProxyMode::Manual, ProxyServers{}, std::vector<std::string>{}, {}}},
        {"off keeps the last server",
         {ProxySetting::manual(servers("proxy.example:8080")), ProxySetting::off()},
         text("proxy.example:8080"),
         number(0),
         std::nullopt,
         std::nullopt,
         {ProxyMode::Off, servers("proxy.example:8080"), std::vector<std::string>{}, {}}},
        {"automatic keeps the server for later",
         {ProxySetting::manual(servers("proxy.example:8080")), automatic("http://127.0.0.1:9/proxy.pac")},
         text("proxy.example:8080"),
         number(0),
         text("http://127.0.0.1:9/proxy.pac"),
         std::nullopt,
         {ProxyMode::Automatic, servers("proxy.example:8080"), std::vector<std::string>{},
          "http://127.0.0.1:9/proxy.pac"}},
        {"manual after automatic removes the script, which would win",
         {automatic("http://127.0.0.1:9/proxy.pac"), ProxySetting::manual(servers("[2001:db8::1]:3128"))},
         text("[2001:db8::1]:3128"),
         number(1),
         std::nullopt,
         std::nullopt,
         {ProxyMode::Manual, servers("[2001:db8::1]:3128"), std::vector<std::string>{}, {}}},
        {"off after automatic too",
         {automatic("http://127.0.0.1:9/proxy.pac"), ProxySetting::off()},
         std::nullopt,
         number(0),
         std::nullopt,
         std::nullopt,
         {ProxyMode::Off, ProxyServers{}, std::vector<std::string>{}, {}}},
        {"a bypass list, then a change that keeps it",
         {withBypass, ProxySetting::manual(servers("other.example:1"))},
         text("other.example:1"),
         number(1),
         std::nullopt,
         text("localhost;*.example.org;<local>"),
         {ProxyMode::Manual,
          servers("other.example:1"),
          std::vector<std::string>{"localhost", "*.example.org", "<local>"},
          {}}},
    };
    for (const auto& c : cases) {
        test::ScratchKey fresh;
        int notifications = 0;
        InternetSettings settings(std::make_unique<Win32RegistryKey>(fresh.key()), [&] { ++notifications; });
        for (const ProxySetting& change : c.changes) {
            const ApplyOutcome outcome = settings.apply(change);
            ASSERT_EQ(outcome.backends.size(), 1u) << c.what;
            EXPECT_EQ(outcome.backends[0].name, "the Internet Settings");
            EXPECT_EQ(outcome.backends[0].state, BackendOutcome::State::Written) << c.what;
            EXPECT_EQ(outcome.failure(), "") << c.what;
        }
        EXPECT_EQ(notifications, static_cast<int>(c.changes.size())) << c.what << ": one notification per change";
        const Win32RegistryKey stored = fresh.key();
        EXPECT_EQ(stored.read("ProxyServer").data, c.proxyServer) << c.what;
        EXPECT_EQ(stored.read("ProxyEnable").data, c.proxyEnable) << c.what;
        EXPECT_EQ(stored.read("AutoConfigURL").data, c.autoConfigUrl) << c.what;
        EXPECT_EQ(stored.read("ProxyOverride").data, c.proxyOverride) << c.what;
        const CurrentSetting current = settings.current();
        EXPECT_EQ(current.why, "") << c.what;
        EXPECT_EQ(current.setting, c.current) << c.what;
    }
}

TEST_F(InternetSettingsTest, TheSwitchIsWrittenLastSoItNeverTurnsOnAServerNotYetWritten) {
    InternetSettings settings = make();
    settings.apply({ProxyMode::Manual, servers("proxy.example:8080"), std::vector<std::string>{"localhost"}, {}});
    EXPECT_EQ(log, (std::vector<std::string>{"write ProxyServer", "write ProxyOverride", "remove AutoConfigURL",
                                             "write ProxyEnable"}));
    log.clear();
    settings.apply(ProxySetting::off());
    EXPECT_EQ(log, (std::vector<std::string>{"remove AutoConfigURL", "write ProxyEnable"})) << "the server is kept";
}

TEST_F(InternetSettingsTest, AFailedWriteIsTheRecordsFailureAndNothingAfterItIsWritten) {
    ASSERT_EQ(values.write("ProxyEnable", std::uint32_t{0}), "");
    InternetSettings settings = make("ProxyServer");

    const ApplyOutcome outcome = settings.apply(ProxySetting::manual(servers("proxy.example:8080")));

    EXPECT_FALSE(outcome.recorded());
    EXPECT_EQ(outcome.failure(), "The proxy setting could not be changed: the value is refused.");
    EXPECT_EQ(log, std::vector<std::string>{"write ProxyServer"});
    EXPECT_EQ(raw("ProxyEnable"), number(0));
    EXPECT_EQ(notified, 0);
}

TEST_F(InternetSettingsTest, AKeyTheUserMayNotChangeGivesTheSystemsReasonAndChangesNothing) {
    ASSERT_EQ(values.write("ProxyServer", std::string("old.example:1")), "");
    ASSERT_EQ(values.write("ProxyEnable", std::uint32_t{0}), "");
    scratch.deny("");
    InternetSettings settings = make();

    const ApplyOutcome outcome = settings.apply(ProxySetting::manual(servers("new.example:2")));

    ASSERT_EQ(outcome.backends.size(), 1u);
    EXPECT_EQ(outcome.backends[0].state, BackendOutcome::State::Failed);
    EXPECT_EQ(outcome.failure(), "The proxy setting could not be changed: Cannot open the registry key of "
                                 "\"HKEY_CURRENT_USER\\" +
                                     scratch.path() + "\\ProxyServer\": " + systemErrorText(ERROR_ACCESS_DENIED) + ".");
    EXPECT_EQ(raw("ProxyServer"), text("old.example:1"));
    EXPECT_EQ(raw("ProxyEnable"), number(0));
    EXPECT_EQ(notified, 0);
    EXPECT_EQ(settings.current().setting,
              (ProxySetting{ProxyMode::Off, servers("old.example:1"), std::vector<std::string>{}, {}}));
}

TEST_F(InternetSettingsTest, ChangesTheSettingsCannotHoldAreRefusedWithoutWritingAnything) {
    const struct {
        ProxySetting change;
        std::string why;
    } cases[] = {
        {automatic(""), "The proxy setting could not be changed: Windows turns on automatic detection in its "
                        "Internet Options only (\"Automatically detect settings\")."},
        {{ProxyMode::Manual, servers("proxy.example:8080"), std::vector<std::string>{"a.example;b.example"}, {}},
         "The proxy setting could not be changed: the entry \"a.example;b.example\" of the hosts that go direct "
         "holds a \";\", which separates them."},
    };
    InternetSettings settings = make();
    for (const auto& c : cases)
        EXPECT_EQ(settings.apply(c.change).failure(), c.why);
    EXPECT_EQ(log, std::vector<std::string>{});
    EXPECT_EQ(notified, 0);
}

TEST_F(InternetSettingsTest, ReadsWhatOtherProgramsWrote) {
    const std::optional<RegistryData> none;
    const struct {
        const char* what;
        std::optional<RegistryData> proxyEnable, proxyServer, proxyOverride, autoConfigUrl;
        ProxyMode mode;
        ProxyServers servers;
        std::vector<std::string> bypass;
    } cases[] = {
        {"nothing at all", none, none, none, none, ProxyMode::Off, {}, {}},
        {"on", number(1), text("proxy.example:3128"), none, none, ProxyMode::Manual, servers("proxy.example:3128"), {}},
        {"on, as a text read like a number",
         text(" +1"),
         text("proxy.example:3128"),
         none,
         none,
         ProxyMode::Manual,
         servers("proxy.example:3128"),
         {}},
        {"any number but 1 is off",
         number(2),
         text("proxy.example:3128"),
         none,
         none,
         ProxyMode::Off,
         servers("proxy.example:3128"),
         {}},
        {"a text that is no number is off", text("yes"), none, none, none, ProxyMode::Off, {}, {}},
        {"a server text naming no proxy reads as none",
         number(1),
         text("not a proxy"),
         none,
         none,
         ProxyMode::Manual,
         {},
         {}},
        {"the bypass list, blanks and empty entries dropped",
         number(0),
         none,
         text("localhost; 127.*;;<local>"),
         none,
         ProxyMode::Off,
         {},
         {"localhost", "127.*", "<local>"}},
        {"a script wins over the servers",
         number(1),
         text("proxy.example:3128"),
         none,
         text("http://127.0.0.1:9/wpad.dat"),
         ProxyMode::Automatic,
         servers("proxy.example:3128"),
         {}},
        {"an empty script is none",
         number(1),
         text("proxy.example:3128"),
         none,
         text(""),
         ProxyMode::Manual,
         servers("proxy.example:3128"),
         {}},
    };
    for (const auto& c : cases) {
        test::ScratchKey fresh;
        Win32RegistryKey key = fresh.key();
        const std::pair<const char*, const std::optional<RegistryData>*> stored[] = {
            {"ProxyEnable", &c.proxyEnable},
            {"ProxyServer", &c.proxyServer},
            {"ProxyOverride", &c.proxyOverride},
            {"AutoConfigURL", &c.autoConfigUrl}};
        for (const auto& [name, data] : stored) {
            if (*data) {
                ASSERT_EQ(key.write(name, **data), "");
            }
        }
        const CurrentSetting current = InternetSettings(std::make_unique<Win32RegistryKey>(key), [] {}).current();
        ASSERT_TRUE(current.setting) << c.what << ": " << current.why;
        EXPECT_EQ(current.setting->mode, c.mode) << c.what;
        EXPECT_EQ(current.setting->servers, c.servers) << c.what;
        EXPECT_EQ(current.setting->bypass, c.bypass) << c.what;
        EXPECT_EQ(current.setting->autoConfigUrl,
                  c.mode == ProxyMode::Automatic ? std::get<std::string>(*c.autoConfigUrl) : "")
            << c.what;
    }

    scratch.writeBinary("", "ProxyEnable", std::string("\x01\x00\x00\x00", 4));
    const CurrentSetting unreadable = make().current();
    EXPECT_FALSE(unreadable.setting);
    EXPECT_EQ(unreadable.why, "Cannot read \"HKEY_CURRENT_USER\\" + scratch.path() +
                                  "\\ProxyEnable\": its type is neither text nor a number");
}

// The Internet Options panel's window: a dialog named "Internet Properties" on Windows, "Internet Settings" on Wine.
HWND findPanel() {
    HWND found = nullptr;
    ::EnumWindows(
        [](HWND window, LPARAM result) {
            wchar_t title[64] = {};
            wchar_t kind[16] = {};
            ::GetWindowTextW(window, title, 64);
            ::GetClassNameW(window, kind, 16);
            const std::wstring name = title;
            if (::IsWindowVisible(window) && std::wstring(kind) == L"#32770" &&
                (name == L"Internet Properties" || name == L"Internet Settings")) {
                *reinterpret_cast<HWND*>(result) = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

TEST(InternetSettings, IsOnePlaceAndOpensTheSystemsPanel) {
    InternetSettings settings;
    EXPECT_EQ(settings.places(), std::vector<std::string>{"the Internet Settings"});
    if (!::GetEnvironmentVariableW(L"DISPLAY", nullptr, 0))
        GTEST_SKIP() << "no display to show the panel on";

    ASSERT_TRUE(settings.openSettingsPage());
    // It starts on its own; wait for its window (a minute at most) and close it.
    const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    HWND panel = nullptr;
    while (!(panel = findPanel()) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_NE(panel, nullptr) << "the panel never showed";
    ::PostMessageW(panel, WM_CLOSE, 0, 0);
}

} // namespace
} // namespace tamberly
