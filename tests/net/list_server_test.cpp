// The list server's address and the encoding of a query value.
#include "net/list_server.h"

#include "storage/ini_file.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>

namespace tamberly::test {
namespace {

TEST(ListServerUrl, ComesFromTheSettingsWithoutTrailingSlash) {
    ScopedUserHome home;
    const std::string iniPath = home.configDir() + "/prefs.ini";
    EXPECT_EQ(listServerUrl(iniPath), "http://127.0.0.1:8642") << "no settings file yet";

    const struct {
        std::string stored;
        std::string base;
    } cases[] = {
        {"", "http://127.0.0.1:8642"},
        {"http://lists.example:9000", "http://lists.example:9000"},
        {"http://lists.example:9000/", "http://lists.example:9000"},
        {"https://lists.example//", "https://lists.example"},
        {"http://lists.example/mirror/", "http://lists.example/mirror"},
        {"/", "http://127.0.0.1:8642"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(WriteINI("Server", "URL", c.stored, iniPath));
        EXPECT_EQ(listServerUrl(iniPath), c.base) << c.stored;
    }
}

TEST(EncodeQueryValue, KeepsOnlyUnreservedCharactersAndColons) {
    const struct {
        std::string entry;
        std::string encoded;
    } cases[] = {
        {"10.0.0.1:80", "10.0.0.1:80"},
        {"proxy-1.example_net~x:3128", "proxy-1.example_net~x:3128"},
        {"10.0.0.1 :80", "10.0.0.1%20:80"},
        {"a&proxy=forged", "a%26proxy%3Dforged"},
        {"a#fragment", "a%23fragment"},
        {"100%", "100%25"},
        {"a+b", "a%2Bb"},
        {"caf\xC3\xA9:80", "caf%C3%A9:80"},
        {"\xFF\x01", "%FF%01"},
        {"[::1]:8080", "%5B::1%5D:8080"},
        {"a/b?c", "a%2Fb%3Fc"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(encodeQueryValue(c.entry), c.encoded) << c.entry;
}

} // namespace
} // namespace tamberly::test
