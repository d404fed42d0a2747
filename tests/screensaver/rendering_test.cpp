// Intention rendering: fitting, outlines, the sprite's geometry and colours, typefaces, banner.

#include "screensaver.h"

#include "motion.h"
#include "platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

class GdiplusTest : public testing::Test {
protected:
    void SetUp() override {
        GdiplusStartupInput input;
        ASSERT_EQ(GdiplusStartup(&token, &input, nullptr), Ok);
    }
    void TearDown() override { GdiplusShutdown(token); }
    ULONG_PTR token = 0;
};

using SpriteTest = GdiplusTest;
using BannerTest = GdiplusTest;

// The bitmap's pixels as premultiplied ARGB, row by row.
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> argb;
    std::uint32_t at(int x, int y) const { return argb[static_cast<std::size_t>(y) * width + x]; }
};

Pixels pixelsOf(GpBitmap* bitmap) {
    Pixels result;
    const owners::LockedBits bits(bitmap);
    if (!bits.bits()) return result;
    result.width = bits.width();
    result.height = bits.height();
    for (int y = 0; y < result.height; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(bits.bits() + y * bits.stride());
        result.argb.insert(result.argb.end(), row, row + result.width);
    }
    return result;
}

// The colour of a premultiplied pixel with its alpha taken out.
std::uint32_t straight(std::uint32_t pixel) {
    const std::uint32_t alpha = pixel >> 24;
    if (alpha == 0) return 0;
    std::uint32_t result = alpha << 24;
    for (int shift = 0; shift < 24; shift += 8)
        result |= std::min(255u, (((pixel >> shift) & 0xFF) * 255 + alpha / 2) / alpha) << shift;
    return result;
}

bool closeTo(std::uint32_t a, std::uint32_t b, int tolerance) {
    for (int shift = 0; shift < 24; shift += 8)
        if (std::abs(static_cast<int>((a >> shift) & 0xFF) -
                     static_cast<int>((b >> shift) & 0xFF)) > tolerance)
            return false;
    return true;
}

// Rows (top, bottom) between which pixels near the colour occur, or (-1, -1).
std::pair<int, int> rowsOf(const Pixels& pixels, std::uint32_t colour, int tolerance,
                           std::uint32_t minimumAlpha) {
    std::pair<int, int> rows{-1, -1};
    for (int y = 0; y < pixels.height; ++y)
        for (int x = 0; x < pixels.width; ++x) {
            const std::uint32_t p = pixels.at(x, y);
            if ((p >> 24) < minimumAlpha || !closeTo(straight(p), colour, tolerance)) continue;
            if (rows.first < 0) rows.first = y;
            rows.second = y;
        }
    return rows;
}

std::wstring words(std::size_t units) {
    static const std::wstring pattern = L"I am open to joy and calm today ";
    std::wstring text;
    while (text.size() < units)
        text += pattern;
    text.resize(units);
    text.back() = L'.';
    return text;
}

wishwell::Look lookWithFamily(const char* family) {
    wishwell::Look look = wishwell::lookFor("wordart", "horizon");
    look.fontFamily = family;
    return look;
}

std::wstring familyName(const Typeface& face) {
    WCHAR name[LF_FACESIZE] = {};
    GdipGetFamilyName(face.family.get(), name, LANG_NEUTRAL);
    return name;
}

// The block height and line count of a text laid out as the sprite builder measures it.
std::pair<float, int> measureBlock(const std::wstring& text, const Typeface& face, float emSize) {
    GpBitmap* surface = nullptr;
    GdipCreateBitmapFromScan0(1, 1, 0, PixelFormat32bppPARGB, nullptr, &surface);
    const owners::Bitmap ownedSurface(surface);
    GpGraphics* graphics = nullptr;
    GdipGetImageGraphicsContext(surface, &graphics);
    const owners::Graphics ownedGraphics(graphics);
    GpStringFormat* format = nullptr;
    GdipCreateStringFormat(0, LANG_NEUTRAL, &format);
    const owners::StringFormat ownedFormat(format);
    GdipSetStringFormatAlign(format, StringAlignmentCenter);
    GpFont* font = nullptr;
    GdipCreateFont(face.family.get(), emSize, face.style, UnitPixel, &font);
    const owners::Font ownedFont(font);
    const RectF box(0, 0, 340, 20000);
    RectF bounds;
    INT fitted = 0, lines = 0;
    GdipMeasureString(graphics, text.c_str(), static_cast<INT>(text.size()), font, &box, format,
                      &bounds, &fitted, &lines);
    return {bounds.Height, lines};
}

