// The built-in sample collection.

#include "collection.h"

#include <gtest/gtest.h>

#include <string>

TEST(Samples, EightItemsInOrder) {
    struct Expected {
        const char* text;
        const char* animation;
        const char* theme;
    };
    const Expected expected[] = {
        {"I have financial freedom.", "wordart", "rainbow"},
        {"I am a famous potato farmer.", "windows", "rainbow"},
        {"I have enough money to adopt three dogs and give them a beautiful life.", "echoes",
         "rainbow"},
        {"I will backpack across Europe next summer.", "wordart", "superhero"},
        {"I will meet my soulmate.", "wordart", "purple"},
        {"I am in harmony with the universe.", "wordart", "horizon"},
        {"I believe in myself.", "wordart", "italicOutline"},
        {"I will harvest one million potatoes.", "wordart", "blues"},
    };
    const wishwell::Collection samples = wishwell::samples();
    EXPECT_TRUE(samples.sample);
    ASSERT_EQ(samples.items.size(), 8u);
    for (std::size_t i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(samples.items[i].id, "sample-" + std::to_string(i));
        EXPECT_EQ(samples.items[i].text, expected[i].text);
        EXPECT_EQ(samples.items[i].animation, expected[i].animation);
        EXPECT_EQ(samples.items[i].theme, expected[i].theme);
    }
}

// The stored form of the samples: the two entries that are not WordArt lose their themes.
TEST(Samples, NormalisedDocument) {
    const wishwell::Collection samples = wishwell::samples();
    const auto entry = [](int i, const char* text, const char* animation, const char* theme) {
        std::string json = std::string(R"({"animation":")") + animation + R"(","id":"sample-)" +
                           std::to_string(i) + R"(","sentAt":"2026-10-01","text":")" + text + "\"";
        if (theme) json += std::string(R"(,"wordartTheme":")") + theme + "\"";
        return json + "}";
    };
    const std::string expected =
        R"({"format":"wishwell-intentions","intentions":[)" +
        entry(0, "I have financial freedom.", "wordart", "rainbow") + "," +
        entry(1, "I am a famous potato farmer.", "windows", nullptr) + "," +
        entry(2, "I have enough money to adopt three dogs and give them a beautiful life.",
              "echoes", nullptr) +
        "," + entry(3, "I will backpack across Europe next summer.", "wordart", "superhero") + "," +
        entry(4, "I will meet my soulmate.", "wordart", "purple") + "," +
        entry(5, "I am in harmony with the universe.", "wordart", "horizon") + "," +
        entry(6, "I believe in myself.", "wordart", "italicOutline") + "," +
        entry(7, "I will harvest one million potatoes.", "wordart", "blues") +
        R"(],"sample":true,"version":1})";
    EXPECT_EQ(wishwell::dumpDocument(samples.document), expected);

    int themed = 0;
    for (const auto& e : samples.document["intentions"]) themed += e.contains("wordartTheme");
    EXPECT_EQ(themed, 6);
}

TEST(Samples, EachCallGivesAnEqualIndependentCollection) {
    wishwell::Collection first = wishwell::samples();
    const wishwell::Collection second = wishwell::samples();
    EXPECT_EQ(first.document, second.document);
    first.items[0].text = "changed";
    first.document["intentions"][0]["text"] = "changed";
    EXPECT_EQ(second.items[0].text, "I have financial freedom.");
    EXPECT_EQ(second.document["intentions"][0]["text"], "I have financial freedom.");
}
