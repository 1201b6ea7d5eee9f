#include "platform/windows/win32_registry_key.h"

#include "platform/windows/wide_text.h"
#include "scratch_key.h"

#include <gtest/gtest.h>

#include <string>

#include <windows.h>

namespace tamberly {
namespace {

struct Win32RegistryKeyTest : ::testing::Test {
    test::ScratchKey scratch;
};

TEST_F(Win32RegistryKeyTest, TextsAndNumbersComeBackAsWritten) {
    const struct {
        std::string name;
        RegistryData data;
    } cases[] = {
        {"Plain", std::string("proxy.example:8080")},
        {"Quotes", std::string(R"(say "hi" \ back\slash)")},
        {"NonAscii", std::string("pr\xC3\xB6xy-\xE6\x97\xA5\xE6\x9C\xAC:80 \xF0\x9F\x98\x80")},
        {"LineBreaks", std::string("one\r\ntwo\nthree")},
        {"Empty", std::string()},
        {"Zero", std::uint32_t{0}},
        {"One", std::uint32_t{1}},
        {"Largest", std::uint32_t{0xFFFFFFFFu}},
    };
    Win32RegistryKey key = scratch.key("Sub");
    for (const auto& c : cases)
        EXPECT_EQ(key.write(c.name, c.data), "") << c.name;
    for (const auto& c : cases) {
        const RegistryRead read = key.read(c.name);
        EXPECT_EQ(read.data, c.data) << c.name;
        EXPECT_EQ(read.why, "") << c.name;
    }

    // Stored with the registry's own types, as other programs read them.
    const std::wstring path = widen(scratch.path() + "\\Sub");
    DWORD type = 0;
    DWORD size = 0;
    ASSERT_EQ(::RegGetValueW(HKEY_CURRENT_USER, path.c_str(), L"One", RRF_RT_ANY, &type, nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    wchar_t text[64] = {};
    size = sizeof text;
    ASSERT_EQ(::RegGetValueW(HKEY_CURRENT_USER, path.c_str(), L"NonAscii", RRF_RT_REG_SZ, &type, text, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(text), std::wstring(L"pr\u00F6xy-\u65E5\u672C:80 \U0001F600"));
}

TEST_F(Win32RegistryKeyTest, MissingValuesAndKeysReadAsNothingAndRemoveAsNothing) {
    const RegistryRead nothing;
    EXPECT_EQ(scratch.key("Nowhere").read("ProxyServer").data, nothing.data);
    EXPECT_EQ(scratch.key("Nowhere").remove("ProxyServer"), "");

    Win32RegistryKey here = scratch.key("Here");
    ASSERT_EQ(here.write("Other", std::string("x")), "");
    EXPECT_EQ(here.read("ProxyServer").data, nothing.data);
    EXPECT_EQ(here.remove("ProxyServer"), "");
    // The empty name is the key's default value.
    EXPECT_EQ(here.read("").data, nothing.data);
    ASSERT_EQ(here.write("", std::string("default")), "");
    EXPECT_EQ(here.read("").data, RegistryData{std::string("default")});
    EXPECT_EQ(Win32RegistryKey(RegistryRoot::CurrentUser, scratch.path()).subKey("Here").read("Other").data,
              RegistryData{std::string("x")});

    EXPECT_EQ(here.remove("Other"), "");
    EXPECT_EQ(here.read("Other").data, nothing.data);
    EXPECT_EQ(here.read("").data, RegistryData{std::string("default")}) << "only the one value goes";
}

TEST_F(Win32RegistryKeyTest, FailuresNameTheValueAndGiveTheSystemsReason) {
    const std::string denied = "HKEY_CURRENT_USER\\" + scratch.path() + "\\Locked\\ProxyServer";
    const std::string accessDenied = systemErrorText(ERROR_ACCESS_DENIED);
    Win32RegistryKey locked = scratch.key("Locked");
    ASSERT_EQ(locked.write("ProxyServer", std::string("old.example:1")), "");
    scratch.deny("Locked");
    EXPECT_EQ(locked.write("ProxyServer", std::string("new.example:2")),
              "Cannot open the registry key of \"" + denied + "\": " + accessDenied);
    EXPECT_EQ(locked.remove("ProxyServer"), "Cannot open the registry key of \"" + denied + "\": " + accessDenied);
    EXPECT_EQ(locked.read("ProxyServer").data, RegistryData{std::string("old.example:1")}) << "nothing changed";

    scratch.deny("Closed", true);
    EXPECT_EQ(scratch.key("Closed").read("ProxyEnable").why, "Cannot open the registry key of \"HKEY_CURRENT_USER\\" +
                                                                 scratch.path() +
                                                                 "\\Closed\\ProxyEnable\": " + accessDenied);

    scratch.writeBinary("Binary", "ProxyEnable", std::string("\x01\x00\x00\x00", 4));
    const RegistryRead binary = scratch.key("Binary").read("ProxyEnable");
    EXPECT_FALSE(binary.data);
    EXPECT_EQ(binary.why, "Cannot read \"HKEY_CURRENT_USER\\" + scratch.path() +
                              "\\Binary\\ProxyEnable\": its type is neither text nor a number");
}

} // namespace
} // namespace tamberly