// The starting em size follows the text length, and short texts fit at it.
TEST_F(SpriteTest, ShortTextsFitAtTheirStartingSize) {
    const struct {
        std::size_t units;
        float size;
    } cases[] = {{0, 44}, {1, 44}, {60, 44}, {61, 36}, {100, 36}, {101, 30}, {10000, 30}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.units);
        EXPECT_EQ(startingEmSize(c.units), c.size);
    }
    const Typeface face = typefaceFor(wishwell::lookFor("wordart", "rainbow"));
    for (std::size_t units : {60u, 61u, 101u}) {
        SCOPED_TRACE(units);
        const TextFit fit = fitText(words(units), face);
        EXPECT_EQ(fit.emSize, startingEmSize(units));
        EXPECT_GT(fit.height, 0);
        EXPECT_LE(fit.height, 570);
    }
    // Wine leaves a final line break out of its count of fitted units.
    EXPECT_EQ(fitText(L"I am whole.\n", face).emSize, 44);
    EXPECT_EQ(fitText(L"I am whole.  ", face).emSize, 44);
}

TEST_F(SpriteTest, LongTextsShrinkByFifthsUntilTheyFit) {
    const Typeface face = typefaceFor(wishwell::lookFor("windows", "rainbow"));
    std::wstring lineBreaks;
    for (int i = 0; i < 30; ++i)
        lineBreaks += L"calm\n";
    for (const std::wstring& text : {words(1500), lineBreaks}) {
        SCOPED_TRACE(text.size());
        const float start = startingEmSize(text.size());
        const TextFit fit = fitText(text, face);
        ASSERT_LT(fit.emSize, start);
        const double steps = std::log(fit.emSize / start) / std::log(0.8);
        EXPECT_NEAR(steps, std::round(steps), 1e-3);
        EXPECT_LE(fit.height, 570);
        EXPECT_FLOAT_EQ(measureBlock(text, face, fit.emSize).first, fit.height);
        // One size larger did not fit: fitting stops at the first size that does.
        EXPECT_GT(measureBlock(text, face, fit.emSize / 0.8f).first, 570);
    }
}

TEST_F(SpriteTest, MissingFamilyFallsBackToArial) {
    const Typeface missing = typefaceFor(lookWithFamily("No Such Family Wishwell"));
    const Typeface arial = typefaceFor(lookWithFamily("Arial"));
    ASSERT_TRUE(missing.family);
    EXPECT_EQ(familyName(missing), familyName(arial));
    EXPECT_EQ(missing.style, FontStyleBold);
    EXPECT_EQ(typefaceFor(wishwell::lookFor("wordart", "italicOutline")).style,
              FontStyleBoldItalic);

    const Pixels fallback = pixelsOf(
        buildSprite(L"I am here.", lookWithFamily("No Such Family Wishwell")).bitmap.get());
    const Pixels expected =
        pixelsOf(buildSprite(L"I am here.", lookWithFamily("Arial")).bitmap.get());
    ASSERT_EQ(fallback.height, expected.height);
    EXPECT_TRUE(fallback.argb == expected.argb);
}

