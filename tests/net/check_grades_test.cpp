// The check's grades from what a judge saw, and the judge's plain answer.
#include "net/check_grades.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tamberly {
namespace {

TEST(GradeAnonymity, TellsTransparentAnonymousAndEliteApart) {
    const std::vector<std::string> own = {"127.0.0.1", "2001:db8::5"};
    struct Case {
        const char* what;
        std::string client;
        std::vector<std::pair<std::string, std::string>> headers;
        Anonymity grade;
    };
    const std::vector<std::pair<std::string, std::string>> ordinary = {
        {"Host", "127.0.0.1:8642"}, {"User-Agent", "tamberly-check"}, {"Accept", "*/*"}};
    const Case cases[] = {
        {"nothing added", "127.0.0.4", ordinary, Anonymity::Elite},
        {"own address in X-Forwarded-For", "127.0.0.2", {{"X-Forwarded-For", "127.0.0.1"}}, Anonymity::Transparent},
        {"own address first in a list",
         "127.0.0.2",
         {{"X-Forwarded-For", "127.0.0.1, 10.0.0.1"}},
         Anonymity::Transparent},
        {"own address with a port", "127.0.0.2", {{"X-Client", "127.0.0.1:50312"}}, Anonymity::Transparent},
        {"own address in an unusual header",
         "127.0.0.2",
         {{"X-Customer-Of", "user 127.0.0.1"}},
         Anonymity::Transparent},
        {"the judge saw the own address", "127.0.0.1", ordinary, Anonymity::Transparent},
        {"IPv6 own address spelt out", "127.0.0.2", {{"X-Client", "2001:DB8:0:0:0:0:0:0005"}}, Anonymity::Transparent},
        {"IPv6 own address in Forwarded",
         "127.0.0.2",
         {{"Forwarded", "for=\"[2001:db8:0::5]:4711\""}},
         Anonymity::Transparent},
        {"own IPv4 address mapped", "127.0.0.2", {{"X-Origin", "::ffff:127.0.0.1"}}, Anonymity::Transparent},
        {"Via only", "127.0.0.3", {{"Host", "h"}, {"Via", "1.1 squid"}}, Anonymity::Anonymous},
        {"another address in X-Forwarded-For", "127.0.0.3", {{"x-forwarded-for", "10.9.9.9"}}, Anonymity::Anonymous},
        {"a longer address is not the own one",
         "127.0.0.3",
         {{"X-Forwarded-For", "127.0.0.10, 227.0.0.1"}},
         Anonymity::Anonymous},
        {"CGI-style names", "127.0.0.3", {{"HTTP_X_FORWARDED_FOR", "10.9.9.9"}}, Anonymity::Anonymous},
        {"CGI-style Via", "127.0.0.3", {{"http_via", "proxy"}}, Anonymity::Anonymous},
        {"underscores", "127.0.0.3", {{"X_Real_IP", "10.9.9.9"}}, Anonymity::Anonymous},
        {"Forwarded", "127.0.0.3", {{"Forwarded", "for=unknown"}}, Anonymity::Anonymous},
        {"Client-IP", "127.0.0.3", {{"CLIENT-IP", "10.9.9.9"}}, Anonymity::Anonymous},
        {"X-Proxy-ID", "127.0.0.3", {{"X-Proxy-Id", "1234"}}, Anonymity::Anonymous},
        {"a header that merely starts like one", "127.0.0.3", {{"X-Forwarded-Fortune", "x"}}, Anonymity::Elite},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(gradeAnonymity({c.client, c.headers}, own), c.grade) << c.what;
    }
    // Without an own address nothing is transparent: the proxy's headers still tell.
    EXPECT_EQ(gradeAnonymity({"127.0.0.2", {{"X-Forwarded-For", "127.0.0.1"}}}, {}), Anonymity::Anonymous);
}

TEST(JudgeAnswer, ReadsWhatItWritesAndNothingElse) {
    const JudgeAnswer sent{"2001:db8::5", {{"Host", "judge:80"}, {"x-Odd_Name", "a: b"}, {"Empty", ""}}};
    const std::string text = formatJudgeAnswer(sent);
    EXPECT_EQ(text, "tamberly-judge 2001:db8::5\nHost: judge:80\nx-Odd_Name: a: b\nEmpty: \n");
    JudgeAnswer read;
    ASSERT_TRUE(parseJudgeAnswer(text, read));
    EXPECT_EQ(read.clientAddress, sent.clientAddress);
    EXPECT_EQ(read.headers, sent.headers);

    // Line ends of either kind, no headers at all.
    ASSERT_TRUE(parseJudgeAnswer("tamberly-judge 10.0.0.1\r\nVia: x\r\n", read));
    EXPECT_EQ(read.clientAddress, "10.0.0.1");
    EXPECT_EQ(read.headers, (std::vector<std::pair<std::string, std::string>>{{"Via", "x"}}));
    EXPECT_TRUE(parseJudgeAnswer("tamberly-judge 10.0.0.1", read));
    // Stray carriage returns and blanks around a value are no part of it, so what is written reads back the same.
    ASSERT_TRUE(parseJudgeAnswer("tamberly-judge 10.0.0.1\r\t\r\r\nVia: x \r\t\r\n", read));
    EXPECT_EQ(read.clientAddress, "10.0.0.1");
    EXPECT_EQ(read.headers, (std::vector<std::pair<std::string, std::string>>{{"Via", "x"}}));

    for (const char* other : {"", "tamberly-check-ok", "<html><body>Sign in</body></html>", "tamberly-judge \n",
                              "tamberly-judge 10.0.0.1\nnot a header line\n", "tamberly-judge 10.0.0.1\n: x\n",
                              " tamberly-judge 10.0.0.1\n"})
        EXPECT_FALSE(parseJudgeAnswer(other, read)) << other;
}

} // namespace
} // namespace tamberly
