// The display window: its per-window record, the frame clock, the composition of each frame into
// an off-screen buffer, the hidden cursor and the end of the screensaver on user input. The pause
// while nobody can see the screen is visibility.cpp's.
//
// The images are placed by the program's own compositor (compositor.h) into a DIB section, with
// the world transform, the fade of the alpha channel and the prefiltered shrinking that GDI+
// would apply; Wine's GDI+ resamples transformed images through generic per-pixel code, about
// 190 ms for the 36 copies of a 1920 x 1080 frame. A frame clears only what the frame before drew
// and copies to the screen only what changed.

#include "screensaver.h"

#include "motion.h"

#include <algorithm>
#include <cmath>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

ULONGLONG (*tickCount)() = [] { return GetTickCount64(); };

namespace {

constexpr UINT_PTR frameTimer = 1;
constexpr UINT framePeriod = 33;      // ms, about 30 frames a second
constexpr ULONGLONG inputGrace = 801; // ms in which a mouse move or deactivation is ignored
constexpr LONG mouseSlack = 5;        // pixels a mouse may drift without ending the run
constexpr wishwell::Pixel black = 0xFF000000u;

// ---- Frame composition -------------------------------------------------------------------------

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
    buffer->bitmap.reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0));
    if (!buffer->bitmap) return buffer;
    buffer->dc.reset(CreateCompatibleDC(nullptr));
    if (!buffer->dc) return buffer;
    SelectObject(buffer->dc.get(), buffer->bitmap.get());
    buffer->pixels = static_cast<std::uint32_t*>(pixels);
    std::fill_n(buffer->pixels, static_cast<std::size_t>(width) * height, black);
    return buffer;
}

