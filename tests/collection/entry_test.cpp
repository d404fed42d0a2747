// The checks of an intention entry: the field reader, its limits in code points, and the rules.

#include "backup.h"
#include "backup_texts.h"

#include <gtest/gtest.h>

#include <string>

using namespace backup_texts;
using nlohmann::json;

namespace {

std::string repeat(const std::string& piece, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += piece;
    return text;
}

// The failure of reading the key from the entry, or "accepted".
std::string readOutcome(json entry, const char* key, std::size_t limit) {
    try {
        wishwell::readField(entry, key, limit);
    } catch (const std::runtime_error& failure) {
        return failure.what();
    }
    return accepted;
}

// The outcome of a backup whose only entry is the valid one with the key set to the value.
std::string outcomeWith(const char* key, const std::string& value) {
    json changed = entry();
    changed[key] = value;
    return outcome(backupText({changed}));
}

const std::string alpha = "\xCE\xB1";             // two bytes
const std::string kanji = "\xE6\x84\x9B";         // three bytes
const std::string sunflower = "\xF0\x9F\x8C\xBB"; // four bytes

} // namespace

TEST(Entry, CodePointsAreCountedNotBytes) {
    EXPECT_EQ(wishwell::countCodePoints(""), 0u);
    EXPECT_EQ(wishwell::countCodePoints("abc"), 3u);
    EXPECT_EQ(wishwell::countCodePoints(alpha + kanji + sunflower + "x"), 4u);
    EXPECT_EQ(wishwell::countCodePoints(std::string(1, '\0')), 1u);
    // Characters of every width at every offset, across the counter's eight-byte steps.
    const std::string widths[] = {"a", alpha, kanji, sunflower, "\x7F", "\xDF\xBF"};
    std::string text;
    for (std::size_t count = 1; count <= 64; ++count) {
        text += widths[(count * 7) % 6];
        for (std::size_t shift = 0; shift < 8; ++shift) {
            SCOPED_TRACE(std::to_string(count) + " characters after " + std::to_string(shift));
            EXPECT_EQ(wishwell::countCodePoints(std::string(shift, ' ') + text), count + shift);
        }
    }
}

TEST(Entry, FieldReader) {
    struct Case {
        const char* name;
        json entry;
        std::size_t limit;
        const std::string& expected;
    };
    const Case cases[] = {
        {"a string", {{"k", "abc"}}, 3, accepted},
        {"the empty string", {{"k", ""}}, 0, accepted},
        {"one over the limit", {{"k", "abcd"}}, 3, badField},
        {"two-byte characters up to the limit", {{"k", repeat(alpha, 3)}}, 3, accepted},
        {"four-byte characters up to the limit", {{"k", repeat(sunflower, 3)}}, 3, accepted},
        {"three-byte characters over the limit", {{"k", repeat(kanji, 4)}}, 3, badField},
        {"U+0000", {{"k", std::string("a\0b", 3)}}, 10, badField},
        {"U+0000 alone", {{"k", std::string(1, '\0')}}, 10, badField},
        {"no such key", {{"K", "abc"}}, 10, missingField},
        {"null", {{"k", nullptr}}, 10, missingField},
        {"a number", {{"k", 1}}, 10, missingField},
        {"a boolean", {{"k", true}}, 10, missingField},
        {"an array", {{"k", {"abc"}}}, 10, missingField},
        {"an object", {{"k", {{"k", "abc"}}}}, 10, missingField},
        {"not an object", json::array({"k", "abc"}), 10, missingField},
        {"a string entry", "k", 10, missingField},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(readOutcome(c.entry, "k", c.limit), c.expected);
    }
    json entry = {{"k", " a "}};
    EXPECT_EQ(&wishwell::readField(entry, "k", 3), &entry["k"].get_ref<std::string&>());
}

// Each field has its own limit in code points; exactly the limit passes.
TEST(Entry, FieldLimits) {
    struct Case {
        const char* key;
        std::size_t limit;
        std::string (*value)(std::size_t length);
    };
    const auto ascii = [](std::size_t length) { return std::string(length, 'w'); };
    const auto twoByte = [](std::size_t length) { return repeat(alpha, length); };
    const auto mixed = [](std::size_t length) { return repeat(kanji, length - 1) + "!"; };
    const Case cases[] = {
        {"id", 150, twoByte},   {"id", 150, ascii},      {"text", 10000, ascii},
        {"text", 10000, mixed}, {"sentAt", 50, twoByte}, {"sentAt", 50, ascii},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " " + c.value(2));
        EXPECT_EQ(outcomeWith(c.key, c.value(c.limit)), accepted);
        EXPECT_EQ(outcomeWith(c.key, c.value(c.limit + 1)), badField);
    }
    // The kinds and themes are short, so at their limits only the length message can tell.
    EXPECT_EQ(outcomeWith("animation", std::string(20, 'w')), unusable);
    EXPECT_EQ(outcomeWith("animation", std::string(21, 'w')), badField);
    EXPECT_EQ(outcomeWith("wordartTheme", std::string(30, 'w')), unknownTheme);
    EXPECT_EQ(outcomeWith("wordartTheme", std::string(31, 'w')), badField);
    // An id of 150 two-byte characters is 300 bytes, and kept whole.
    const wishwell::Collection collection =
        wishwell::parseBackup(backupText({entry(repeat(alpha, 150))}));
    EXPECT_EQ(collection.items[0].id.size(), 300u);
}

