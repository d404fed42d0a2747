#pragma once
// What a text's scripts ask of its layout: the families that can draw it when its look's family
// cannot, the direction of its paragraph, and where a line may end without tearing a character
// apart. Texts are UTF-16, as the platform's text engine takes them.

#include <cstddef>
#include <string_view>
#include <vector>

namespace wishwell {

// The code point that starts at index i, and how many code units it takes (1 or 2). A lone
// surrogate stands for itself.
char32_t codePointAt(std::u16string_view text, std::size_t i, std::size_t* units = nullptr);

// Whether a family must hold a glyph for the code point to draw it: control and format characters
// (line breaks, joiners, direction marks, variation selectors, tags) are never drawn as glyphs.
bool needsGlyph(char32_t c);

// The families, best first, that Windows 10 and 11 install for the scripts of the text that the
// common Latin, Greek and Cyrillic faces do not cover. Empty for a text in those alone.
std::vector<std::string_view> fallbackFamilies(std::u16string_view text);

// Whether the text's first strong character is right-to-left, so that it is laid out as a
// right-to-left paragraph. False for a text without any strong character.
bool rightToLeft(std::u16string_view text);

// Whether a line may end between text[i - 1] and text[i]: never inside a surrogate pair, before a
// combining mark or joiner, after a zero-width joiner or virama, or inside a regional-indicator
// pair. True at both ends of the text.
bool isClusterBoundary(std::u16string_view text, std::size_t i);

// The end of a line that starts at start and was measured to hold the code units up to end: end
// itself, or the nearest cluster boundary before it, or, when a single cluster is longer than the
// line, the boundary just after that cluster. Always after start for a non-empty line.
std::size_t lineEnd(std::u16string_view text, std::size_t start, std::size_t end);

} // namespace wishwell
