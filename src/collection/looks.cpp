#include "looks.h"

namespace wishwell {

namespace {

constexpr std::uint32_t ink = 0xFF181020;   // the dark outline most looks share
constexpr std::uint32_t smoke = 0xFF686868; // the grey extrusion of "horizon" and "italicOutline"
constexpr std::uint32_t white = 0xFFFFFFFF;

struct ThemedLook {
    std::string_view theme;
    Look look;
};

constexpr ThemedLook wordArtLooks[] = {
    {"rainbow",
     {.fontFamily = "Arial",
      .fontStyle = FontStyle::bold,
      .m12 = 0,
      .m22 = 1.5f,
      .horizontalFill = true,
      .stops = {{0xFFB306A9, 0},
                {0xFFEF2667, 1 / 7.0f},
                {0xFFF42E2C, 2 / 7.0f},
                {0xFFFFA509, 3 / 7.0f},
                {0xFFFDFC00, 4 / 7.0f},
                {0xFF55AC2F, 5 / 7.0f},
                {0xFF0B13FD, 6 / 7.0f},
                {0xFFA804AF, 1}},
      .stopCount = 8,
      .hasOutline = true,
      .outlineColour = ink,
      .outlineWidth = 1.1f}},
    {"blues",
     {.fontFamily = "Impact",
      .fontStyle = FontStyle::bold,
      .m12 = 0,
      .m22 = 1,
      .hasShadow = true,
      .shadowColour = 0xFF0000AA,
      .shadowRises = true,
      .stops = {{0xFF24C0FD, 0}, {0xFF24C0FD, 1}},
      .stopCount = 2,
      .hasOutline = true,
      .outlineColour = 0xFF0000AA,
      .outlineWidth = 1.1f}},
    {"superhero",
     {.fontFamily = "Impact",
      .fontStyle = FontStyle::bold,
      .m12 = -0.2679f, // rises 15 degrees
      .m22 = 1.5f,
      .hasShadow = true,
      .shadowColour = 0xFF802700,
      .stops = {{0xFFFDEA00, 0}, {0xFFFDCF00, 0.44f}, {0xFFFC2700, 1}},
      .stopCount = 3,
      .hasOutline = true,
      .outlineColour = ink,
      .outlineWidth = 1.1f}},
    {"purple",
     {.fontFamily = "Impact",
      .fontStyle = FontStyle::bold,
      .m12 = -0.1763f, // rises 10 degrees
      .m22 = 1.5f,
      .stops = {{0xFF4222BE, 0}, {0xFFA62CC1, 0.73f}, {0xFFA62CC1, 1}},
      .stopCount = 3,
      .hasOutline = true,
      .outlineColour = 0xFFB28FFD,
      .outlineWidth = 1.7f}},
    {"horizon",
     {.fontFamily = "Arial",
      .fontStyle = FontStyle::bold,
      .m12 = 0,
      .m22 = 1,
      .hasShadow = true,
      .shadowColour = smoke,
      .stops =
          {{0xFF7286A7, 0}, {0xFF7286A7, 0.13f}, {white, 0.5f}, {0xFF812F30, 0.56f}, {white, 1}},
      .stopCount = 5,
      .hasOutline = true,
      .outlineColour = ink,
      .outlineWidth = 1.1f}},
    {"italicOutline",
     {.fontFamily = "Arial",
      .fontStyle = FontStyle::boldItalic,
      .m12 = 0,
      .m22 = 1.3f,
      .hasShadow = true,
      .shadowColour = smoke,
      .stops = {{white, 0}, {white, 1}},
      .stopCount = 2,
      .hasOutline = true,
      .outlineColour = ink,
      .outlineWidth = 1.1f}},
};

// A "wordart" theme outside the six, which the import never produces, still draws legibly.
constexpr Look fallbackLook = {.fontFamily = "Arial",
                               .fontStyle = FontStyle::bold,
                               .m12 = 0,
                               .m22 = 1,
                               .stops = {{white, 0}, {white, 1}},
                               .stopCount = 2,
                               .hasOutline = true,
                               .outlineColour = ink,
                               .outlineWidth = 1.1f};

// The typewriter look of every intention that is not WordArt; "windows" has a bluer top.
constexpr Look plainLook = {.fontFamily = "Courier New",
                            .fontStyle = FontStyle::bold,
                            .m12 = 0,
                            .m22 = 1,
                            .hasShadow = true,
                            .shadowColour = 0xFF261480,
                            .stops = {{0xFFE9D6FF, 0}, {0xFFF2E9FF, 1}},
                            .stopCount = 2};

constexpr Look windowsLook = {.fontFamily = "Courier New",
                              .fontStyle = FontStyle::bold,
                              .m12 = 0,
                              .m22 = 1,
                              .hasShadow = true,
                              .shadowColour = 0xFF261480,
                              .stops = {{0xFFD2D6FF, 0}, {0xFFF2E9FF, 1}},
                              .stopCount = 2};

} // namespace

const Look& lookFor(std::string_view animation, std::string_view theme) {
    if (animation != "wordart") return animation == "windows" ? windowsLook : plainLook;
    for (const ThemedLook& entry : wordArtLooks)
        if (entry.theme == theme) return entry.look;
    return fallbackLook;
}

} // namespace wishwell
