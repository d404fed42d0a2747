// The frame's content, as both paths draw it: the page's sprites, built when the page changes and
// built ahead in the frames before; the copies of each intention and the banner, in drawing order
// (planFrame); and, on the processor, the composition of those copies into an off-screen buffer.
//
// The processor places the images with the program's own compositor (compositor.h) in a DIB
// section, with the world transform, the fade of the alpha channel and the prefiltered shrinking
// that GDI+ would apply; Wine's GDI+ resamples transformed images through generic per-pixel code,
// about 190 ms for the 36 copies of a 1920 x 1080 frame. A frame clears only what the frame before
// drew and copies to the screen only what changed.

#include "screensaver.h"

#include "motion.h"

#include <algorithm>
#include <cmath>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

constexpr wishwell::Pixel black = 0xFF000000u;
// The memory every sprite is drawn in before its pixels are prepared.
std::vector<wishwell::Pixel> spriteMemory;

HBITMAP frameBitmap(const BITMAPINFO& info, void** pixels) {
    return CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, pixels, nullptr, 0);
}

HDC frameDc() {
    return CreateCompatibleDC(nullptr);
}

std::unique_ptr<BackBuffer> makeBackBuffer(int width, int height) {
    auto buffer = std::make_unique<BackBuffer>();
    buffer->width = width;
    buffer->height = height;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    buffer->bitmap.reset(createFrameBitmap(info, &pixels));
    if (!buffer->bitmap) return buffer;
    buffer->dc.reset(createFrameDc());
    if (!buffer->dc) return buffer;
    SelectObject(buffer->dc.get(), buffer->bitmap.get());
    buffer->pixels = static_cast<std::uint32_t*>(pixels);
    std::fill_n(buffer->pixels, static_cast<std::size_t>(width) * height, black);
    return buffer;
}

wishwell::Surface surfaceOf(BackBuffer& buffer) {
    return {buffer.pixels, buffer.width, buffer.height, buffer.width};
}

// The samples while the settings window shows them, the user's own collection otherwise.
const wishwell::Collection& shownCollection() {
    return showSample ? previewCollection : collection;
}

bool samePage(const wishwell::Page& page, const std::vector<std::uint64_t>& shown) {
    if (page.count != shown.size()) return false;
    return std::equal(shown.begin(), shown.end(), page.index);
}

// The bitmap's pixels, read once, in the form the compositor draws from every frame; empty when
// they cannot be read.
wishwell::PreparedImage preparedPixels(GpBitmap* bitmap) {
    const owners::LockedBits pixels(bitmap);
    if (!pixels.bits()) return {};
    return wishwell::prepareImage(reinterpret_cast<const wishwell::Pixel*>(pixels.bits()),
                                  pixels.width(), pixels.height(), pixels.stride() / 4);
}

Sprite preparedSprite(const wishwell::Item& item) {
    Sprite sprite = buildSprite(item, spriteMemory);
    sprite.prepared = preparedPixels(sprite.bitmap.get());
    sprite.bitmap.reset();
    return sprite;
}

// The page's sprites: those already built (the page before may share intentions with it, and
// the last frames before a page change build the next page ahead) are kept, the rest built now.
void rebuildSprites(ViewState& view, const wishwell::Collection& from, const wishwell::Page& page) {
    std::map<std::uint64_t, Sprite> sprites;
    for (std::size_t j = 0; j < page.count; ++j) {
        const std::uint64_t index = page.index[j];
        if (const auto built = view.sprites.find(index); built != view.sprites.end())
            sprites.insert(view.sprites.extract(built));
        else
            sprites.insert_or_assign(index, preparedSprite(from.items.at(index)));
    }
    view.sprites = std::move(sprites);
    view.shown.assign(page.index, page.index + page.count);
}

bool spritesReady(const ViewState& view, const wishwell::Page& page) {
    return samePage(page, view.shown) &&
           std::all_of(page.index, page.index + page.count,
                       [&](std::uint64_t index) { return view.sprites.count(index) != 0; });
}

// A page of long texts takes a few hundred milliseconds to build, which would start the next
// page's fade-in late and abruptly. So in the last 0.8 s before a page change, while the page is
// fading out, each frame builds one sprite of the next page, and on the GPU uploads it. A sprite
// that cannot be built is left to the page change, which fails as a frame of its own: the frame
// already drawn stays.
void buildAhead(ViewState& view, const wishwell::Collection& from, double t) {
    constexpr double ahead = 0.8;
    const wishwell::Page now = wishwell::pageAt(t, from.items.size());
    const wishwell::Page next = wishwell::pageAt(t + ahead, from.items.size());
    if (next == now) return;
    for (std::size_t j = 0; j < next.count; ++j)
        if (!view.sprites.count(next.index[j])) {
            try {
                Sprite sprite = preparedSprite(from.items.at(next.index[j]));
                uploadAhead(view, sprite);
                view.sprites.insert_or_assign(next.index[j], std::move(sprite));
            } catch (...) {
            }
            return;
        }
}

