#include "looks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using wishwell::FontStyle;
using wishwell::Look;
using wishwell::lookFor;

namespace {

struct Stop {
    std::uint32_t colour;
    float position;
};

struct ExpectedLook {
    std::string family;
    FontStyle style = FontStyle::bold;
    float m22 = 1;
    float m12 = 0;
    bool shadow = false;
    std::uint32_t shadowColour = 0;
    bool rises = false;
    bool horizontal = false;
    std::vector<Stop> stops;
    bool outline = false;
    std::uint32_t outlineColour = 0;
    float outlineWidth = 0;
};

void expectLook(const Look& look, const ExpectedLook& expected) {
    EXPECT_EQ(look.fontFamily, expected.family);
    EXPECT_EQ(look.fontStyle, expected.style);
    EXPECT_FLOAT_EQ(look.m22, expected.m22);
    EXPECT_FLOAT_EQ(look.m12, expected.m12);
    EXPECT_EQ(look.hasShadow, expected.shadow);
    if (expected.shadow) {
        EXPECT_EQ(look.shadowColour, expected.shadowColour);
        EXPECT_EQ(look.shadowRises, expected.rises);
    }
    EXPECT_EQ(look.horizontalFill, expected.horizontal);
    ASSERT_EQ(look.stopCount, static_cast<int>(expected.stops.size()));
    for (int i = 0; i < look.stopCount; ++i) {
        SCOPED_TRACE(testing::Message() << "stop " << i);
        EXPECT_EQ(look.stops[i].colour, expected.stops[i].colour);
        EXPECT_FLOAT_EQ(look.stops[i].position, expected.stops[i].position);
    }
    EXPECT_EQ(look.hasOutline, expected.outline);
    if (expected.outline) {
        EXPECT_EQ(look.outlineColour, expected.outlineColour);
        EXPECT_FLOAT_EQ(look.outlineWidth, expected.outlineWidth);
    }
}

const char* const themes[] = {"rainbow", "blues",   "superhero",
                              "purple",  "horizon", "italicOutline"};

// Every look there is: the six WordArt looks, the fallback, the plain look and its variant.
std::vector<const Look*> everyLook() {
    std::vector<const Look*> looks;
    for (const char* theme : themes) looks.push_back(&lookFor("wordart", theme));
    looks.push_back(&lookFor("wordart", "unknown"));
    looks.push_back(&lookFor("echoes", "rainbow"));
    looks.push_back(&lookFor("windows", "rainbow"));
    return looks;
}

} // namespace

TEST(Looks, WordArtThemes) {
    const std::uint32_t ink = 0xFF181020;
    const struct {
        const char* theme;
        ExpectedLook look;
    } cases[] = {
        {"rainbow",
         {.family = "Arial",
          .m22 = 1.5f,
          .horizontal = true,
          .stops = {{0xFFB306A9, 0},
                    {0xFFEF2667, 1 / 7.0f},
                    {0xFFF42E2C, 2 / 7.0f},
                    {0xFFFFA509, 3 / 7.0f},
                    {0xFFFDFC00, 4 / 7.0f},
                    {0xFF55AC2F, 5 / 7.0f},
                    {0xFF0B13FD, 6 / 7.0f},
                    {0xFFA804AF, 1}},
          .outline = true,
          .outlineColour = ink,
          .outlineWidth = 1.1f}},
        {"blues",
         {.family = "Impact",
          .shadow = true,
          .shadowColour = 0xFF0000AA,
          .rises = true,
          .stops = {{0xFF24C0FD, 0}, {0xFF24C0FD, 1}},
          .outline = true,
          .outlineColour = 0xFF0000AA,
          .outlineWidth = 1.1f}},
        {"superhero",
         {.family = "Impact",
          .m22 = 1.5f,
          .m12 = -0.2679f,
          .shadow = true,
          .shadowColour = 0xFF802700,
          .stops = {{0xFFFDEA00, 0}, {0xFFFDCF00, 0.44f}, {0xFFFC2700, 1}},
          .outline = true,
          .outlineColour = ink,
          .outlineWidth = 1.1f}},
        {"purple",
         {.family = "Impact",
          .m22 = 1.5f,
          .m12 = -0.1763f,
          .stops = {{0xFF4222BE, 0}, {0xFFA62CC1, 0.73f}, {0xFFA62CC1, 1}},
          .outline = true,
          .outlineColour = 0xFFB28FFD,
          .outlineWidth = 1.7f}},
        {"horizon",
         {.family = "Arial",
          .shadow = true,
          .shadowColour = 0xFF686868,
          .stops = {{0xFF7286A7, 0},
                    {0xFF7286A7, 0.13f},
                    {0xFFFFFFFF, 0.5f},
                    {0xFF812F30, 0.56f},
                    {0xFFFFFFFF, 1}},
          .outline = true,
          .outlineColour = ink,
          .outlineWidth = 1.1f}},
        {"italicOutline",
         {.family = "Arial",
          .style = FontStyle::boldItalic,
          .m22 = 1.3f,
          .shadow = true,
          .shadowColour = 0xFF686868,
          .stops = {{0xFFFFFFFF, 0}, {0xFFFFFFFF, 1}},
          .outline = true,
          .outlineColour = ink,
          .outlineWidth = 1.1f}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.theme);
        expectLook(lookFor("wordart", c.theme), c.look);
    }
    // Every look's outline is moved by the same (40, 115).
    EXPECT_EQ(wishwell::pathOffsetX, 40);
    EXPECT_EQ(wishwell::pathOffsetY, 115);
}

