#include "platform/windows/win32_registry.h"

#include <gtest/gtest.h>

#include <string>

#include <windows.h>

namespace tamberly {
namespace {

// A key of the test's own under HKCU, removed afterwards.
struct Win32RegistryTest : ::testing::Test {
    const std::wstring subKey = L"Software\\Tamberly-test-" + std::to_wstring(::GetCurrentProcessId());
    const std::string key = "HKEY_CURRENT_USER\\Software\\Tamberly-test-" + std::to_string(::GetCurrentProcessId());
    int notified = 0;
    Win32Registry registry{[this] { ++notified; }};

    ~Win32RegistryTest() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, subKey.c_str()); }
};

TEST_F(Win32RegistryTest, TextsAndNumbersComeBackAsWritten) {
    const struct {
        std::string name;
        RegValue value;
        std::string type;
    } cases[] = {
        {"Plain", std::string("proxy.example:8080"), "REG_SZ"},
        {"Quotes", std::string(R"(say "hi" \ back\slash)"), "REG_SZ"},
        {"NonAscii", std::string("pr\xC3\xB6xy-\xE6\x97\xA5\xE6\x9C\xAC:80 \xF0\x9F\x98\x80"), "REG_SZ"},
        {"LineBreaks", std::string("one\r\ntwo\nthree"), "REG_SZ"},
        {"Empty", std::string(), "REG_SZ"},
        {"Zero", std::uint32_t{0}, "REG_DWORD"},
        {"One", std::uint32_t{1}, "REG_DWORD"},
        {"Largest", std::uint32_t{0xFFFFFFFFu}, "REG_DWORD"},
    };
    for (const auto& c : cases)
        registry.RegWrite(key + "\\Sub\\" + c.name, c.value, c.type);
    for (const auto& c : cases)
        EXPECT_EQ(registry.RegRead(key + "\\Sub\\" + c.name), c.value) << c.name;

    // Stored with the registry's own types, as other programs read them.
    DWORD type = 0;
    DWORD size = 0;
    ASSERT_EQ(::RegGetValueW(HKEY_CURRENT_USER, (subKey + L"\\Sub").c_str(), L"One", RRF_RT_ANY, &type, nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    wchar_t text[64] = {};
    size = sizeof text;
    ASSERT_EQ(
        ::RegGetValueW(HKEY_CURRENT_USER, (subKey + L"\\Sub").c_str(), L"NonAscii", RRF_RT_REG_SZ, &type, text, &size),
        ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(text), std::wstring(L"pr\u00F6xy-\u65E5\u672C:80 \U0001F600"));
    EXPECT_EQ(notified, 0) << "only the Internet Settings key tells running programs";
}

TEST_F(Win32RegistryTest, MissingValuesAndKeysReadAsNothing) {
    EXPECT_EQ(registry.RegRead(key + "\\Nowhere\\ProxyServer"), std::nullopt);
    registry.RegWrite(key + "\\Here\\Other", std::string("x"), "REG_SZ");
    EXPECT_EQ(registry.RegRead(key + "\\Here\\ProxyServer"), std::nullopt);
    // A name ending in a backslash is the key's default value.
    EXPECT_EQ(registry.RegRead(key + "\\Here\\"), std::nullopt);
    registry.RegWrite(key + "\\Here\\", std::string("default"), "REG_SZ");
    EXPECT_EQ(registry.RegRead(key + "\\Here\\"), RegValue{std::string("default")});
    EXPECT_EQ(registry.RegRead("HKCU\\" + key.substr(key.find('\\') + 1) + "\\Here\\Other"),
              RegValue{std::string("x")});
}

TEST_F(Win32RegistryTest, BadNamesTypesAndNumbersAreRefusedWithAReason) {
    const auto refused = [&](auto call, const std::string& says) {
        try {
            call();
            ADD_FAILURE() << "not refused: " << says;
        } catch (const RegistryError& error) {
            EXPECT_NE(std::string(error.what()).find(says), std::string::npos) << error.what();
        }
    };
    refused([&] { registry.RegWrite("HKEY_NOWHERE\\Software\\X", std::string("x"), "REG_SZ"); }, "HKEY_NOWHERE");
    refused([&] { registry.RegWrite("ProxyServer", std::string("x"), "REG_SZ"); }, "no key");
    refused([&] { registry.RegWrite(key + "\\Bin", std::string("x"), "REG_BINARY"); }, "REG_BINARY");
    refused([&] { registry.RegWrite(key + "\\Num", std::string("one"), "REG_DWORD"); }, "one");
    EXPECT_EQ(registry.RegRead(key + "\\Num"), std::nullopt) << "nothing half-written";
    registry.RegWrite(key + "\\Num", std::string("7"), "REG_DWORD");
    EXPECT_EQ(registry.RegRead(key + "\\Num"), RegValue{std::uint32_t{7}});
}

TEST_F(Win32RegistryTest, WritesToInternetSettingsTellRunningPrograms) {
    const std::string settings = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    const std::string probe = settings + "\\TamberlyTestProbe";
    registry.RegWrite(probe, std::uint32_t{1}, "REG_DWORD");
    EXPECT_EQ(notified, 1);
    // The real notification: under Wine the refresh fails, which must not matter.
    Win32Registry real;
    EXPECT_NO_THROW(real.RegWrite(probe, std::uint32_t{2}, "REG_DWORD"));
    EXPECT_EQ(real.RegRead(probe), RegValue{std::uint32_t{2}});
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
                         L"TamberlyTestProbe");
}

} // namespace
} // namespace tamberly
