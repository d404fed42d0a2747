#include "scripts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Families = std::vector<std::string_view>;

// Each script asks for the Windows UI families that hold it; Japanese its own face before Han's.
TEST(Scripts, FallbackFamiliesFollowTheScriptsOfTheText) {
    const Families arabic = {"Segoe UI", "Microsoft Sans Serif"};
    const Families symbols = {"Segoe UI Symbol", "Segoe UI Emoji"};
    const struct {
        const char* name;
        std::u16string text;
        Families families;
    } cases[] = {
        {"English", u"I believe in myself.", {}},
        {"Greek and Russian", u"Είμαι ήρεμη. Я спокойно иду.", {}},
        {"line breaks and joiners are not drawn", u"I am\r\nhere\u200D\u200F.", {}},
        {"Japanese", u"私は毎日少しずつ成長しています。", {"Yu Gothic UI", "Microsoft YaHei UI"}},
        {"Korean", u"나는 나 자신을 믿는다.", {"Malgun Gothic"}},
        {"Chinese", u"我相信自己。", {"Microsoft YaHei UI"}},
        {"Hindi", u"मैं अपने आप पर विश्वास करती हूँ।", {"Nirmala UI"}},
        {"Tamil", u"நான் என்னை நம்புகிறேன்", {"Nirmala UI"}},
        {"Thai", u"ฉันเชื่อในตัวเอง", {"Leelawadee UI"}},
        {"Arabic", u"أنا أؤمن بنفسي.", arabic},
        {"Hebrew", u"אני מאמינה בעצמי.", arabic},
        {"emoji", u"I am happy \U0001F600", symbols},
        {"sun", u"\u2600 every day", symbols},
        {"Arabic and emoji",
         u"أنا سعيد \U0001F600",
         {"Segoe UI", "Microsoft Sans Serif", "Segoe UI Symbol", "Segoe UI Emoji"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(wishwell::fallbackFamilies(c.text), c.families);
    }
}

// The first strong character decides; digits, marks, punctuation, emoji and isolates do not.
TEST(Scripts, RightToLeftFollowsTheFirstStrongCharacter) {
    const struct {
        const char* name;
        std::u16string text;
        bool rightToLeft;
    } cases[] = {
        {"Arabic", u"أنا أؤمن بنفسي.", true},
        {"Hebrew", u"אני מאמינה בעצמי.", true},
        {"Syriac", u"ܫܠܡܐ", true},
        {"Arabic after digits and punctuation", u"2026: «سأنجح»", true},
        {"Hebrew after an emoji", u"\U0001F600 שלום", true},
        {"Adlam", u"\U0001E900\U0001E901", true},
        {"right-to-left mark", u"\u200F2026 I", true},
        {"English", u"I believe in myself.", false},
        {"English quoting Arabic", u"I said \"سلام\".", false},
        {"Arabic-Indic digits, then English", u"١٢٣ steps", false},
        {"isolated Hebrew, then English", u"\u2067שלום\u2069 means peace", false},
        {"isolated English, then Arabic", u"\u2066OK\u2069 حسنا", true},
        {"Japanese", u"私は成長しています。", false},
        {"nothing strong", u"2026 \u2600 !", false},
        {"empty", u"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
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
        {"whole ZWJ family", u"a\U0001F468\u200D\U0001F469\u200D\U0001F467b", 0, 9, 9},
        {"skin tone alone on its line", u"\U0001F44D\U0001F3FDx", 0, 2, 4},
        {"variation selector", u"a\u2764\uFE0Fb", 0, 2, 1},
        {"keycap", u"1\uFE0F\u20E3 go", 0, 2, 3},
        {"two flags", u"\U0001F1EB\U0001F1F7\U0001F1E9\U0001F1EA", 0, 6, 4},
        {"flag after a start", u"\U0001F1EB\U0001F1F7\U0001F1E9\U0001F1EA", 4, 6, 8},
        {"Devanagari conjunct", u"क्षमा", 0, 2, 3},
        {"Thai vowel and tone", u"ที่นี่", 0, 5, 3},
        {"Hebrew points", u"שָׁלוֹם", 0, 5, 4},
        {"CR LF", u"ab\r\ncd", 0, 3, 2},
        {"after a start", u"xx\U0001F600\U0001F600", 2, 3, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(wishwell::lineEnd(c.text, c.start, c.measured), c.end);
    }
}

} // namespace
