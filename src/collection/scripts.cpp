#include "scripts.h"

#include <algorithm>
#include <iterator>

namespace wishwell {

namespace {

struct Range {
    char32_t first;
    char32_t last;
};

template <std::size_t n> bool in(char32_t c, const Range (&ranges)[n]) {
    return std::any_of(std::begin(ranges), std::end(ranges),
                       [c](const Range& r) { return c >= r.first && c <= r.last; });
}

bool isHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool isLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Each script beyond what the Latin, Greek and Cyrillic faces hold, with the families Windows 10
// and 11 install for it, best first. Kana comes before Han so that a Japanese text, which mixes
// the two, asks for a Japanese face first. Arabic and Hebrew have two: Segoe UI holds both on
// every Windows, Microsoft Sans Serif too, and a face that lacks them (a substitute for Segoe UI)
// is passed over by the glyph check.
struct ScriptFamilies {
    Range ranges[6]; // unused ones hold only U+0000, which is never drawn
    std::string_view families[2];
};

constexpr ScriptFamilies scripts[] = {
    {{{0x3040, 0x30FF}, {0x31F0, 0x31FF}, {0xFF66, 0xFF9F}, {0x1B000, 0x1B16F}}, {"Yu Gothic UI"}},
    {{{0x1100, 0x11FF}, {0x3130, 0x318F}, {0xA960, 0xA97F}, {0xAC00, 0xD7FF}, {0xFFA0, 0xFFDC}},
     {"Malgun Gothic"}},
    {{{0x2E80, 0x2FDF},
      {0x3000, 0x303F},
      {0x3190, 0x33FF},
      {0x3400, 0x9FFF},
      {0xF900, 0xFAFF},
      {0x20000, 0x3FFFF}},
     {"Microsoft YaHei UI"}},
    {{{0x0900, 0x0DFF}, {0x1CD0, 0x1CFF}, {0xA8E0, 0xA8FF}}, {"Nirmala UI"}},
    {{{0x0E00, 0x0E7F}}, {"Leelawadee UI"}},
    {{{0x0590, 0x08FF}, {0xFB1D, 0xFDFF}, {0xFE70, 0xFEFE}}, {"Segoe UI", "Microsoft Sans Serif"}},
    {{{0x2190, 0x21FF}, {0x2300, 0x23FF}, {0x2460, 0x27BF}, {0x2900, 0x2BFF}, {0x1F000, 0x1FAFF}},
     {"Segoe UI Symbol", "Segoe UI Emoji"}},
};

constexpr Range notDrawn[] = {
    {0x0000, 0x001F}, {0x007F, 0x009F}, {0x00AD, 0x00AD},   {0x034F, 0x034F},   {0x061C, 0x061C},
    {0x180B, 0x180F}, {0x200B, 0x200F}, {0x2028, 0x202E},   {0x2060, 0x206F},   {0xFE00, 0xFE0F},
    {0xFEFF, 0xFEFF}, {0xFFF9, 0xFFFB}, {0x1D173, 0x1D17A}, {0xE0000, 0xE0FFF},
};

// The strong right-to-left blocks: Hebrew, Arabic, Syriac, Thaana, NKo, Samaritan, Mandaic and
// Arabic's supplements and extensions, the Hebrew and Arabic presentation forms, and the
// right-to-left scripts of the supplementary plane.
constexpr Range rightToLeftBlocks[] = {
    {0x0590, 0x08FF}, {0xFB1D, 0xFDFF}, {0xFE70, 0xFEFE}, {0x10800, 0x10FFF}, {0x1E800, 0x1EFFF},
};

// Inside those blocks: marks, digits and separators, which are not strong.
constexpr Range weakInRightToLeft[] = {
    {0x0591, 0x05C7}, {0x0600, 0x0605}, {0x060C, 0x060C}, {0x0610, 0x061A},   {0x064B, 0x066C},
    {0x0670, 0x0670}, {0x06D6, 0x06ED}, {0x06F0, 0x06F9}, {0x0711, 0x0711},   {0x0730, 0x074A},
    {0x07A6, 0x07B0}, {0x07EB, 0x07F3}, {0x0816, 0x082D}, {0x0859, 0x085B},   {0x0898, 0x089F},
    {0x08CA, 0x08FF}, {0xFB1E, 0xFB1E}, {0xFD3E, 0xFD3F}, {0x10E60, 0x10E7E},
};

// Code points without a strong direction: digits, punctuation, symbols, marks, spaces, emoji.
constexpr Range neutral[] = {
    {0x0000, 0x0040}, {0x005B, 0x0060}, {0x007B, 0x00A9}, {0x00AB, 0x00B4},   {0x00B6, 0x00B9},
    {0x00BB, 0x00BF}, {0x00D7, 0x00D7}, {0x00F7, 0x00F7}, {0x02B9, 0x036F},   {0x0374, 0x0375},
    {0x037E, 0x037E}, {0x0384, 0x0385}, {0x0387, 0x0387}, {0x0483, 0x0489},   {0x1AB0, 0x1AFF},
    {0x1DC0, 0x1DFF}, {0x2000, 0x2BFF}, {0x2E00, 0x2E7F}, {0x3000, 0x3004},   {0x3008, 0x3020},
    {0x302A, 0x3030}, {0x303D, 0x303F}, {0xD800, 0xDFFF}, {0xFE00, 0xFE6F},   {0xFEFF, 0xFF20},
    {0xFF3B, 0xFF40}, {0xFF5B, 0xFF65}, {0xFFE0, 0xFFFF}, {0x1F000, 0x1FBFF}, {0xE0000, 0xE01EF},
};

enum class Strong { none, left, right };

// Unicode's bidirectional classes L, R and AL, approximated by blocks: every code point outside
// the right-to-left blocks and the neutral ranges counts as a left-to-right letter (so do a few
// letterlike symbols and modifier letters that Unicode calls neutral), and every one inside the
// right-to-left blocks as a right-to-left letter unless it is one of their marks or digits. Only
// a text that starts with such a rare character is decided differently, and then left to right.
Strong strongClass(char32_t c) {
    if (c == 0x200E) return Strong::left;  // left-to-right mark
    if (c == 0x200F) return Strong::right; // right-to-left mark
    if (in(c, rightToLeftBlocks)) return in(c, weakInRightToLeft) ? Strong::none : Strong::right;
    return in(c, neutral) ? Strong::none : Strong::left;
}

// Marks, joiners and modifiers that belong to the character before them. In the Indic blocks from
// Devanagari to Malayalam, which share one layout, the signs at the block's start, the vowel
// signs, nukta and virama from offset 0x3A to 0x57 (but not the avagraha letter at 0x3D) and the
// vocalic vowel signs at 0x62 and 0x63.
constexpr Range extending[] = {
    {0x0300, 0x036F}, {0x0483, 0x0489},   {0x0591, 0x05BD},   {0x05BF, 0x05BF},   {0x05C1, 0x05C2},
    {0x05C4, 0x05C5}, {0x05C7, 0x05C7},   {0x0610, 0x061A},   {0x064B, 0x065F},   {0x0670, 0x0670},
    {0x06D6, 0x06DC}, {0x06DF, 0x06E4},   {0x06E7, 0x06E8},   {0x06EA, 0x06ED},   {0x0711, 0x0711},
    {0x0730, 0x074A}, {0x07A6, 0x07B0},   {0x07EB, 0x07F3},   {0x08D3, 0x08E1},   {0x08E3, 0x08FF},
    {0x0A70, 0x0A71}, {0x0A75, 0x0A75},   {0x0D81, 0x0D83},   {0x0DCA, 0x0DDF},   {0x0DF2, 0x0DF3},
    {0x0E31, 0x0E31}, {0x0E34, 0x0E3A},   {0x0E47, 0x0E4E},   {0x0EB1, 0x0EB1},   {0x0EB4, 0x0EBC},
    {0x0EC8, 0x0ECD}, {0x1160, 0x11FF},   {0x1AB0, 0x1AFF},   {0x1DC0, 0x1DFF},   {0x200C, 0x200D},
    {0x20D0, 0x20FF}, {0x302A, 0x302F},   {0x3099, 0x309A},   {0xD7B0, 0xD7FF},   {0xFE00, 0xFE0F},
    {0xFE20, 0xFE2F}, {0x1F3FB, 0x1F3FF}, {0xE0020, 0xE007F}, {0xE0100, 0xE01EF},
};

bool extends(char32_t c) {
    if (c >= 0x0900 && c < 0x0D80) {
        const char32_t offset = c & 0x7F;
        if (offset <= 0x03 ||
            (offset >= 0x3A && offset <= 0x57 && offset != 0x3D && offset != 0x50) ||
            offset == 0x62 || offset == 0x63)
            return true;
    }
    return in(c, extending);
}

// A virama joins the consonants on either side of it into one conjunct.
bool isVirama(char32_t c) {
    return (c >= 0x0900 && c < 0x0D80 && (c & 0x7F) == 0x4D) || c == 0x0DCA;
}

bool isRegionalIndicator(char32_t c) {
    return c >= 0x1F1E6 && c <= 0x1F1FF;
}

// The code point that ends just before index i.
char32_t codePointBefore(std::u16string_view text, std::size_t i) {
    if (i >= 2 && isLowSurrogate(text[i - 1]) && isHighSurrogate(text[i - 2]))
        return codePointAt(text, i - 2);
    return text[i - 1];
}

} // namespace

char32_t codePointAt(std::u16string_view text, std::size_t i, std::size_t* units) {
    const char16_t unit = text[i];
    if (isHighSurrogate(unit) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
        if (units) *units = 2;
        return 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
    }
    if (units) *units = 1;
    return unit;
}

bool needsGlyph(char32_t c) {
    return !in(c, notDrawn);
}

std::vector<std::string_view> fallbackFamilies(std::u16string_view text) {
    bool present[std::size(scripts)] = {};
    for (std::size_t i = 0, units = 1; i < text.size(); i += units) {
        const char32_t c = codePointAt(text, i, &units);
        if (!needsGlyph(c)) continue;
        for (std::size_t s = 0; s < std::size(scripts); ++s)
            present[s] = present[s] || in(c, scripts[s].ranges);
    }
    std::vector<std::string_view> families;
    for (std::size_t s = 0; s < std::size(scripts); ++s) {
        if (!present[s]) continue;
        for (std::string_view family : scripts[s].families)
            if (!family.empty() &&
                std::find(families.begin(), families.end(), family) == families.end())
                families.push_back(family);
    }
    return families;
}

bool rightToLeft(std::u16string_view text) {
    int isolates = 0; // what an isolate holds does not decide the paragraph's direction
    for (std::size_t i = 0, units = 1; i < text.size(); i += units) {
        const char32_t c = codePointAt(text, i, &units);
        if (c >= 0x2066 && c <= 0x2068) {
            ++isolates;
        } else if (c == 0x2069) {
            isolates = std::max(isolates - 1, 0);
        } else if (isolates == 0) {
            const Strong strong = strongClass(c);
            if (strong != Strong::none) return strong == Strong::right;
        }
    }
    return false;
}

bool isClusterBoundary(std::u16string_view text, std::size_t i) {
    if (i == 0 || i >= text.size()) return true;
    if (text[i - 1] == u'\r' && text[i] == u'\n') return false;
    if (isHighSurrogate(text[i - 1]) && isLowSurrogate(text[i])) return false;
    const char32_t next = codePointAt(text, i);
    const char32_t previous = codePointBefore(text, i);
    if (extends(next) || previous == 0x200D || isVirama(previous)) return false;
    if (isRegionalIndicator(previous) && isRegionalIndicator(next)) {
        // Flags pair the indicators from the start of their run.
        std::size_t before = 0;
        for (std::size_t j = i; j >= 2 && isRegionalIndicator(codePointBefore(text, j)); j -= 2)
            ++before;
        return before % 2 == 0;
    }
    return true;
}

std::size_t lineEnd(std::u16string_view text, std::size_t start, std::size_t end) {
    if (start >= text.size()) return text.size();
    for (std::size_t e = std::min(end, text.size()); e > start; --e)
        if (isClusterBoundary(text, e)) return e;
    std::size_t e = start + 1;
    while (!isClusterBoundary(text, e))
        ++e;
    return e;
}

} // namespace wishwell
