#include "storage/proxy_list_store.h"

#include "platform/list_box.h"
#include "storage/ds_encrypt.h"
#include "storage/ini_file.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tamberly {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

// Records each AddItems call, to see that a whole list arrives in one call.
class RecordingListBox final : public ListBox {
public:
    std::vector<std::string> rows;
    int batches = 0;
    void AddItem(const std::string& text) override { rows.push_back(text); }
    void AddItems(const std::vector<std::string>& more) override {
        ++batches;
        rows.insert(rows.end(), more.begin(), more.end());
    }
    void Clear() override { rows.clear(); }
    int ListIndex() const override { return -1; }
    int ListCount() const override { return static_cast<int>(rows.size()); }
    std::string List(int i) const override { return rows.at(static_cast<std::size_t>(i)); }
};

TEST(FillListTest, SplitsEntriesAtEachStar) {
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
    for (const Case& c : cases) {
        RecordingListBox box;
        box.rows = {"kept"};
        FillList(c.text, box);
        std::vector<std::string> expected = {"kept"};
        expected.insert(expected.end(), c.rows.begin(), c.rows.end());
        EXPECT_EQ(box.rows, expected) << c.name;
        EXPECT_EQ(box.batches, c.rows.empty() ? 0 : 1) << c.name;
    }
}

TEST(FillListTest, WorksThroughTheDefaultAddItems) {
    test::FakeListBox box;
    FillList("a:1*b:2*", box);
    EXPECT_EQ(box.rows, (std::vector<std::string>{"a:1", "b:2"}));
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
    TempDir m_dir;
    std::string m_ini = m_dir.file("tamberly/prefs.ini");
};

TEST_F(ProxyListStoreTest, LongListSurvivesSaveAndLoad) {
    const std::string text = listOf(1000);
    ASSERT_GT(text.size(), 10000u);
    ASSERT_TRUE(SaveList(text, m_ini));
    EXPECT_EQ(readFile(m_ini).find("10.0.1.1:"), std::string::npos) << "the list is stored scrambled";
    EXPECT_EQ(LoadList(m_ini), text);

    RecordingListBox box;
    FillList(LoadList(m_ini), box);
    ASSERT_EQ(box.rows.size(), 1000u);
    EXPECT_EQ(box.rows.front(), "10.0.0.1:1000");
    EXPECT_EQ(box.rows.back(), "10.3.249.1:1999");
}

TEST_F(ProxyListStoreTest, AnyTextSurvivesSaveAndLoad) {
    std::string text(dsEncrypt::Alphabet());
    text += "*\t\xC3\xA9 host:80 *\r\n\"quoted\"*";
    const std::vector<std::string> texts = {text, " ", "\r\n", "\"", "8", std::string(dsEncrypt::Alphabet()) + " "};
    for (const std::string& t : texts) {
        ASSERT_TRUE(SaveList(t, m_ini));
        EXPECT_EQ(LoadList(m_ini), t);
    }
}

TEST_F(ProxyListStoreTest, SaveReplacesTheListAndKeepsTheBrowserPath) {
    writeFile(m_ini, "[Path]\r\nIE=C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE\r\n");
    ASSERT_TRUE(SaveList("a:1*", m_ini));
    ASSERT_TRUE(SaveList("b:2*c:3*", m_ini));
    EXPECT_EQ(LoadList(m_ini), "b:2*c:3*");
    EXPECT_EQ(ReadINI("Path", "IE", m_ini), "C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE");
}

TEST_F(ProxyListStoreTest, ReadsAListStoredByTheClassicProgram) {
    // Worked out by hand, not with the cipher under test: byte i of the stored text is the alphabet symbol at
    // (position of key[i mod 6] - position of text[i]) mod 97, key "VELTOR". The first: 'V' is at 50, '1' at 56,
    // (50 - 56) mod 97 = 91, which is '|'.
    const std::string stored = "|/}'M{`SL:O'&z&=)::EZR,=V1";
    writeFile(m_ini, "[Proxy]\r\nProxylist=" + stored + "\r\n");
    EXPECT_EQ(LoadList(m_ini), "1.2.3.4:8080*5.6.7.8:3128*");
}

TEST_F(ProxyListStoreTest, NothingStoredLoadsEmpty) {
    EXPECT_EQ(LoadList(m_ini), "");
    writeFile(m_ini, "[Proxy]\nProxylist=\n");
    EXPECT_EQ(LoadList(m_ini), "");
}

TEST_F(ProxyListStoreTest, FailedSaveReportsAndKeepsTheStoredList) {
    ASSERT_TRUE(SaveList("a:1*", m_ini));
    const std::string before = readFile(m_ini);
    std::string why;
    EXPECT_FALSE(SaveList("b:2*", m_ini + "/prefs.ini", why));
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(readFile(m_ini), before);
    EXPECT_EQ(LoadList(m_ini), "a:1*");
}

} // namespace
} // namespace tamberly