// Every rule of an entry, with the sentence it gives; the first failing rule decides.
TEST(Entry, Rules) {
    struct Case {
        const char* name;
        json set;          // members given these values
        const char* erase; // and this one removed
        const std::string& expected;
    };
    const std::string nul(1, '\0');
    const Case cases[] = {
        {"the valid entry", {}, nullptr, accepted},
        {"no id", {}, "id", missingField},
        {"a number id", {{"id", 7}}, nullptr, missingField},
        {"no text", {}, "text", missingField},
        {"a null text", {{"text", nullptr}}, nullptr, missingField},
        {"no sentAt", {}, "sentAt", missingField},
        {"an empty sentAt", {{"sentAt", ""}}, nullptr, accepted},
        {"a number sentAt", {{"sentAt", 20260314}}, nullptr, missingField},
        {"no animation", {}, "animation", missingField},
        {"an array animation", {{"animation", {"wordart"}}}, nullptr, missingField},
        {"keys are case-sensitive", {{"Text", "I am calm and kind."}}, "text", missingField},
        {"a long id comes before a missing text",
         {{"id", std::string(151, 'i')}},
         "text",
         badField},
        {"a missing text comes before a long sentAt",
         {{"sentAt", std::string(51, 's')}},
         "text",
         missingField},
        {"a missing animation comes before an empty id", {{"id", ""}}, "animation", missingField},
        {"U+0000 in the id", {{"id", "a" + nul}}, nullptr, badField},
        {"U+0000 in the text", {{"text", nul}}, nullptr, badField},
        {"U+0000 in sentAt", {{"sentAt", nul}}, nullptr, badField},
        {"U+0000 in the animation", {{"animation", "wordart" + nul}}, nullptr, badField},
        {"U+0000 in the theme", {{"wordartTheme", "blues" + nul}}, nullptr, badField},
        {"U+0000 in a key that is not read", {{"note", nul}}, nullptr, accepted},
        {"an empty id", {{"id", ""}}, nullptr, unusable},
        {"an id of one space", {{"id", " "}}, nullptr, accepted},
        {"an empty text", {{"text", ""}}, nullptr, unusable},
        {"a text of blanks", {{"text", "   \t"}}, nullptr, unusable},
        {"a text of every blank", {{"text", " \t\r\n"}}, nullptr, unusable},
        {"a text of a no-break space", {{"text", "\xC2\xA0"}}, nullptr, accepted},
        {"a text of a form feed", {{"text", "\f"}}, nullptr, accepted},
        {"a text of a vertical tab", {{"text", "\v"}}, nullptr, accepted},
        {"an unknown animation", {{"animation", "sparkle"}}, nullptr, unusable},
        {"an animation in capitals", {{"animation", "WordArt"}}, nullptr, unusable},
        {"an empty animation", {{"animation", ""}}, nullptr, unusable},
        {"an unknown animation comes before a bad theme",
         {{"animation", "Wordart"}, {"wordartTheme", 1}},
         nullptr,
         unusable},
        {"a blank text comes before a bad theme",
         {{"text", "\n"}, {"wordartTheme", "neon"}},
         nullptr,
         unusable},
        {"a null theme", {{"wordartTheme", nullptr}}, nullptr, missingField},
        {"a number theme", {{"wordartTheme", 3}}, nullptr, missingField},
        {"a theme in other letter case", {{"wordartTheme", "Rainbow"}}, nullptr, unknownTheme},
        {"an empty theme", {{"wordartTheme", ""}}, nullptr, unknownTheme},
        {"no theme", {}, "wordartTheme", accepted},
        {"a number theme on echoes",
         {{"animation", "echoes"}, {"wordartTheme", 3}},
         nullptr,
         accepted},
        {"an unknown theme on windows",
         {{"animation", "windows"}, {"wordartTheme", "neon"}},
         nullptr,
         accepted},
        {"a long theme on legacy",
         {{"animation", "legacy"}, {"wordartTheme", std::string(99, 't')}},
         nullptr,
         accepted},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        json changed = entry();
        for (const auto& [key, value] : c.set.items()) changed[key] = value;
        if (c.erase) changed.erase(c.erase);
        EXPECT_EQ(outcome(backupText({entry("first"), changed})), c.expected);
    }
}