// Every copy of every intention of the page, in page order, echoes first.
void listCopies(ViewState& view, const wishwell::Collection& from, const wishwell::Page& page,
                double t, double W, double H) {
    const double fade = wishwell::pageFade(t, from.items.size());
    const wishwell::Copies copies = wishwell::copiesToDraw(reduced);
    for (std::size_t j = 0; j < page.count; ++j) {
        const std::uint64_t index = page.index[j];
        Sprite& sprite = view.sprites.at(index);
        const std::uint32_t seed = wishwell::seedOf(from.items.at(index).id);
        const wishwell::Size size =
            wishwell::drawnSize(sprite.width, sprite.height, W, H, reduced, page.count);
        for (int c = 0; c < copies.count; ++c) {
            const wishwell::Pose pose = wishwell::pose(seed, t, copies.copy[c], reduced, j,
                                                       page.count, W, H, size.width, size.height);
            const wishwell::Placement at = {pose.x,        pose.y,     pose.scale,
                                            pose.rotation, size.width, size.height};
            view.copies.push_back({&sprite.prepared, &sprite.texture, at, pose.opacity * fade});
        }
    }
}

// "SAMPLE INTENTIONS" for a frame of that width, drawn once on a transparent image of the
// frame's lower left corner: the text starts 16 pixels from the left edge and 27 above the
// bottom, at most 13 pixels high and less than 16 em sizes wide in any face.
wishwell::PreparedImage bannerImage(int width) {
    const int em = static_cast<int>(std::ceil(bannerEmSize(width)));
    const int cornerWidth = std::min(width, 24 + 16 * em);
    const int cornerHeight = 27 + 2 * em;
    GpBitmap* raw = nullptr;
    GdipCreateBitmapFromScan0(cornerWidth, cornerHeight, 0, PixelFormat32bppPARGB, nullptr, &raw);
    const owners::Bitmap corner(raw);
    if (!corner) return {};
    {
        GpGraphics* rawGraphics = nullptr;
        GdipGetImageGraphicsContext(corner.get(), &rawGraphics);
        const owners::Graphics graphics(rawGraphics);
        if (!graphics) return {};
        GdipGraphicsClear(graphics.get(), 0x00000000);
        // Grey antialiasing: ClearType's colour fringes need the background they fall on.
        GdipSetTextRenderingHint(graphics.get(), TextRenderingHintAntiAlias);
        drawBanner(graphics.get(), width, cornerHeight);
    }
    return preparedPixels(corner.get());
}

// The banner over the frame's lower left corner, as the last copy.
void listBanner(ViewState& view, int width, int height) {
    if (view.bannerWidth != width) {
        view.banner = renderBanner(width);
        view.bannerTexture.reset();
        // A banner that could not be drawn is tried again on the next frame.
        view.bannerWidth = view.banner.width > 0 ? width : 0;
    }
    const wishwell::PreparedImage& banner = view.banner;
    if (banner.width < 1) return;
    const wishwell::Placement corner = {banner.width / 2.0,
                                        height - banner.height / 2.0,
                                        1,
                                        0,
                                        static_cast<double>(banner.width),
                                        static_cast<double>(banner.height)};
    view.copies.push_back({&view.banner, &view.bannerTexture, corner, 1});
}

} // namespace

HBITMAP (*createFrameBitmap)(const BITMAPINFO& info, void** pixels) = frameBitmap;
HDC (*createFrameDc)() = frameDc;
wishwell::PreparedImage (*renderBanner)(int width) = bannerImage;

bool composeFrame(ViewState& view, int width, int height, double t) {
    if (width < 1 || height < 1) return false;
    GdiFlush(); // the last frame's copy to the screen must be done before the pixels change
    // A back buffer that could not be made is made again.
    if (!view.backBuffer || !view.backBuffer->pixels || view.backBuffer->width != width ||
        view.backBuffer->height != height) {
        view.backBuffer.reset();
        view.backBuffer = makeBackBuffer(width, height);
        view.drawn.clear();
        view.wholeFrame = true;
    }
    BackBuffer& target = *view.backBuffer;
    wishwell::Surface surface = surfaceOf(target);
    // The last frame's areas become what this one changes, before anything here can fail.
    view.changed.swap(view.drawn);
    view.drawn.clear();
    if (target.pixels) wishwell::fillAreas(surface, view.changed, black);
    planFrame(view, width, height, t);
    if (!target.pixels) return false;

    // Each copy's own area: an echo lies far enough from its intention that one rectangle around
    // the three would take in much that neither covers.
    for (const FrameCopy& copy : view.copies) {
        const wishwell::Area covered =
            wishwell::drawImage(surface, *copy.image, copy.at, copy.opacity, view.work);
        if (!wishwell::isEmpty(covered)) view.drawn.push_back(covered);
    }
    view.changed.insert(view.changed.end(), view.drawn.begin(), view.drawn.end());
    return true;
}

bool planFrame(ViewState& view, int width, int height, double t) {
    view.copies.clear();
    if (width < 1 || height < 1) return false;
    const wishwell::Collection& from = shownCollection();
    const wishwell::Page page = wishwell::pageAt(t, from.items.size());
    // A rebuild cut short by a failure leaves shown as it was, so the next frame starts over.
    if (!spritesReady(view, page)) rebuildSprites(view, from, page);
    listCopies(view, from, page, t, width, height);
    if (width > 200 && from.sample) listBanner(view, width, height);
    buildAhead(view, from, t);
    return true;
}

void buildNextPage(ViewState& view, double t) {
    buildAhead(view, shownCollection(), t);
}

void blankFrame(ViewState& view) {
    if (BackBuffer* buffer = view.backBuffer.get(); buffer && buffer->pixels)
        std::fill_n(buffer->pixels, static_cast<std::size_t>(buffer->width) * buffer->height,
                    black);
    view.drawn.clear();
    view.changed.clear();
    view.wholeFrame = true;
}
