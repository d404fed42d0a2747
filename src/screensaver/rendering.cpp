// Intention rendering: each intention of a page is fitted into a 340-pixel box once, turned into
// glyph outlines, bent by its look's matrix, extruded, outlined and filled into a transparent
// 420-pixel-wide image. Also the one live text of a frame, the "SAMPLE INTENTIONS" banner.

#include "screensaver.h"

#include "scripts.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

constexpr float spriteWidth = 420;
constexpr float boxWidth = 340;
constexpr float measuringHeight = 20000;
constexpr float fittingHeight = 570;
constexpr int fittingAttempts = 45;

// The memory every shadow is drawn in: fresh pages would cost a fault for every 4 KB.
std::vector<wishwell::Pixel> shadowMemory;

std::u16string utf16(const std::wstring& text) {
    return std::u16string(text.begin(), text.end());
}

// Everything text layout needs, made once per sprite.
struct TextSetup {
    owners::Bitmap surface; // a 1 x 1 image: measuring needs a graphics, not pixels
    owners::Graphics measuring;
    owners::StringFormat format;  // centred lines from the top of the box, wrapped at words
    owners::StringFormat oneLine; // the same, laying out only whole lines
};

// Lines centred in the box from its top, neither trimmed nor, without flags, kept from wrapping.
owners::StringFormat centredFormat(INT flags) {
    GpStringFormat* format = nullptr;
    GdipCreateStringFormat(flags, LANG_NEUTRAL, &format);
    GdipSetStringFormatAlign(format, StringAlignmentCenter);
    GdipSetStringFormatLineAlign(format, StringAlignmentNear);
    GdipSetStringFormatTrimming(format, StringTrimmingNone);
    return owners::StringFormat(format);
}

// A text whose first strong character is right-to-left is laid out as a right-to-left paragraph,
// so its final full stop stands at its left end. Wine's GDI+ lays every text out left to right.
INT directionFlags(const std::wstring& text) {
    return wishwell::rightToLeft(utf16(text)) ? StringFormatFlagsDirectionRightToLeft : 0;
}

TextSetup textSetup(INT direction) {
    TextSetup setup;
    GpBitmap* surface = nullptr;
    GdipCreateBitmapFromScan0(1, 1, 0, PixelFormat32bppPARGB, nullptr, &surface);
    setup.surface.reset(surface);
    GpGraphics* measuring = nullptr;
    if (surface) GdipGetImageGraphicsContext(surface, &measuring);
    setup.measuring.reset(measuring);
    setup.format = centredFormat(direction);
    setup.oneLine = centredFormat(direction | StringFormatFlagsLineLimit);
    return setup;
}

owners::Font makeFont(const Typeface& face, float emSize) {
    GpFont* font = nullptr;
    GdipCreateFont(face.family.get(), emSize, face.style, UnitPixel, &font);
    return owners::Font(font);
}

struct Measurement {
    RectF bounds;
    INT fitted = 0;
};

Measurement measure(const TextSetup& setup, GpStringFormat* format, const wchar_t* text,
                    std::size_t units, GpFont* font, const RectF& box) {
    Measurement result;
    INT lines = 0;
    GdipMeasureString(setup.measuring.get(), text, static_cast<INT>(units), font, &box, format,
                      &result.bounds, &result.fitted, &lines);
    return result;
}

bool isBlank(wchar_t unit) {
    return unit == L' ' || unit == L'\t' || unit == L'\r' || unit == L'\n';
}

// The text's code units without its trailing white space. Wine leaves a final line break out of
// its count of fitted units, so a text ending in one would never fit; trailing white space is
// never drawn, so fitting does not wait for it.
std::size_t unitsToFit(const std::wstring& text) {
    std::size_t units = text.size();
    while (units > 0 && isBlank(text[units - 1]))
        --units;
    return units;
}

TextFit fit(const TextSetup& setup, const std::wstring& text, const Typeface& face) {
    const RectF box(0, 0, boxWidth, measuringHeight);
    const std::size_t needed = unitsToFit(text);
    TextFit result{startingEmSize(text.size()), 0};
    for (int attempt = 0; attempt < fittingAttempts; ++attempt) {
        const owners::Font font = makeFont(face, result.emSize);
        const Measurement m =
            measure(setup, setup.format.get(), text.c_str(), text.size(), font.get(), box);
        result.height = m.bounds.Height;
        if (m.bounds.Height <= fittingHeight && static_cast<std::size_t>(m.fitted) >= needed) break;
        result.emSize *= 0.8f;
    }
    return result;
}

