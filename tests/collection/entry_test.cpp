// The checks of every intention entry: the field reader with its limits in code points, and the
// rules on ids, texts, animation kinds and themes, in their order.

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

// The outcome of a backup whose only entry is the valid one changed by the edit.
template <typename Edit> std::string outcomeOfEntry(Edit edit) {
    json changed = entry();
    edit(changed);
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
    const auto mixed = [](std::size_t length) {
        std::string text = repeat(kanji, length - 1);
        return text + "!";
    };
    const Case cases[] = {
        {"id", 150, twoByte},   {"id", 150, ascii},      {"text", 10000, ascii},
        {"text", 10000, mixed}, {"sentAt", 50, twoByte}, {"sentAt", 50, ascii},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " " + c.value(2));
        EXPECT_EQ(outcomeOfEntry([&](json& e) { e[c.key] = c.value(c.limit); }), accepted);
        EXPECT_EQ(outcomeOfEntry([&](json& e) { e[c.key] = c.value(c.limit + 1); }), badField);
    }
    // The kinds and themes are short, so at their limits only the length message can tell.
    EXPECT_EQ(outcomeOfEntry([](json& e) { e["animation"] = std::string(20, 'w'); }), unusable);
    EXPECT_EQ(outcomeOfEntry([](json& e) { e["animation"] = std::string(21, 'w'); }), badField);
    EXPECT_EQ(outcomeOfEntry([](json& e) { e["wordartTheme"] = std::string(30, 'w'); }),
              unknownTheme);
    EXPECT_EQ(outcomeOfEntry([](json& e) { e["wordartTheme"] = std::string(31, 'w'); }), badField);
    // An id of 150 two-byte characters is 300 bytes, and kept whole.
    const wishwell::Collection collection =
        wishwell::parseBackup(backupText({entry(repeat(alpha, 150))}));
    EXPECT_EQ(collection.items[0].id.size(), 300u);
}

// Every rule of an entry, with the sentence it gives; the first failing rule decides.
TEST(Entry, Rules) {
    struct Case {
        const char* name;
        void (*edit)(json&);
        const std::string& expected;
    };
    const Case cases[] = {
        {"the valid entry", [](json&) {}, accepted},
        {"no id", [](json& e) { e.erase("id"); }, missingField},
        {"a number id", [](json& e) { e["id"] = 7; }, missingField},
        {"no text", [](json& e) { e.erase("text"); }, missingField},
        {"a null text", [](json& e) { e["text"] = nullptr; }, missingField},
        {"no sentAt", [](json& e) { e.erase("sentAt"); }, missingField},
        {"an empty sentAt", [](json& e) { e["sentAt"] = ""; }, accepted},
        {"a number sentAt", [](json& e) { e["sentAt"] = 20260314; }, missingField},
        {"no animation", [](json& e) { e.erase("animation"); }, missingField},
        {"an array animation", [](json& e) { e["animation"] = {"wordart"}; }, missingField},
        {"keys are case-sensitive",
         [](json& e) {
             e["Text"] = e["text"];
             e.erase("text");
         },
         missingField},
        {"a long id comes before a missing text",
         [](json& e) {
             e["id"] = std::string(151, 'i');
             e.erase("text");
         },
         badField},
        {"a missing text comes before a long sentAt",
         [](json& e) {
             e.erase("text");
             e["sentAt"] = std::string(51, 's');
         },
         missingField},
        {"a missing animation comes before an empty id",
         [](json& e) {
             e["id"] = "";
             e.erase("animation");
         },
         missingField},
        {"U+0000 in the id", [](json& e) { e["id"] = std::string("a\0", 2); }, badField},
        {"U+0000 in the text", [](json& e) { e["text"] = std::string("\0", 1); }, badField},
        {"U+0000 in sentAt", [](json& e) { e["sentAt"] = std::string("\0", 1); }, badField},
        {"U+0000 in the animation", [](json& e) { e["animation"] = std::string("wordart\0", 8); },
         badField},
        {"U+0000 in the theme", [](json& e) { e["wordartTheme"] = std::string("blues\0", 6); },
         badField},
        {"U+0000 in a key that is not read", [](json& e) { e["note"] = std::string("\0", 1); },
         accepted},
        {"an empty id", [](json& e) { e["id"] = ""; }, unusable},
        {"an id of one space", [](json& e) { e["id"] = " "; }, accepted},
        {"an empty text", [](json& e) { e["text"] = ""; }, unusable},
        {"a text of blanks", [](json& e) { e["text"] = "   \t"; }, unusable},
        {"a text of every blank", [](json& e) { e["text"] = " \t\r\n"; }, unusable},
        {"a text of a no-break space", [](json& e) { e["text"] = "\xC2\xA0"; }, accepted},
        {"a text of a form feed", [](json& e) { e["text"] = "\f"; }, accepted},
        {"a text of a vertical tab", [](json& e) { e["text"] = "\v"; }, accepted},
        {"an unknown animation", [](json& e) { e["animation"] = "sparkle"; }, unusable},
        {"an animation in capitals", [](json& e) { e["animation"] = "WordArt"; }, unusable},
        {"an empty animation", [](json& e) { e["animation"] = ""; }, unusable},
        {"an unknown animation comes before a bad theme",
         [](json& e) {
             e["animation"] = "Wordart";
             e["wordartTheme"] = 1;
         },
         unusable},
        {"a blank text comes before a bad theme",
         [](json& e) {
             e["text"] = "\n";
             e["wordartTheme"] = "neon";
         },
         unusable},
        {"a null theme", [](json& e) { e["wordartTheme"] = nullptr; }, missingField},
        {"a number theme", [](json& e) { e["wordartTheme"] = 3; }, missingField},
        {"a theme in other letter case", [](json& e) { e["wordartTheme"] = "Rainbow"; },
         unknownTheme},
        {"an empty theme", [](json& e) { e["wordartTheme"] = ""; }, unknownTheme},
        {"no theme", [](json& e) { e.erase("wordartTheme"); }, accepted},
        {"a number theme on echoes",
         [](json& e) {
             e["animation"] = "echoes";
             e["wordartTheme"] = 3;
         },
         accepted},
        {"an unknown theme on windows",
         [](json& e) {
             e["animation"] = "windows";
             e["wordartTheme"] = "neon";
         },
         accepted},
        {"a long theme on legacy",
         [](json& e) {
             e["animation"] = "legacy";
             e["wordartTheme"] = std::string(99, 't');
         },
         accepted},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        json changed = entry();
        c.edit(changed);
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
}