TEST_F(SpriteTest, IsAlways420WideAndAtLeast140High) {
    const struct {
        std::wstring text;
        const char* animation;
        const char* theme;
    } cases[] = {
        {L" ", "wordart", "rainbow"},
        {L"I will backpack across Europe next summer.", "wordart", "superhero"},
        {words(3000), "legacy", "rainbow"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.size());
        const Sprite sprite = buildSprite(c.text, wishwell::lookFor(c.animation, c.theme));
        const Pixels pixels = pixelsOf(sprite.bitmap.get());
        EXPECT_EQ(sprite.width, 420);
        EXPECT_EQ(pixels.width, 420);
        EXPECT_EQ(pixels.height, static_cast<int>(sprite.height));
        EXPECT_GE(sprite.height, 140);
        EXPECT_LE(sprite.height, 1100);
        // Below the outline only the 6-pixel extrusion may reach into the 25-pixel margin.
        for (int y = pixels.height - 18; y < pixels.height; ++y)
            for (int x = 0; x < pixels.width; ++x)
                ASSERT_EQ(pixels.at(x, y) >> 24, 0u) << y;
    }
    EXPECT_EQ(buildSprite(L" ", wishwell::lookFor("wordart", "rainbow")).height, 140);
    // The height is the outline's bottom plus 25, clamped.
    const struct {
        float bottom;
        int height;
    } heights[] = {{0, 140},     {114, 140},      {115.2f, 141}, {400, 425},
                   {1075, 1100}, {1075.5f, 1100}, {5000, 1100}};
    for (const auto& c : heights) {
        SCOPED_TRACE(c.bottom);
        EXPECT_EQ(spriteHeightFor(c.bottom), c.height);
    }
}

TEST_F(SpriteTest, EveryLineOfAWrappedTextIsDrawnCentred) {
    const wishwell::Look& plain = wishwell::lookFor("echoes", "rainbow");
    const Typeface face = typefaceFor(plain);
    for (const std::wstring& text :
         {std::wstring(L"I am calm, I am kind, I am here."), std::wstring(L"I am\nhere\nnow."),
          std::wstring(L"I am\r\nhere\r\nnow.")}) {
        SCOPED_TRACE(testing::PrintToString(text));
        const TextFit fit = fitText(text, face);
        ASSERT_EQ(measureBlock(text, face, fit.emSize).second, 3);
        const Pixels pixels = pixelsOf(buildSprite(text, plain).bitmap.get());
        const float pitch = fit.height / 3;
        for (int line = 0; line < 3; ++line) {
            SCOPED_TRACE(line);
            // The plain look's fill, without its extrusion, in this line's band.
            const int top = static_cast<int>(115 + line * pitch);
            const int bottom = static_cast<int>(115 + (line + 1) * pitch);
            int inked = 0, left = 420, right = -1;
            for (int y = top; y < bottom && y < pixels.height; ++y)
                for (int x = 0; x < 420; ++x) {
                    const std::uint32_t p = pixels.at(x, y);
                    if ((p >> 24) != 255 || !closeTo(straight(p), 0xFFEDE0FF, 16)) continue;
                    ++inked;
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
            EXPECT_GT(inked, 100);
            EXPECT_NEAR((left + right) / 2.0, 210, 8); // centred in the box from 40 to 380
        }
    }
}

struct Outline {
    RectF bounds;
    INT points = 0;
};

Outline lineOutline(const std::wstring& line, const Typeface& face, float emSize,
                    const RectF& box) {
    GpPath* path = nullptr;
    GdipCreatePath(FillModeAlternate, &path);
    const owners::Path owned(path);
    addLineOutline(path, line.c_str(), line.size(), face, emSize, box);
    Outline outline;
    GdipGetPathWorldBounds(path, &outline.bounds, nullptr, nullptr);
    GdipGetPointCount(path, &outline.points);
    return outline;
}

// Windows lays a path's glyphs out a few pixels wider than it measures them, so a line can be
// wider than the box it was measured to fit. Its outline must stay whole, on one line, centred
// in its own line's band; here the box is made narrower than the line's own outline.
TEST_F(SpriteTest, EachLinesOutlineStaysWholeInItsOwnBand) {
    const struct {
        const char* animation;
        const char* theme;
        std::wstring line;
    } cases[] = {
        {"echoes", "rainbow", L"I am calm today."},
        {"wordart", "rainbow", L"I am ready for this."},
        {"wordart", "superhero", L"I will see Europe."},
    };
    const float emSize = 30;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(testing::PrintToString(c.line));
        const Typeface face = typefaceFor(wishwell::lookFor(c.animation, c.theme));
        const auto [pitch, lines] = measureBlock(c.line, face, emSize);
        ASSERT_EQ(lines, 1);
        const float top = pitch * static_cast<float>(i);
        const Outline fitting = lineOutline(c.line, face, emSize, RectF(0, top, 340, pitch));
        ASSERT_GT(fitting.points, 0);
        EXPECT_NEAR(fitting.bounds.X + fitting.bounds.Width / 2, 170, 3);

        const float narrow = fitting.bounds.Width - 4;
        const Outline squeezed =
            lineOutline(c.line, face, emSize, RectF(170 - narrow / 2, top, narrow, pitch));
        EXPECT_EQ(squeezed.points, fitting.points);
        EXPECT_NEAR(squeezed.bounds.X, fitting.bounds.X, 0.01);
        EXPECT_NEAR(squeezed.bounds.Width, fitting.bounds.Width, 0.01);
        // A descender may reach a little below the measured line; a wrapped word a line lower.
        EXPECT_GE(squeezed.bounds.Y, top);
        EXPECT_LE(squeezed.bounds.Y + squeezed.bounds.Height, top + pitch * 1.25f);
    }
}

