#include "core/list_cipher.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace tamberly {
namespace {

const std::string kLiteral =
    "8x3p5BeabcdfghijklmnoqrstuvwyzACDEFGHIJKLMNOPQRSTUVWXYZ 1246790-.#/\\!@$<>&*()[]{}';:,?=+~`^|%_";

// The cipher done the long way: 97 rotated rows, searched for the first row whose column for the text symbol
// holds the key symbol. Bytes outside the alphabet pass through; an unknown key symbol drops the text symbol.
class TableCipher {
public:
    TableCipher() {
        const std::string alphabet = kLiteral + "\r\n\"";
        m_rows.push_back(alphabet);
        for (int r = 1; r < 97; ++r) {
            const std::string& prev = m_rows.back();
            m_rows.push_back(prev.substr(1) + prev.substr(0, 1));
        }
    }
    std::string encrypt(const std::string& text, const std::string& key) const {
        std::string out;
        if (key.empty())
            return out;
        std::size_t k = 0;
        for (char c : text) {
            const std::size_t p = m_rows[0].find(c);
            if (p == std::string::npos) {
                out += c;
            } else {
                for (const std::string& row : m_rows) {
                    if (row[p] == key[k]) {
                        out += row[0];
                        break;
                    }
                }
            }
            k = (k + 1) % key.size();
        }
        return out;
    }

private:
    std::vector<std::string> m_rows;
};

std::string encrypt(const std::string& text, const std::string& key) {
    return ListCipher(key).apply(text);
}

std::string randomText(std::mt19937& rng, std::size_t length, const std::string& symbols) {
    std::uniform_int_distribution<std::size_t> pick(0, symbols.size() - 1);
    std::string text(length, '\0');
    for (char& c : text)
        c = symbols[pick(rng)];
    return text;
}

TEST(ListCipherTest, AlphabetIsTheDocumentedNinetySevenSymbols) {
    const int codes[97] = {56,  120, 51,  112, 53,  66,  101, 97,  98,  99,  100, 102, 103, 104, 105, 106, 107,
                           108, 109, 110, 111, 113, 114, 115, 116, 117, 118, 119, 121, 122, 65,  67,  68,  69,
                           70,  71,  72,  73,  74,  75,  76,  77,  78,  79,  80,  81,  82,  83,  84,  85,  86,
                           87,  88,  89,  90,  32,  49,  50,  52,  54,  55,  57,  48,  45,  46,  35,  47,  92,
                           33,  64,  36,  60,  62,  38,  42,  40,  41,  91,  93,  123, 125, 39,  59,  58,  44,
                           63,  61,  43,  126, 96,  94,  124, 37,  95,  13,  10,  34};
    const std::string_view alphabet = ListCipher::alphabet();
    ASSERT_EQ(alphabet.size(), 97u);
    EXPECT_EQ(alphabet.substr(0, 94), kLiteral);
    for (int i = 0; i < 97; ++i)
        EXPECT_EQ(static_cast<unsigned char>(alphabet[static_cast<std::size_t>(i)]), codes[i]) << "position " << i + 1;
}

TEST(ListCipherTest, ClosedFormEqualsTableSearchForEveryPair) {
    const TableCipher table;
    const std::string_view alphabet = ListCipher::alphabet();
    for (char text : alphabet) {
        for (char key : alphabet) {
            const std::string expected = table.encrypt(std::string(1, text), std::string(1, key));
            ASSERT_EQ(expected.size(), 1u);
            ASSERT_EQ(encrypt(std::string(1, text), std::string(1, key)), expected)
                << "text " << int(text) << " key " << int(key);
        }
    }
}

TEST(ListCipherTest, EdgeCases) {
    struct Case {
        const char* name;
        std::string text;
        std::string key;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"empty text", "", "VELTOR", ""},
        {"empty key", "1.2.3.4:80*", "", ""},
        {"empty key drops even bytes outside the alphabet", "\t\xE9", "", ""},
        {"symbol equal to its key symbol gives the first symbol", "VELTOR", "VELTOR", "888888"},
        {"key symbol outside the alphabet drops the text symbol, key still advances", "abc", "a\tc", "88"},
        {"byte outside the alphabet passes through, key still advances", "a\tc", "abc", "8\t8"},
        {"byte outside the alphabet passes through under an unknown key symbol", "\xFF", "\t", "\xFF"},
        {"CR, LF, quote and space come out of the cipher", "p3xN", "8888", "\r\n\" "},
        {"and are scrambled like any other symbol", "\r\n\" ", "8888", "p3xN"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(encrypt(c.text, c.key), c.expected) << c.name;
        EXPECT_EQ(TableCipher().encrypt(c.text, c.key), c.expected) << c.name << " (reference)";
    }

    EXPECT_EQ(ListCipher("").apply("1.2.3.4:80*"), "") << "an empty key matches no row";
    EXPECT_NE(encrypt("a", "VELTOR"), encrypt("A", "VELTOR"));
    EXPECT_NE(encrypt("x", "v"), encrypt("x", "V"));
}

TEST(ListCipherTest, KeyRepeatsOverTheText) {
    const std::string text = "10.0.0.1:3128*10.0.0.2:8080*";
    const std::string key = "VELTOR";
    const std::string whole = encrypt(text, key);
    ASSERT_EQ(whole.size(), text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        EXPECT_EQ(whole[i], encrypt(text.substr(i, 1), key.substr(i % key.size(), 1))[0]) << "position " << i + 1;
}

TEST(ListCipherTest, TheDefaultKeyIsTheStoredListsKey) {
    EXPECT_EQ(ListCipher().apply("host:80*"), encrypt("host:80*", "VELTOR"));
    EXPECT_NE(ListCipher("other").apply("host:80*"), ListCipher().apply("host:80*"));
}

TEST(ListCipherTest, MatchesTableSearchAndUndoesItselfOnRandomTexts) {
    std::mt19937 rng(20240613);
    std::string symbols(ListCipher::alphabet());
    symbols += "\t\x01\x7F\x80\xE9\xFF";
    symbols += std::string(20, '\r') + std::string(20, '\n') + std::string(20, '"') + std::string(20, ' ');
    const TableCipher table;
    const std::vector<std::size_t> keyLengths = {1, 2, 6, 7, 64, 200};
    const std::vector<std::size_t> textLengths = {0, 1, 5, 6, 7, 199, 1000, 40000};
    for (std::size_t keyLength : keyLengths) {
        const std::string key = randomText(rng, keyLength, std::string(ListCipher::alphabet()));
        for (std::size_t textLength : textLengths) {
            const std::string text = randomText(rng, textLength, symbols);
            const std::string scrambled = encrypt(text, key);
            ASSERT_EQ(scrambled, table.encrypt(text, key)) << "key " << keyLength << " text " << textLength;
            ASSERT_EQ(scrambled.size(), text.size());
            ASSERT_EQ(encrypt(scrambled, key), text) << "key " << keyLength << " text " << textLength;
        }
    }
}

TEST(ListCipherTest, UnknownKeySymbolsMatchTableSearchOnRandomTexts) {
    std::mt19937 rng(7);
    std::string symbols(ListCipher::alphabet());
    symbols += "\t\xC3\xA9";
    const TableCipher table;
    for (int round = 0; round < 50; ++round) {
        const std::string key = randomText(rng, 1 + round % 9, symbols);
        const std::string text = randomText(rng, 300, symbols);
        ASSERT_EQ(encrypt(text, key), table.encrypt(text, key)) << "round " << round;
    }
}

} // namespace
} // namespace tamberly
