#include "scripts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Families = std::vector<std::string_view>;

// Each script asks for the Windows UI families that hold it, Japanese its own face before Han's;
// the first strong character decides the direction, and digits, marks, emoji and isolates do not.
TEST(Scripts, FamiliesAndDirectionFollowTheScriptsOfTheText) {
    const Families rtl = {"Segoe UI", "Microsoft Sans Serif"};
    const Families symbols = {"Segoe UI Symbol", "Segoe UI Emoji"};
    const struct {
        const char* name;
        std::u16string text;
        Families families;
        bool rightToLeft;
    } cases[] = {
        {"line breaks and joiners", u"I am\r\nhere\u200D.", {}, false},
        {"Japanese",
         u"私は毎日少しずつ成長しています。",
         {"Yu Gothic UI", "Microsoft YaHei UI"},
         false},
        {"Korean", u"나는 나 자신을 믿는다.", {"Malgun Gothic"}, false},
        {"Chinese", u"我相信自己。", {"Microsoft YaHei UI"}, false},
        {"Hindi", u"मैं अपने आप पर विश्वास करती हूँ।", {"Nirmala UI"}, false},
        {"Thai", u"ฉันเชื่อในตัวเอง", {"Leelawadee UI"}, false},
        {"Arabic", u"أنا أؤمن بنفسي.", rtl, true},
        {"Hebrew", u"אני מאמינה בעצמי.", rtl, true},
        {"emoji", u"I am happy \U0001F600", symbols, false},
        {"Arabic and emoji",
         u"أنا سعيد \U0001F600",
         {rtl[0], rtl[1], symbols[0], symbols[1]},
         true},
        {"Arabic after digits and punctuation", u"2026: «سأنجح»", rtl, true},
        {"Hebrew after an emoji",
         u"\U0001F600 שלום",
         {rtl[0], rtl[1], symbols[0], symbols[1]},
         true},
        {"Adlam", u"\U0001E900\U0001E901", {}, true},
        {"English quoting Arabic", u"I said \"سلام\".", rtl, false},
        {"Arabic-Indic digits, then English", u"١٢٣ steps", rtl, false},
        {"isolated Hebrew, then English", u"\u2067שלום\u2069 means peace", rtl, false},
        {"nothing strong", u"2026 \u2600 !", symbols, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(wishwell::fallbackFamilies(c.text), c.families);
        EXPECT_EQ(wishwell::rightToLeft(c.text), c.rightToLeft);
    }
}

// A line measured to end inside a character ends before it, or after it when it fills the line.
TEST(Scripts, LinesEndOnlyBetweenWholeCharacters) {
    const struct {
        const char* name;
        std::u16string text;
        std::size_t start, measured, end;
    } cases[] = {
        {"between words", u"I am here.", 0, 5, 5},
        {"surrogate pair", u"ab\U0001F600cd", 0, 3, 2},
        {"combining accent", u"cafe\u0301 au lait", 0, 4, 3},
        {"ZWJ family", u"a\U0001F468\u200D\U0001F469\u200D\U0001F467b", 0, 7, 1},
        {"skin tone alone on its line", u"\U0001F44D\U0001F3FDx", 0, 2, 4},
        {"variation selector", u"a\u2764\uFE0Fb", 0, 2, 1},
        {"keycap", u"1\uFE0F\u20E3 go", 0, 2, 3},
        {"two flags", u"\U0001F1EB\U0001F1F7\U0001F1E9\U0001F1EA", 0, 6, 4},
        {"Devanagari conjunct", u"क्षमा", 0, 2, 3},
        {"Thai vowel and tone", u"ที่นี่", 0, 5, 3},
        {"Hebrew points", u"שָׁלוֹם", 0, 5, 4},
        {"CR LF", u"ab\r\ncd", 0, 3, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(wishwell::lineEnd(c.text, c.start, c.measured), c.end);
    }
}

} // namespace
