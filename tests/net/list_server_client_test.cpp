// The list server's requests, the encoding of a query value and the server's reasons as shown.
#include "net/list_server_client.h"

#include <gtest/gtest.h>

#include <string>

namespace tamberly::test {
namespace {

TEST(ListServerRequests, AllLieUnderTheBaseUrlWithTheEntryEncoded) {
    const std::string base = "http://lists.example:9000/mirror";
    EXPECT_EQ(list_server::listUrl(base), base + "/Tamberly/update.php");
    EXPECT_EQ(list_server::submitUrl(base, "a b:1"), base + "/Tamberly/addproxy.php?proxy=a%20b:1");
    EXPECT_EQ(list_server::reportUrl(base, "[::1]:80"), base + "/Tamberly/deadproxy.php?proxy=%5B::1%5D:80");
    EXPECT_EQ(list_server::pageUrl(base), base + "/Tamberly/index.php");
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

// A reason from the server is shown in the status line: one line of visible text, never markup or control codes.
TEST(ServerReasonLine, KeepsOneShortLineOfVisibleText) {
    const std::string e = "\xC3\xA9"; // one character, two bytes
    const struct {
        const char* name;
        std::string raw;
        std::string shown;
    } cases[] = {
        {"plain", "port must be a number from 1 to 65535", "port must be a number from 1 to 65535"},
        {"first line only", "host is missing\nsecond line\n", "host is missing"},
        {"carriage return ends it", "bad entry\r\nmore", "bad entry"},
        {"blank ends trimmed", "  padded reason \n", "padded reason"},
        {"controls removed", std::string("a\x01\tb\x1B[31mc\x7F\0d", 13), "ab[31mcd"},
        {"C1 and direction marks removed",
         "a\xC2\x85"
         "b\xE2\x80\xAE"
         "c\xE2\x81\xA6"
         "d\xE2\x80\x8F",
         "abcd"},
        {"bytes that are not UTF-8 removed",
         "a\xFF"
         "b\xC3(c\xED\xA0\x80"
         "d\xC0\xAF",
         "ab(cd"},
        {"other characters kept", "caf" + e + " \xE2\x9C\x93", "caf" + e + " \xE2\x9C\x93"},
        {"cut at 200 characters", std::string(250, 'x'), std::string(200, 'x')},
        {"cut between characters",
         "a" + std::string(100, 'x') +
             [&] {
                 std::string many;
                 for (int i = 0; i < 150; ++i)
                     many += e;
                 return many;
             }(),
         "a" + std::string(100, 'x') +
             [&] {
                 std::string kept;
                 for (int i = 0; i < 99; ++i)
                     kept += e;
                 return kept;
             }()},
        {"nothing visible", "\x01\x02 \n text", ""},
        {"empty", "", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(serverReasonLine(c.raw), c.shown) << c.name;
}

TEST(TransferFailureText, AddsTheServerReasonWhenThereIsOne) {
    EXPECT_EQ(transferFailureText({false, {}, "the server answered 400 Bad Request", "host is missing\n"}),
              "host is missing (the server answered 400 Bad Request)");
    EXPECT_EQ(transferFailureText({false, {}, "the server answered 404 Not Found", "\x01\n"}),
              "the server answered 404 Not Found");
    EXPECT_EQ(transferFailureText({false, {}, "the server refused the connection"}),
              "the server refused the connection");
}

} // namespace
} // namespace tamberly::test
