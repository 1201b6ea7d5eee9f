#include "core/proxy_list_store.h"

#include "core/list_cipher.h"
#include "core/settings.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tamberly {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

std::vector<std::string> rowsOf(const std::string& text) {
    const auto views = splitListText(text);
    return {views.begin(), views.end()};
}

TEST(SplitListText, SplitsEntriesAtEachStar) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> rows;
    };
    const std::vector<Case> cases = {
        {"two entries", "1.2.3.4:80*5.6.7.8:3128*", {"1.2.3.4:80", "5.6.7.8:3128"}},
        {"text after the last star is dropped", "1.2.3.4:80*5.6.7.8:3128", {"1.2.3.4:80"}},
        {"leading star gives an empty first row", "*a:1*b:2*", {"", "a:1", "b:2"}},
        {"two stars in a row give an empty row", "a:1**b:2*", {"a:1", "", "b:2"}},
        {"empty text", "", {}},
        {"no star at all", "a:1", {}},
        {"a lone star", "*", {""}},
        {"blanks and line breaks are kept", "a:1*\r\nb:2 * c:3\n*", {"a:1", "\r\nb:2 ", " c:3\n"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(rowsOf(c.text), c.rows) << c.name;
}

std::string listOf(int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text +=
            "10." + std::to_string(i / 250) + "." + std::to_string(i % 250) + ".1:" + std::to_string(1000 + i) + "*";
    return text;
}

class ProxyListStoreTest : public ::testing::Test {
protected:
    // Each through a settings object of its own, as separate commands would.
    static std::string load(const std::string& path) {
        Settings settings(path);
        return ProxyListStore(settings).load();
    }
    static std::string save(const std::string& text, const std::string& path) {
        Settings settings(path);
        return ProxyListStore(settings).save(text);
    }

    TempDir m_dir;
    std::string m_ini = m_dir.file("tamberly/prefs.ini");
};

TEST_F(ProxyListStoreTest, LongListSurvivesSaveAndLoad) {
    const std::string text = listOf(1000);
    ASSERT_GT(text.size(), 10000u);
    ASSERT_EQ(save(text, m_ini), "");
    EXPECT_EQ(readFile(m_ini).find("10.0.1.1:"), std::string::npos) << "the list is stored scrambled";
    EXPECT_EQ(load(m_ini), text);

    const auto rows = rowsOf(load(m_ini));
    ASSERT_EQ(rows.size(), 1000u);
    EXPECT_EQ(rows.front(), "10.0.0.1:1000");
    EXPECT_EQ(rows.back(), "10.3.249.1:1999");
}

TEST_F(ProxyListStoreTest, AnyTextSurvivesSaveAndLoad) {
    std::string text(ListCipher::alphabet());
    text += "*\t\xC3\xA9 host:80 *\r\n\"quoted\"*";
    const std::vector<std::string> texts = {text, " ", "\r\n", "\"", "8", std::string(ListCipher::alphabet()) + " "};
    for (const std::string& t : texts) {
        ASSERT_EQ(save(t, m_ini), "");
        EXPECT_EQ(load(m_ini), t);
    }
}

TEST_F(ProxyListStoreTest, SaveReplacesTheListAndKeepsTheBrowserPath) {
    writeFile(m_ini, "[Path]\r\nIE=C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE\r\n");
    ASSERT_EQ(save("a:1*", m_ini), "");
    ASSERT_EQ(save("b:2*c:3*", m_ini), "");
    EXPECT_EQ(load(m_ini), "b:2*c:3*");
    EXPECT_EQ(Settings(m_ini).browserPath(), "C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE");
}

TEST_F(ProxyListStoreTest, ReadsAListStoredByTheClassicProgram) {
    // Worked out by hand, not with the cipher under test: byte i of the stored text is the alphabet symbol at
    // (position of key[i mod 6] - position of text[i]) mod 97, key "VELTOR". The first: 'V' is at 50, '1' at 56,
    // (50 - 56) mod 97 = 91, which is '|'.
    const std::string stored = "|/}'M{`SL:O'&z&=)::EZR,=V1";
    writeFile(m_ini, "[Proxy]\r\nProxylist=" + stored + "\r\n");
    EXPECT_EQ(load(m_ini), "1.2.3.4:8080*5.6.7.8:3128*");
}

TEST_F(ProxyListStoreTest, NothingStoredLoadsEmpty) {
    EXPECT_EQ(load(m_ini), "");
    writeFile(m_ini, "[Proxy]\nProxylist=\n");
    EXPECT_EQ(load(m_ini), "");
}

TEST_F(ProxyListStoreTest, FailedSaveReportsAndKeepsTheStoredList) {
    ASSERT_EQ(save("a:1*", m_ini), "");
    const std::string before = readFile(m_ini);
    EXPECT_FALSE(save("b:2*", m_ini + "/prefs.ini").empty());
    EXPECT_EQ(readFile(m_ini), before);
    EXPECT_EQ(load(m_ini), "a:1*");
}

} // namespace
} // namespace tamberly