// Adds the text's outline line by line: Wine's GdipAddPathString adds only the first line of a
// text that wraps, so the lines are found with the same measuring and laid out one at a time,
// each centred in the box at its own line's offset, as one multi-line layout places them.
void addOutline(const TextSetup& setup, GpPath* path, const std::wstring& text,
                const Typeface& face, float emSize, float boxHeight, INT direction) {
    const std::u16string units16 = utf16(text);
    const owners::Font font = makeFont(face, emSize);
    REAL fontHeight = 0;
    GdipGetFontHeight(font.get(), setup.measuring.get(), &fontHeight);
    // A box taller than one line and shorter than two holds exactly one whole line.
    const RectF lineBox(0, 0, boxWidth, std::max(fontHeight * 1.5f, 1.0f));
    const float pitch =
        measure(setup, setup.oneLine.get(), L"X", 1, font.get(), lineBox).bounds.Height;
    if (!(pitch > 0)) return;

    float top = 0;
    std::size_t start = 0;
    while (start <= text.size() && top < boxHeight) {
        // One paragraph, up to the next hard line break.
        std::size_t end = start;
        while (end < text.size() && text[end] != L'\r' && text[end] != L'\n')
            ++end;
        std::size_t position = start;
        do {
            std::size_t units = 0;
            if (position < end) {
                const Measurement m = measure(setup, setup.oneLine.get(), text.c_str() + position,
                                              end - position, font.get(), lineBox);
                units = std::clamp<std::size_t>(static_cast<std::size_t>(std::max(m.fitted, 0)), 1,
                                                end - position);
                // A line without a break opportunity is cut where its width runs out, which may be
                // inside a surrogate pair or a combining or emoji sequence: it keeps that whole.
                units = wishwell::lineEnd(std::u16string_view(units16).substr(0, end), position,
                                          position + units) -
                        position;
            }
            std::size_t shown = units;
            while (shown > 0 && text[position + shown - 1] == L' ')
                --shown;
            if (shown > 0)
                addLineOutline(path, text.c_str() + position, shown, face, emSize,
                               RectF(0, top, boxWidth, pitch), direction);
            top += pitch;
            position += units;
            // A wrapped line's spaces stay behind at the break.
            while (position < end && text[position] == L' ')
                ++position;
        } while (position < end && top < boxHeight);
        if (end >= text.size()) break;
        start =
            end + (text[end] == L'\r' && end + 1 < text.size() && text[end + 1] == L'\n' ? 2 : 1);
    }
}

// Makes every pixel of the bitmap 0x00000000. GdipGraphicsClear does the same, but Wine runs it
// through its per-pixel blending, a few milliseconds for every sprite.
void clearToTransparent(GpBitmap* bitmap) {
    const owners::LockedBits pixels(bitmap, ImageLockModeWrite);
    if (!pixels.bits()) return;
    for (int y = 0; y < pixels.height(); ++y)
        std::fill_n(pixels.bits() + static_cast<std::ptrdiff_t>(y) * pixels.stride(),
                    static_cast<std::size_t>(pixels.width()) * 4, BYTE{0});
}

owners::Graphics spriteGraphics(GpBitmap* bitmap) {
    GpGraphics* graphics = nullptr;
    GdipGetImageGraphicsContext(bitmap, &graphics);
    GdipSetSmoothingMode(graphics, SmoothingModeAntiAlias);
    GdipSetPixelOffsetMode(graphics, PixelOffsetModeHighQuality);
    return owners::Graphics(graphics);
}

owners::Brush solidBrush(ARGB colour) {
    GpSolidFill* brush = nullptr;
    GdipCreateSolidFill(colour, &brush);
    return owners::Brush(brush);
}

owners::Brush gradientBrush(const wishwell::Look& look, const RectF& bounds) {
    const PointF from(bounds.X, bounds.Y);
    const PointF to = look.horizontalFill ? PointF(bounds.X + bounds.Width, bounds.Y)
                                          : PointF(bounds.X, bounds.Y + bounds.Height);
    const int count = std::clamp(look.stopCount, 1, 8);
    GpLineGradient* brush = nullptr;
    // The rectangle is exactly the outline's bounds. Windows' anti-aliasing also paints the pixels
    // just past its far edge, which WrapModeTile gives the next tile's first colour: a thin line of
    // it along that edge. Mirrored tiles give them the last colour instead. Wine fills without
    // anti-aliasing, only pixels whose centres lie inside the outline, and shows no such line.
    GdipCreateLineBrush(&from, &to, look.stops[0].colour, look.stops[count - 1].colour,
                        WrapModeTileFlipXY, &brush);
    ARGB colours[8];
    REAL positions[8];
    for (int i = 0; i < count; ++i) {
        colours[i] = look.stops[i].colour;
        positions[i] = look.stops[i].position;
    }
    if (brush) GdipSetLinePresetBlend(brush, colours, positions, count);
    return owners::Brush(brush);
}