wishwell::Surface surfaceOf(BackBuffer& buffer) {
    return {buffer.pixels, buffer.width, buffer.height, buffer.width};
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
    Sprite sprite = buildSprite(item);
    sprite.prepared = preparedPixels(sprite.bitmap.get());
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
// fading out, each frame builds one sprite of the next page.
void buildAhead(ViewState& view, const wishwell::Collection& from, double t) {
    constexpr double ahead = 0.8;
    const wishwell::Page now = wishwell::pageAt(t, from.items.size());
    const wishwell::Page next = wishwell::pageAt(t + ahead, from.items.size());
    if (next == now) return;
    for (std::size_t j = 0; j < next.count; ++j)
        if (!view.sprites.count(next.index[j])) {
            view.sprites.insert_or_assign(next.index[j],
                                          preparedSprite(from.items.at(next.index[j])));
            return;
        }
}

// Every copy of every intention of the page, in page order, echoes first; notes in drawn the area
// each copy covers. An echo lies far enough from its intention that one rectangle around the
// three would take in much that neither covers.
void drawPage(ViewState& view, const wishwell::Collection& from, const wishwell::Page& page,
              double t, std::vector<wishwell::Area>& drawn) {
    wishwell::Surface surface = surfaceOf(*view.backBuffer);
    const double W = surface.width;
    const double H = surface.height;
    const double fade = wishwell::pageFade(t, from.items.size());
    const wishwell::Copies copies = wishwell::copiesToDraw(reduced);
    for (std::size_t j = 0; j < page.count; ++j) {
        const std::uint64_t index = page.index[j];
        const Sprite& sprite = view.sprites.at(index);
        const std::uint32_t seed = wishwell::seedOf(from.items.at(index).id);
        const wishwell::Size size =
            wishwell::drawnSize(sprite.width, sprite.height, W, H, reduced, page.count);
        for (int c = 0; c < copies.count; ++c) {
            const wishwell::Pose pose = wishwell::pose(seed, t, copies.copy[c], reduced, j,
                                                       page.count, W, H, size.width, size.height);
            const wishwell::Placement at = {pose.x,        pose.y,     pose.scale,
                                            pose.rotation, size.width, size.height};
            const wishwell::Area covered =
                wishwell::drawImage(surface, sprite.prepared, at, pose.opacity * fade, view.work);
            if (!wishwell::isEmpty(covered)) drawn.push_back(covered);
        }
    }
}

// "SAMPLE INTENTIONS" for a frame of that width, drawn once on a transparent image of the
// frame's lower left corner: the text starts 16 pixels from the left edge and 27 above the
// bottom, at most 13 pixels high and less than 16 em sizes wide in any face.
wishwell::PreparedImage renderBanner(int width) {
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

// Lays the banner over the frame's lower left corner; returns the area it may have changed.
wishwell::Area drawSampleBanner(ViewState& view) {
    BackBuffer& target = *view.backBuffer;
    if (view.bannerWidth != target.width) {
        view.banner = renderBanner(target.width);
        view.bannerWidth = target.width;
    }
    const wishwell::PreparedImage& banner = view.banner;
    wishwell::Surface surface = surfaceOf(target);
    const wishwell::Placement corner = {banner.width / 2.0,
                                        target.height - banner.height / 2.0,
                                        1,
                                        0,
                                        static_cast<double>(banner.width),
                                        static_cast<double>(banner.height)};
    return wishwell::drawImage(surface, banner, corner, 1, view.work);
}

// ---- Window messages ---------------------------------------------------------------------------

ViewState* viewOf(HWND window) {
    return reinterpret_cast<ViewState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

LRESULT createView(HWND window, LPARAM lParam) {
    try {
        auto view = std::make_unique<ViewState>();
        view->embedded = reinterpret_cast<const CREATESTRUCTW*>(lParam)->lpCreateParams != nullptr;
        if (!view->embedded) listenForVisibility(window, *view);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(view.release()));
        if (visible(*viewOf(window))) startFrameClock(window);
        return 0;
    } catch (...) {
        return -1; // no record, no window
    }
}

// Copies what changed from the back buffer to the window: all of it when the frame is new, when
// Windows asked for more than the frame clock did, and once a second in case the screen lost
// something without saying so (under Wine, an X server can).
void showFrame(HDC dc, ViewState& view) {
    BackBuffer& buffer = *view.backBuffer;
    if (view.wholeFrame || ++view.framesSinceWhole >= 30) {
        BitBlt(dc, 0, 0, buffer.width, buffer.height, buffer.dc.get(), 0, 0, SRCCOPY);
        view.wholeFrame = false;
        view.framesSinceWhole = 0;
        return;
    }
    if (view.changed.empty()) return;
    owners::GdiRegion region(CreateRectRgn(0, 0, 0, 0));
    wishwell::Area bounds;
    for (const wishwell::Area& area : view.changed) {
        const owners::GdiRegion part(CreateRectRgn(area.left, area.top, area.right, area.bottom));
        CombineRgn(region.get(), region.get(), part.get(), RGN_OR);
        bounds = wishwell::unite(bounds, area);
    }
    ExtSelectClipRgn(dc, region.get(), RGN_AND);
    BitBlt(dc, bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top,
           buffer.dc.get(), bounds.left, bounds.top, SRCCOPY);
    SelectClipRgn(dc, nullptr);
}

void paintFrame(HWND window) {
    owners::PaintScope paint(window);
    ViewState* view = viewOf(window);
    if (!view || !visible(*view)) return;
    try {
        RECT area{};
        GetClientRect(window, &area);
        const auto elapsed = static_cast<std::int64_t>(tickCount() - started);
        const double t = static_cast<double>(elapsed) / 1000.0;
        if (composeFrame(*view, area.right, area.bottom, t)) showFrame(paint.dc(), *view);
    } catch (...) {
        // Black for this frame; the next one tries again, rebuilding the sprites if need be.
        FillRect(paint.dc(), &paint.paint().rcPaint,
                 static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        view->wholeFrame = true;
    }
}

// The frame clock asks for the whole window; whatever Windows asked for before that is painted
// whole.
void frameDue(HWND window) {
    ViewState* view = viewOf(window);
    if (view && !visible(*view)) return;
    if (view && GetUpdateRect(window, nullptr, FALSE)) view->wholeFrame = true;
    InvalidateRect(window, nullptr, FALSE);
}

bool afterGrace() {
    return tickCount() >= started + inputGrace;
}

void mouseMoved(HWND window) {
    const ViewState* view = viewOf(window);
    if (!view || view->embedded || !afterGrace()) return;
    POINT cursor{};
    GetCursorPos(&cursor);
    if (std::abs(cursor.x - initialMouse.x) > mouseSlack ||
        std::abs(cursor.y - initialMouse.y) > mouseSlack)
        closeViews();
}

void releaseView(HWND window) {
    std::unique_ptr<ViewState> view(viewOf(window));
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    const bool embedded = view && view->embedded;
    view.reset();
    if (embedded) PostQuitMessage(0);
}

} // namespace

bool composeFrame(ViewState& view, int width, int height, double t) {
    if (width < 1 || height < 1) return false;
    GdiFlush(); // the last frame's copy to the screen must be done before the pixels change
    if (!view.backBuffer || view.backBuffer->width != width || view.backBuffer->height != height) {
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

    const wishwell::Collection& from = showSample ? previewCollection : collection;
    const wishwell::Page page = wishwell::pageAt(t, from.items.size());
    // A rebuild cut short by a failure leaves shown as it was, so the next frame starts over.
    if (!spritesReady(view, page)) rebuildSprites(view, from, page);
    if (!target.pixels) return false;

    drawPage(view, from, page, t, view.drawn);
    if (width > 200 && from.sample) {
        const wishwell::Area banner = drawSampleBanner(view);
        if (!wishwell::isEmpty(banner)) view.drawn.push_back(banner);
    }
    view.changed.insert(view.changed.end(), view.drawn.begin(), view.drawn.end());
    buildAhead(view, from, t);
    return true;
}

void startFrameClock(HWND window) {
    SetTimer(window, frameTimer, framePeriod, nullptr);
}

void stopFrameClock(HWND window) {
    KillTimer(window, frameTimer);
}

LRESULT CALLBACK saverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: return createView(window, lParam);
    case WM_TIMER: frameDue(window); return 0;
    case WM_PAINT: paintFrame(window); return 0;
    case WM_ERASEBKGND: return 1; // every frame covers the whole client area
    case WM_SETCURSOR:
        if (const ViewState* view = viewOf(window); view && !view->embedded) {
            SetCursor(nullptr);
            return TRUE;
        }
        break;
    case WM_MOUSEMOVE: mouseMoved(window); return 0;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_MOUSEWHEEL:
    case WM_POINTERDOWN:
    case WM_DISPLAYCHANGE:
        if (const ViewState* view = viewOf(window); view && !view->embedded) closeViews();
        return 0;
    case WM_ACTIVATEAPP:
        if (wParam == FALSE && externalSaver && afterGrace()) closeViews();
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_SCREENSAVE) return 0; // no screensaver over this one
        break;
    case WM_POWERBROADCAST:
        if (ViewState* view = viewOf(window)) powerChanged(window, *view, wParam, lParam);
        return TRUE;
    case WM_WTSSESSION_CHANGE:
        if (ViewState* view = viewOf(window)) sessionChanged(window, *view, wParam);
        return 0;
    case WM_CLOSE:
        if (const ViewState* view = viewOf(window); view && view->embedded)
            DestroyWindow(window);
        else
            closeViews();
        return 0;
    case WM_DESTROY:
        stopFrameClock(window);
        if (ViewState* view = viewOf(window)) stopListening(window, *view);
        break;
    case WM_NCDESTROY: releaseView(window); break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