// A script the look's family lacks is drawn in a family that holds it: its outline is not that of
// as many missing-glyph boxes in the same face. Greek keeps the look's own family.
TEST_F(SpriteTest, EveryScriptIsDrawnWithRealGlyphs) {
    const struct {
        const char* name;
        std::wstring text;
        const char* theme;
        bool ownFamily;
    } cases[] = {
        {"Greek", L"Είμαι ήρεμη.", "italicOutline", true},
        {"Japanese", L"私は成長しています。", "rainbow", false},
        {"Korean", L"나는 나를 믿는다.", "blues", false},
        {"Chinese", L"我相信自己。", "superhero", false},
        {"Hindi", L"मैं सक्षम हूँ।", "purple", false},
        {"Thai", L"ฉันเชื่อในตัวเอง", "horizon", false},
        {"Arabic", L"أنا أؤمن بنفسي.", "horizon", false},
        {"Hebrew", L"אני מאמינה בעצמי.", "rainbow", false},
        {"emoji", L"\U0001F600 \U0001F44D", "purple", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const wishwell::Look& look = wishwell::lookFor("wordart", c.theme);
        const Typeface face = typefaceFor(look, c.text);
        EXPECT_EQ(familyName(face) == familyName(typefaceFor(look)), c.ownFamily);
        // Wine's GDI+ draws a character beyond the basic plane as two missing glyphs.
        if (underWine() && c.text.find(L'\xD83D') != std::wstring::npos) continue;
        std::wstring missing = c.text; // U+0378 is no character, so no font has its glyph
        std::replace_if(
            missing.begin(), missing.end(), [](wchar_t u) { return u != L' '; }, 0x378);
        const RectF box(0, 0, 340, 60);
        EXPECT_NE(lineOutline(c.text, face, 30, box).points,
                  lineOutline(missing, face, 30, box).points);
    }
}

// A right-to-left paragraph ends on the left, as a left-to-right one (by a left-to-right mark) that
// starts with the full stop. Wine's GDI+ lays every text out left to right, in logical order.
TEST_F(SpriteTest, RightToLeftTextEndsOnTheLeft) {
    ONLY_ON_WINDOWS("Wine's GDI+ neither reorders right-to-left text nor reads its direction");
    const wishwell::Look& look = wishwell::lookFor("wordart", "horizon");
    for (const std::wstring letters :
         {L"\u05D0\u05E0\u05D9 \u05DB\u05D0\u05DF", L"\u0623\u0646\u0627 \u0647\u0646\u0627"}) {
        const Pixels rightToLeft = pixelsOf(buildSprite(letters + L".", look).bitmap.get());
        const Pixels leftToRight = pixelsOf(buildSprite(L"\u200E." + letters, look).bitmap.get());
        ASSERT_EQ(rightToLeft.height, leftToRight.height);
        int differing = 0;
        for (std::size_t i = 0; i < rightToLeft.argb.size(); ++i)
            differing += !closeTo(rightToLeft.argb[i], leftToRight.argb[i], 8);
        EXPECT_LT(differing, 40);
    }
}

TEST_F(SpriteTest, ShowsTheLooksShadowOutlineAndGradient) {
    const struct {
        const char* animation;
        const char* theme;
    } looks[] = {{"wordart", "rainbow"}, {"wordart", "blues"},   {"wordart", "superhero"},
                 {"wordart", "purple"},  {"wordart", "horizon"}, {"wordart", "italicOutline"},
                 {"echoes", "rainbow"},  {"windows", "rainbow"}};
    for (const auto& which : looks) {
        SCOPED_TRACE(std::string(which.animation) + " " + which.theme);
        const wishwell::Look& look = wishwell::lookFor(which.animation, which.theme);
        const Pixels pixels =
            pixelsOf(buildSprite(L"I am ready for big things.", look).bitmap.get());
        const std::uint32_t first = look.stops[0].colour;
        const std::uint32_t last = look.stops[look.stopCount - 1].colour;
        const auto firstRows = rowsOf(pixels, first, 24, 255);
        EXPECT_GE(firstRows.first, 0) << std::hex << first;
        EXPECT_GE(rowsOf(pixels, last, 24, 255).first, 0) << std::hex << last;
        if (look.hasOutline) {
            EXPECT_GE(rowsOf(pixels, look.outlineColour, 40, 96).first, 0)
                << std::hex << look.outlineColour;
        }
        if (!look.hasShadow) continue;
        const auto shadowRows = rowsOf(pixels, look.shadowColour, 8, 255);
        ASSERT_GE(shadowRows.first, 0) << std::hex << look.shadowColour;
        if (look.horizontalFill) continue;
        // The extrusion reaches 6 pixels beyond the text: upwards only for "blues".
        if (look.shadowRises) {
            EXPECT_LT(shadowRows.first, firstRows.first);
        } else {
            EXPECT_GT(shadowRows.second, rowsOf(pixels, last, 24, 255).second);
        }
    }
}

// "rainbow" runs from left to right, the other looks from top to bottom: every pixel of a stop
// nearer the start lies before every pixel of a stop nearer the end.
TEST_F(SpriteTest, GradientsRunInTheirLooksDirection) {
    const struct {
        const char* theme;
        std::uint32_t before;
        std::uint32_t after;
        bool horizontal;
    } cases[] = {
        // Its first and last stops are nearly the same purple, so two stops between them tell.
        {"rainbow", 0xFFF42E2C, 0xFF0B13FD, true},
        {"superhero", 0xFFFDEA00, 0xFFFC2700, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.theme);
        const Pixels pixels = pixelsOf(
            buildSprite(L"I am ready for big things.", wishwell::lookFor("wordart", c.theme))
                .bitmap.get());
        int before = 0, after = 0, lastBefore = -1, firstAfter = 1 << 30;
        for (int y = 0; y < pixels.height; ++y)
            for (int x = 0; x < pixels.width; ++x) {
                const std::uint32_t p = pixels.at(x, y);
                if ((p >> 24) != 255) continue;
                const int along = c.horizontal ? x : y;
                if (closeTo(straight(p), c.before, 24)) {
                    ++before;
                    lastBefore = std::max(lastBefore, along);
                }
                if (closeTo(straight(p), c.after, 24)) {
                    ++after;
                    firstAfter = std::min(firstAfter, along);
                }
            }
        ASSERT_GT(before, 20);
        ASSERT_GT(after, 20);
        EXPECT_LT(lastBefore, firstAfter);
    }
}

// A one-line text drawn step by step with GDI+ alone: outline, look matrix, six translated fills
// of the extrusion, stroke, gradient fill.
Pixels drawnStepByStep(const std::wstring& text, const wishwell::Look& look) {
    const Typeface face = typefaceFor(look);
    const TextFit fit = fitText(text, face);
    GpStringFormat* format = nullptr;
    GdipCreateStringFormat(0, LANG_NEUTRAL, &format);
    const owners::StringFormat ownedFormat(format);
    GdipSetStringFormatAlign(format, StringAlignmentCenter);
    GdipSetStringFormatLineAlign(format, StringAlignmentNear);
    GdipSetStringFormatTrimming(format, StringTrimmingNone);
    GpPath* path = nullptr;
    GdipCreatePath(FillModeAlternate, &path);
    const owners::Path ownedPath(path);
    const RectF box(0, 0, 340, std::clamp(fit.height + fit.emSize, 24.0f, 590.0f));
    GdipAddPathString(path, text.c_str(), static_cast<INT>(text.size()), face.family.get(),
                      face.style, fit.emSize, &box, format);
    GpMatrix* matrix = nullptr;
    GdipCreateMatrix2(1, look.m12, 0, look.m22, 40, 115, &matrix);
    const owners::Matrix ownedMatrix(matrix);
    GdipTransformPath(path, matrix);
    RectF b;
    GdipGetPathWorldBounds(path, &b, nullptr, nullptr);
    GpBitmap* bitmap = nullptr;
    GdipCreateBitmapFromScan0(420, spriteHeightFor(b.Y + b.Height), 0, PixelFormat32bppPARGB,
                              nullptr, &bitmap);
    const owners::Bitmap ownedBitmap(bitmap);
    {
        GpGraphics* graphics = nullptr;
        GdipGetImageGraphicsContext(bitmap, &graphics);
        const owners::Graphics ownedGraphics(graphics);
        GdipGraphicsClear(graphics, 0);
        GdipSetSmoothingMode(graphics, SmoothingModeAntiAlias);
        GdipSetPixelOffsetMode(graphics, PixelOffsetModeHighQuality);
        if (look.hasShadow) {
            GpSolidFill* shadow = nullptr;
            GdipCreateSolidFill(look.shadowColour, &shadow);
            const owners::Brush ownedShadow(shadow);
            for (int i = 6; i >= 1; --i) {
                GraphicsState state = 0;
                GdipSaveGraphics(graphics, &state);
                GdipTranslateWorldTransform(graphics, i, look.shadowRises ? -i : i,
                                            MatrixOrderPrepend);
                GdipFillPath(graphics, shadow, path);
                GdipRestoreGraphics(graphics, state);
            }
        }
        const PointF from(b.X, b.Y), to(b.X, b.Y + b.Height);
        GpLineGradient* fill = nullptr;
        GdipCreateLineBrush(&from, &to, look.stops[0].colour, look.stops[look.stopCount - 1].colour,
                            WrapModeTileFlipXY, &fill);
        const owners::Brush ownedFill(fill);
        ARGB colours[8];
        REAL positions[8];
        for (int i = 0; i < look.stopCount; ++i) {
            colours[i] = look.stops[i].colour;
            positions[i] = look.stops[i].position;
        }
        GdipSetLinePresetBlend(fill, colours, positions, look.stopCount);
        if (look.hasOutline) {
            GpPen* pen = nullptr;
            GdipCreatePen1(look.outlineColour, look.outlineWidth, UnitWorld, &pen);
            const owners::Pen ownedPen(pen);
            GdipSetPenLineJoin(pen, LineJoinRound);
            GdipDrawPath(graphics, pen, path);
        }
        GdipFillPath(graphics, fill, path);
    }
    return pixelsOf(bitmap);
}

TEST_F(SpriteTest, OneLineSpriteEqualsTheStepByStepDrawing) {
    const struct {
        const char* animation;
        const char* theme;
    } looks[] = {{"wordart", "superhero"},
                 {"wordart", "blues"},
                 {"legacy", "rainbow"},
                 {"wordart", "purple"}};
    std::vector<wishwell::Pixel> memory;
    for (const auto& which : looks) {
        SCOPED_TRACE(std::string(which.animation) + " " + which.theme);
        const wishwell::Look& look = wishwell::lookFor(which.animation, which.theme);
        const Pixels expected = drawnStepByStep(L"I am here.", look);
        const Pixels actual = pixelsOf(buildSprite(L"I am here.", look).bitmap.get());
        // Again in the memory the display reuses, after a larger sprite with a shadow.
        buildSprite(wishwell::Item{"", "I am ready for big things, today.", "wordart", "horizon"},
                    memory);
        const wishwell::Item item{"", "I am here.", which.animation, which.theme};
        EXPECT_EQ(pixelsOf(buildSprite(item, memory).bitmap.get()).argb, actual.argb);
        ASSERT_EQ(actual.height, expected.height);
        int differing = 0;
        for (std::size_t i = 0; i < actual.argb.size(); ++i)
            if (!closeTo(actual.argb[i], expected.argb[i], 1) ||
                std::abs(static_cast<int>(actual.argb[i] >> 24) -
                         static_cast<int>(expected.argb[i] >> 24)) > 1)
                ++differing;
        EXPECT_EQ(differing, 0);
    }
}

TEST_F(SpriteTest, InvalidUtf8TextRaises) {
    const wishwell::Item item{"bad", "I am \xFF whole.", "wordart", "rainbow"};
    try {
        buildSprite(item);
        FAIL() << "no exception";
    } catch (const std::runtime_error& failure) {
        EXPECT_STREQ(failure.what(), "Invalid UTF-8 text.");
    }
}

// The bounds of the banner's ink on a black frame of width x 120.
struct Ink {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
    bool grey = true;
    std::uint32_t brightest = 0;
};

Ink bannerInk(int width) {
    GpBitmap* bitmap = nullptr;
    GdipCreateBitmapFromScan0(width, 120, 0, PixelFormat32bppPARGB, nullptr, &bitmap);
    const owners::Bitmap frame(bitmap);
    GpGraphics* graphics = nullptr;
    GdipGetImageGraphicsContext(bitmap, &graphics);
    {
        const owners::Graphics owned(graphics);
        GdipGraphicsClear(graphics, 0xFF000000);
        drawBanner(graphics, width, 120);
    }
    const Pixels pixels = pixelsOf(bitmap);
    Ink ink;
    for (int y = 0; y < pixels.height; ++y)
        for (int x = 0; x < pixels.width; ++x) {
            const std::uint32_t p = pixels.at(x, y) & 0xFFFFFF;
            if (p == 0) continue;
            ink.left = std::min(ink.left, x);
            ink.right = std::max(ink.right, x);
            ink.top = std::min(ink.top, y);
            ink.bottom = std::max(ink.bottom, y);
            const std::uint32_t b = p & 0xFF;
            ink.grey = ink.grey && p == (b | b << 8 | b << 16);
            ink.brightest = std::max(ink.brightest, b);
        }
    return ink;
}

// Wine draws the text without smoothing, in Liberation Sans for "Segoe UI". Windows draws it in
// the real Segoe UI with the system's font smoothing, and ClearType gives its edges colour.
TEST_F(BannerTest, IsGreyTextAboveTheLowerLeftCorner) {
    ONLY_UNDER_WINE(
        "the banner's exact grey and box are those of Wine's unsmoothed Liberation Sans");
    const Ink small = bannerInk(350);
    const Ink full = bannerInk(455);
    const Ink wide = bannerInk(1920);
    for (const Ink& ink : {small, full, wide}) {
        ASSERT_GE(ink.right, 0);
        EXPECT_TRUE(ink.grey);
        EXPECT_EQ(ink.brightest, 0x8Cu);
        EXPECT_GE(ink.left, 16);
        EXPECT_LE(ink.left, 19);
        EXPECT_GE(ink.top, 120 - 27);
        EXPECT_LT(ink.bottom, 120 - 27 + 14);
    }
    // 13 px from 455 pixels up, 10 px at 350, none at 200 or less.
    EXPECT_EQ(full.right - full.left, wide.right - wide.left);
    EXPECT_NEAR(static_cast<double>(small.right - small.left) / (full.right - full.left),
                10.0 / 13.0, 0.04);
    const struct {
        int width;
        float size;
    } sizes[] = {{0, 0},    {200, 0},  {201, 201 / 35.0f}, {350, 10}, {454, 454 / 35.0f},
                 {455, 13}, {1920, 13}};
    for (const auto& c : sizes) {
        SCOPED_TRACE(c.width);
        EXPECT_FLOAT_EQ(bannerEmSize(c.width), c.size);
    }
}

} // namespace