// The extrusion: the outline filled in the shadow colour six times, moved by (i, i), or (i, -i)
// when it rises, for i = 6 down to 1. A path moved by whole pixels fills the same pixels moved,
// so the outline is filled once and its pixels are laid over the sprite six times: under Wine
// every fill of a path costs more than a millisecond.
void drawExtrusion(GpBitmap* sprite, GpPath* path, const wishwell::Look& look) {
    UINT width = 0, height = 0;
    GdipGetImageWidth(sprite, &width);
    GdipGetImageHeight(sprite, &height);
    shadowMemory.assign(static_cast<std::size_t>(width) * height, 0u);
    GpBitmap* rawShadow = nullptr;
    GdipCreateBitmapFromScan0(static_cast<INT>(width), static_cast<INT>(height),
                              static_cast<INT>(width) * 4, PixelFormat32bppPARGB,
                              reinterpret_cast<BYTE*>(shadowMemory.data()), &rawShadow);
    const owners::Bitmap shadow(rawShadow);
    if (!shadow) return;
    {
        const owners::Graphics graphics = spriteGraphics(shadow.get());
        const owners::Brush brush = solidBrush(look.shadowColour);
        GdipFillPath(graphics.get(), brush.get(), path);
    }
    // Read through a lock, the documented way to a bitmap's pixels, though they are that memory.
    const owners::LockedBits from(shadow.get());
    const owners::LockedBits to(sprite, ImageLockModeRead | ImageLockModeWrite);
    if (!from.bits() || !to.bits()) return;
    const int w = std::min(from.width(), to.width());
    const int h = std::min(from.height(), to.height());
    wishwell::Surface target = {reinterpret_cast<wishwell::Pixel*>(to.bits()), w, h,
                                to.stride() / 4};
    const auto* shadowDrawn = reinterpret_cast<const wishwell::Pixel*>(from.bits());
    for (int i = 6; i >= 1; --i)
        wishwell::layImage(target, shadowDrawn, w, h, from.stride() / 4, i,
                           look.shadowRises ? -i : i);
}

// The look's style, or regular when the family does not offer it.
int styleFor(GpFontFamily* family, const wishwell::Look& look) {
    const int style =
        look.fontStyle == wishwell::FontStyle::boldItalic ? FontStyleBoldItalic : FontStyleBold;
    BOOL available = FALSE;
    const GpStatus asked = GdipIsStyleAvailable(family, style, &available);
    return asked == Ok && available ? style : FontStyleRegular;
}

// Whether a character map (a font's "cmap" table) maps the code point to a glyph, read from its
// first Unicode subtable of format 12, the one that reaches beyond the basic plane.
bool mapsCodePoint(const std::vector<BYTE>& cmap, char32_t c) {
    const auto u16 = [&](std::size_t at) -> std::uint32_t {
        return at + 2 <= cmap.size() ? std::uint32_t(cmap[at]) << 8 | cmap[at + 1] : 0;
    };
    const auto u32 = [&](std::size_t at) { return u16(at) << 16 | u16(at + 2); };
    const std::uint32_t tables = u16(2);
    for (std::uint32_t t = 0; t < tables; ++t) {
        const std::size_t record = 4 + 8 * static_cast<std::size_t>(t);
        const std::uint32_t platform = u16(record), encoding = u16(record + 2);
        const std::size_t table = u32(record + 4);
        if (!((platform == 3 && encoding == 10) || platform == 0) || u16(table) != 12) continue;
        const std::uint32_t groups = u32(table + 12);
        for (std::uint32_t g = 0; g < groups; ++g) {
            const std::size_t group = table + 16 + 12 * static_cast<std::size_t>(g);
            if (group + 12 > cmap.size()) return false;
            if (c >= u32(group) && c <= u32(group + 4))
                return u32(group + 8) + (c - u32(group)) != 0;
        }
        return false;
    }
    return false;
}

