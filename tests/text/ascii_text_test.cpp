// The small text helpers every layer shares.
#include "text/ascii_text.h"
#include "text/utf8.h"
#include "text/quantity_text.h"

#include <gtest/gtest.h>

#include <string>

namespace tamberly {
namespace {

TEST(AsciiTextTest, TrimTakesOnlyTheGivenBlanksAtTheEnds) {
    struct Case {
        std::string text;
        std::string_view blanks;
        std::string trimmed;
    };
    const Case cases[] = {
        {" \t\r\n\v\fa b\f\v\n\r\t ", kAsciiBlanks, "a b"},
        {"\r\n a \n", " \t\r", "\n a \n"}, // a line break is kept where only blanks and returns go
        {" \t\r ", " \t\r", ""},
        {"", kAsciiBlanks, ""},
        {"\xC2\xA0x\xC2\xA0", kAsciiBlanks, "\xC2\xA0x\xC2\xA0"}, // a no-break space is not an ASCII blank
    };
    for (const auto& c : cases)
        EXPECT_EQ(trim(c.text, c.blanks), c.trimmed) << c.text;
}

TEST(AsciiTextTest, CaseBlindComparisonFoldsOnlyAsciiLetters) {
    EXPECT_TRUE(equalsIgnoringCase("ProxyEnable", "PROXYENABLE"));
    EXPECT_TRUE(equalsIgnoringCase("", ""));
    EXPECT_FALSE(equalsIgnoringCase("open", "opens"));
    EXPECT_FALSE(equalsIgnoringCase("\xC4", "\xE4"));
    EXPECT_FALSE(equalsIgnoringCase("@", "`")); // 0x40 and 0x60 differ by the case bit but are not letters
    EXPECT_FALSE(equalsIgnoringCase("[", "{"));
    EXPECT_EQ(lowerAscii("Firefox-ESR \xC4Z"), "firefox-esr \xC4z");
}

TEST(AsciiTextTest, HexDigitValues) {
    const std::string digits = "0123456789abcdefABCDEF";
    const int values[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 10, 11, 12, 13, 14, 15};
    for (std::size_t i = 0; i < digits.size(); ++i)
        EXPECT_EQ(hexDigitValue(digits[i]), values[i]) << digits[i];
    for (const char c : std::string("gG/:@`\x00\xFF", 8))
        EXPECT_EQ(hexDigitValue(c), -1) << static_cast<int>(c);
}

TEST(AsciiTextTest, PercentEncodingWritesRefusedBytesAsUpperCaseHex) {
    const auto keepLetters = [](unsigned char byte) { return byte >= 'a' && byte <= 'z'; };
    EXPECT_EQ(percentEncode(std::string("a b%\x00\x7F\xFFz", 8), keepLetters), "a%20b%25%00%7F%FFz");
    EXPECT_EQ(percentEncode("", keepLetters), "");
}

TEST(QuantityTextTest, DurationsAndSizesInTheirLargestWholeUnit) {
    using std::chrono::milliseconds;
    EXPECT_EQ(durationText(milliseconds(1000)), "1 second");
    EXPECT_EQ(durationText(milliseconds(30000)), "30 seconds");
    EXPECT_EQ(durationText(milliseconds(1500)), "1500 ms");
    EXPECT_EQ(durationText(milliseconds(0)), "0 seconds");
    EXPECT_EQ(sizeText(8 * 1024 * 1024), "8 MiB");
    EXPECT_EQ(sizeText(64 * 1024), "64 KiB");
    EXPECT_EQ(sizeText(1536 * 1024), "1536 KiB");
    EXPECT_EQ(sizeText(1000), "1000 bytes");
    EXPECT_EQ(sizeText(0), "0 bytes");
}

TEST(AsciiTextTest, SeparatedListsKeepEmptyPieces) {
    EXPECT_EQ(splitList("", ':'), std::vector<std::string_view>{});
    EXPECT_EQ(splitList("a", ':'), std::vector<std::string_view>{"a"});
    EXPECT_EQ(splitList("a:b::c:", ':'), (std::vector<std::string_view>{"a", "b", "", "c", ""}));
}

TEST(AsciiTextTest, AShownLineIsShortPrintableAndSaysWhenItWasCut) {
    EXPECT_EQ(shownLine("  gzip, br \r\n"), "gzip, br");
    EXPECT_EQ(shownLine("a\x01"
                        "b\xC3\xA9"
                        "c"),
              "abc...")
        << "what cannot be shown is dropped, and said so";
    EXPECT_EQ(shownLine(std::string(41, 'x')), std::string(40, 'x') + "...");
    EXPECT_EQ(shownLine(std::string(40, 'x')), std::string(40, 'x'));
}

TEST(Utf8Test, ValidOnlyWithoutOverlongFormsSurrogatesOrCutCharacters) {
    const std::pair<std::string_view, bool> cases[] = {
        {"", true},          {"plain", true},         {"\xC3\xA9t\xC3\xA9", true}, {"\xF0\x9F\x98\x80", true},
        {"\xC0\x80", false}, {"\xED\xA0\x80", false}, {"\xF4\x90\x80\x80", false}, {"\xC3", false},
        {"a\xFF", false},    {"\xE2\x82", false}};
    for (const auto& [text, valid] : cases)
        EXPECT_EQ(isValidUtf8(text), valid) << testing::PrintToString(std::string(text));
}

} // namespace
} // namespace tamberly