TEST(Looks, PlainTypewriterForEveryOtherAnimation) {
    const ExpectedLook plain = {.family = "Courier New",
                                .shadow = true,
                                .shadowColour = 0xFF261480,
                                .stops = {{0xFFE9D6FF, 0}, {0xFFF2E9FF, 1}}};
    // The "windows" variant differs only in its top colour.
    ExpectedLook windows = plain;
    windows.stops[0].colour = 0xFFD2D6FF;
    // The theme is not consulted, and "wordart" is matched byte for byte.
    const struct {
        const char* animation;
        const char* theme;
        const ExpectedLook& look;
    } cases[] = {
        {"echoes", "rainbow", plain},    {"legacy", "blues", plain},     {"legacy", "", plain},
        {"WordArt", "rainbow", plain},   {"wordart ", "rainbow", plain}, {"", "rainbow", plain},
        {"windows", "rainbow", windows}, {"windows", "purple", windows},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << '"' << c.animation << "\", \"" << c.theme << '"');
        expectLook(lookFor(c.animation, c.theme), c.look);
    }
}

TEST(Looks, UnknownWordArtThemeFallsBackToWhite) {
    const ExpectedLook fallback = {.family = "Arial",
                                   .stops = {{0xFFFFFFFF, 0}, {0xFFFFFFFF, 1}},
                                   .outline = true,
                                   .outlineColour = 0xFF181020,
                                   .outlineWidth = 1.1f};
    // Exact, case-sensitive, and bounded by the theme's length.
    const std::string cases[] = {
        "unknown",  "",        "Rainbow",       "BLUES",
        "rainbow ", " purple", "italicoutline", std::string("rainbow\0", 8),
        "rain"};
    for (const std::string& theme : cases) {
        SCOPED_TRACE(theme);
        expectLook(lookFor("wordart", theme), fallback);
    }
}

TEST(Looks, DistinguishingTraits) {
    // Only "blues" extrudes towards the upper right, only "rainbow" runs its gradient across.
    for (const Look* look : everyLook()) {
        const bool blues = look == &lookFor("wordart", "blues");
        const bool rainbow = look == &lookFor("wordart", "rainbow");
        EXPECT_EQ(look->hasShadow && look->shadowRises, blues);
        EXPECT_EQ(look->horizontalFill, rainbow);
    }
}

TEST(Looks, EveryLookIsOpaqueWithStopsFromZeroToOne) {
    for (const Look* look : everyLook()) {
        SCOPED_TRACE(look->fontFamily);
        ASSERT_GE(look->stopCount, 2);
        ASSERT_LE(look->stopCount, 8);
        EXPECT_EQ(look->stops[0].position, 0);
        EXPECT_EQ(look->stops[look->stopCount - 1].position, 1);
        for (int i = 0; i < look->stopCount; ++i) EXPECT_EQ(look->stops[i].colour >> 24, 0xFFu);
        for (int i = 1; i < look->stopCount; ++i)
            EXPECT_LE(look->stops[i - 1].position, look->stops[i].position);
        if (look->hasShadow) {
            EXPECT_EQ(look->shadowColour >> 24, 0xFFu);
        }
        if (look->hasOutline) {
            EXPECT_EQ(look->outlineColour >> 24, 0xFFu);
        }
    }
    // Static data: the same look is the same object, however the strings were made.
    EXPECT_EQ(&lookFor(std::string("word") + "art", std::string("pur") + "ple"),
              &lookFor("wordart", "purple"));
}