// Whether the family has a glyph for every character of the text that is drawn as one, asked of
// GDI's font of the same family, the face GDI+ draws with. GetGlyphIndicesW answers for the basic
// plane; characters beyond it, emoji among them, are looked up in the font's character map.
bool hasGlyphs(GpFontFamily* family, const std::wstring& text) {
    LOGFONTW description{};
    description.lfHeight = -44;
    description.lfCharSet = DEFAULT_CHARSET;
    GdipGetFamilyName(family, description.lfFaceName, LANG_NEUTRAL);
    const owners::GdiFont font(CreateFontIndirectW(&description));
    const owners::MemoryDc dc(CreateCompatibleDC(nullptr));
    if (!font || !dc) return false;
    const HGDIOBJ previous = SelectObject(dc.get(), font.get());
    std::vector<WORD> glyphs(text.size());
    const bool indexed = GetGlyphIndicesW(dc.get(), text.c_str(), static_cast<int>(text.size()),
                                          glyphs.data(), GGI_MARK_NONEXISTING_GLYPHS) != GDI_ERROR;
    std::vector<BYTE> cmap;
    const std::u16string units = utf16(text);
    bool all = indexed;
    for (std::size_t i = 0, length = 1; all && i < units.size(); i += length) {
        const char32_t c = wishwell::codePointAt(units, i, &length);
        if (!wishwell::needsGlyph(c)) continue;
        if (length == 1) {
            all = glyphs[i] != 0xFFFF;
            continue;
        }
        if (cmap.empty()) {
            const DWORD tag = 'c' | 'm' << 8 | 'a' << 16 | 'p' << 24;
            const DWORD size = GetFontData(dc.get(), tag, 0, nullptr, 0);
            if (size == GDI_ERROR || size == 0) {
                all = false;
                break;
            }
            cmap.resize(size);
            GetFontData(dc.get(), tag, 0, cmap.data(), size);
        }
        all = mapsCodePoint(cmap, c);
    }
    SelectObject(dc.get(), previous);
    return all;
}

} // namespace

Typeface typefaceFor(const wishwell::Look& look) {
    const std::string name = look.fontFamily ? look.fontFamily : "";
    GpFontFamily* wanted = nullptr;
    const GpStatus found = GdipCreateFontFamilyFromName(widen(name).c_str(), nullptr, &wanted);
    owners::FontFamily chosen(found == Ok ? wanted : nullptr);
    GpFontFamily* arial = nullptr;
    GdipCreateFontFamilyFromName(L"Arial", nullptr, &arial);
    owners::FontFamily fallback(arial);

    Typeface face;
    face.family = chosen ? std::move(chosen) : std::move(fallback);
    face.style = styleFor(face.family.get(), look);
    return face;
}

Typeface typefaceFor(const wishwell::Look& look, const std::wstring& text) {
    Typeface face = typefaceFor(look);
    const std::vector<std::string_view> candidates = wishwell::fallbackFamilies(utf16(text));
    if (candidates.empty() || hasGlyphs(face.family.get(), text)) return face;
    for (std::string_view name : candidates) {
        GpFontFamily* raw = nullptr;
        if (GdipCreateFontFamilyFromName(widen(std::string(name)).c_str(), nullptr, &raw) != Ok)
            continue;
        owners::FontFamily candidate(raw);
        if (!hasGlyphs(candidate.get(), text)) continue;
        face.family = std::move(candidate);
        face.style = styleFor(face.family.get(), look);
        break;
    }
    return face;
}

float startingEmSize(std::size_t units) {
    if (units <= 60) return 44;
    if (units <= 100) return 36;
    return 30;
}

TextFit fitText(const std::wstring& text, const Typeface& face) {
    return fit(textSetup(directionFlags(text)), text, face);
}

void addLineOutline(GpPath* path, const wchar_t* line, std::size_t units, const Typeface& face,
                    float emSize, const RectF& box, int direction) {
    // Windows measures with the measuring graphics' hinted glyph widths but lays a path's glyphs
    // out unhinted, a few pixels wider, so a line that just fitted would wrap its last word onto
    // the next line's place; Wine, even without wrapping, cuts a line at the box's edge. So the
    // line is never wrapped, in a box as wide again on either side, which keeps its centre.
    const owners::StringFormat unwrapped = centredFormat(direction | StringFormatFlagsNoWrap);
    const RectF wide(box.X - box.Width, box.Y, box.Width * 3, box.Height);
    GdipAddPathString(path, line, static_cast<INT>(units), face.family.get(), face.style, emSize,
                      &wide, unwrapped.get());
}

int spriteHeightFor(float outlineBottom) {
    const double height = std::ceil(static_cast<double>(outlineBottom) + 25);
    return static_cast<int>(std::clamp(height, 140.0, 1100.0));
}

