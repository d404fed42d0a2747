#pragma once
// What an intention looks like: the six WordArt looks, the plain look and the fallback.

#include <cstdint>
#include <string_view>

namespace wishwell {

enum class FontStyle { bold, boldItalic };

struct ColourStop {
    std::uint32_t colour; // 0xAARRGGBB
    float position;       // 0 to 1
};

struct Look {
    const char* fontFamily;
    FontStyle fontStyle;
    // The outline goes from (x, y) to (x + 40, m12 * x + m22 * y + 115).
    float m12;
    float m22;
    bool hasShadow = false;
    std::uint32_t shadowColour = 0;
    bool shadowRises = false; // offsets (i, -i) instead of (i, i)
    bool horizontalFill = false;
    ColourStop stops[8];
    int stopCount;
    bool hasOutline = false;
    std::uint32_t outlineColour = 0;
    float outlineWidth = 0;
};

inline constexpr float pathOffsetX = 40;
inline constexpr float pathOffsetY = 115;

// The look of an intention: a WordArt look when animation is "wordart", else the plain look.
const Look& lookFor(std::string_view animation, std::string_view theme);

} // namespace wishwell