TEST(Entry, ElementsThatAreNotObjects) {
    for (const json& element :
         {json::array({entry()}), json("calm"), json(1), json(nullptr), json(true)}) {
        SCOPED_TRACE(element.dump());
        EXPECT_EQ(outcome(backupText({entry("first"), element})), invalidEntry);
    }
}

// One rejected entry rejects the whole backup, wherever it stands.
TEST(Entry, FirstRejectedEntryEndsTheImport) {
    json intentions = json::array();
    for (int i = 0; i < 50; ++i) intentions.push_back(entry("id-" + std::to_string(i)));
    for (std::size_t at : {0u, 25u, 49u}) {
        SCOPED_TRACE(at);
        json broken = intentions;
        broken[at].erase("sentAt");
        broken.push_back(json::array());
        EXPECT_EQ(outcome(backupText(broken)), missingField);
    }
}

// Ids are compared byte for byte.
TEST(Entry, RepeatedIds) {
    struct Case {
        const char* name;
        std::string first;
        std::string second;
        const std::string& expected;
    };
    const Case cases[] = {
        {"the same id", "calm", "calm", unusable},
        {"letter case differs", "calm", "Calm", accepted},
        {"a trailing space differs", "calm", "calm ", accepted},
        {"composed and decomposed", "\xC3\xA9", "e\xCC\x81", accepted},
        {"the same long id", std::string(150, 'x'), std::string(150, 'x'), unusable},
        {"the same short id", "a", "a", unusable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(outcome(backupText({entry(c.first), entry("middle"), entry(c.second, "echoes")})),
                  c.expected);
    }
    // The repeat is found however far apart the two entries are and whatever lies between.
    json intentions = json::array();
    for (int i = 0; i < 2000; ++i) intentions.push_back(entry("id-" + std::to_string(i)));
    EXPECT_EQ(outcome(backupText(intentions)), accepted);
    intentions.push_back(entry("id-3"));
    EXPECT_EQ(outcome(backupText(intentions)), unusable);
}

// The item takes the values read, unchanged, and the theme that is in force.
TEST(Entry, Items) {
    json intentions = json::array();
    for (const char* theme :
         {"rainbow", "blues", "superhero", "purple", "horizon", "italicOutline"}) {
        json e = entry(theme);
        e["wordartTheme"] = theme;
        intentions.push_back(e);
    }
    intentions.push_back({{"id", "w"},
                          {"text", " I breathe.\n"},
                          {"sentAt", "now"},
                          {"animation", "windows"},
                          {"wordartTheme", "purple"}});
    intentions.push_back({{"id", "e"}, {"text", kanji}, {"sentAt", ""}, {"animation", "echoes"}});
    intentions.push_back({{"id", "l"}, {"text", "x"}, {"sentAt", ""}, {"animation", "legacy"}});
    intentions.push_back({{"id", "r"}, {"text", "x"}, {"sentAt", ""}, {"animation", "wordart"}});
    // A theme of any kind on another animation is not read at all.
    intentions.push_back({{"id", "n"}, {"text", "x"}, {"sentAt", ""}, {"animation", "echoes"}, {"wordartTheme", 3}});
    const wishwell::Collection collection = wishwell::parseBackup(backupText(intentions));
    ASSERT_EQ(collection.items.size(), intentions.size());
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(collection.items[i].theme, collection.items[i].id);
        EXPECT_EQ(collection.items[i].animation, "wordart");
    }
    const wishwell::Item& windows = collection.items[6];
    EXPECT_EQ(windows.id, "w");
    EXPECT_EQ(windows.text, " I breathe.\n");
    EXPECT_EQ(windows.animation, "windows");
    EXPECT_EQ(windows.theme, "rainbow");
    EXPECT_EQ(collection.items[7].text, kanji);
    EXPECT_EQ(collection.items[7].theme, "rainbow");
    EXPECT_EQ(collection.items[8].animation, "legacy");
    EXPECT_EQ(collection.items[8].theme, "rainbow");
    EXPECT_EQ(collection.items[9].theme, "rainbow");
    EXPECT_EQ(collection.items[10].animation, "echoes");
    EXPECT_EQ(collection.items[10].theme, "rainbow");
}