namespace {

Sprite drawSprite(const std::wstring& text, const wishwell::Look& look,
                  std::vector<wishwell::Pixel>* memory) {
    const Typeface face = typefaceFor(look, text);
    const INT direction = directionFlags(text);
    const TextSetup setup = textSetup(direction);
    const TextFit fitted = fit(setup, text, face);

    GpPath* rawPath = nullptr;
    GdipCreatePath(FillModeAlternate, &rawPath);
    const owners::Path path(rawPath);
    const float boxHeight = std::clamp(fitted.height + fitted.emSize, 24.0f, 590.0f);
    if (path) addOutline(setup, path.get(), text, face, fitted.emSize, boxHeight, direction);

    GpMatrix* rawMatrix = nullptr;
    GdipCreateMatrix2(1, look.m12, 0, look.m22, wishwell::pathOffsetX, wishwell::pathOffsetY,
                      &rawMatrix);
    const owners::Matrix matrix(rawMatrix);
    GdipTransformPath(path.get(), matrix.get());
    RectF bounds;
    GdipGetPathWorldBounds(path.get(), &bounds, nullptr, nullptr);
    const int height = spriteHeightFor(bounds.Y + bounds.Height);

    Sprite sprite;
    sprite.width = spriteWidth;
    sprite.height = static_cast<float>(height);
    GpBitmap* bitmap = nullptr;
    if (memory) {
        memory->assign(static_cast<std::size_t>(spriteWidth) * height, 0u);
        GdipCreateBitmapFromScan0(static_cast<INT>(spriteWidth), height,
                                  static_cast<INT>(spriteWidth) * 4, PixelFormat32bppPARGB,
                                  reinterpret_cast<BYTE*>(memory->data()), &bitmap);
    } else {
        GdipCreateBitmapFromScan0(static_cast<INT>(spriteWidth), height, 0, PixelFormat32bppPARGB,
                                  nullptr, &bitmap);
        if (bitmap) clearToTransparent(bitmap);
    }
    sprite.bitmap.reset(bitmap);
    if (!bitmap) return sprite;
    if (look.hasShadow) drawExtrusion(bitmap, path.get(), look);
    const owners::Graphics graphics = spriteGraphics(bitmap);
    if (!graphics) return sprite;
    const owners::Brush fill = gradientBrush(look, bounds);
    if (look.hasOutline) {
        GpPen* rawPen = nullptr;
        GdipCreatePen1(look.outlineColour, look.outlineWidth, UnitWorld, &rawPen);
        const owners::Pen pen(rawPen);
        GdipSetPenLineJoin(pen.get(), LineJoinRound);
        GdipDrawPath(graphics.get(), pen.get(), path.get());
    }
    GdipFillPath(graphics.get(), fill.get(), path.get());
    return sprite;
}

} // namespace

Sprite buildSprite(const std::wstring& text, const wishwell::Look& look) {
    return drawSprite(text, look, nullptr);
}

Sprite buildSprite(const wishwell::Item& item) {
    return drawSprite(widen(item.text), wishwell::lookFor(item.animation, item.theme), nullptr);
}

Sprite buildSprite(const wishwell::Item& item, std::vector<wishwell::Pixel>& memory) {
    return drawSprite(widen(item.text), wishwell::lookFor(item.animation, item.theme), &memory);
}

float bannerEmSize(int width) {
    if (width <= 200) return 0;
    return std::min(static_cast<float>(width) / 35.0f, 13.0f);
}

void drawBanner(GpGraphics* graphics, int width, int height) {
    owners::Font font;
    GpFontFamily* rawFamily = nullptr;
    if (GdipCreateFontFamilyFromName(L"Segoe UI", nullptr, &rawFamily) == Ok) {
        const owners::FontFamily family(rawFamily);
        GpFont* rawFont = nullptr;
        GdipCreateFont(family.get(), bannerEmSize(width), FontStyleRegular, UnitPixel, &rawFont);
        font.reset(rawFont);
    }
    const owners::Brush grey = solidBrush(0xFF8C8C8C);
    // A zero-sized box: the text starts at its corner and is neither wrapped nor clipped.
    const RectF corner(16, static_cast<REAL>(height - 27), 0, 0);
    static const wchar_t text[] = L"SAMPLE INTENTIONS";
    GdipDrawString(graphics, text, static_cast<INT>(std::size(text) - 1), font.get(), &corner,
                   nullptr, grey.get());
}
