// The display window: its per-window record, the frame clock, the composition of each frame into
// an off-screen buffer, the hidden cursor and the end of the screensaver on user input. The pause
// while nobody can see the screen is visibility.cpp's.
//
// Only the frame clock composes: a timer message that finds a frame due (frameclock.h) composes it
// into the back buffer and invalidates what changed. Every paint, the frame clock's and those
// Windows asks for itself (a host repainting over the preview child, a theme change, a window
// uncovered or restored), copies its update region from the back buffer, which always holds one
// whole frame. Windows hands out WM_PAINT before WM_TIMER, so a paint that composed would show a
// new frame only through Windows' region, and the old frame's ink elsewhere; under Wine the order
// is the same.
//
// The images are placed by the program's own compositor (compositor.h) into a DIB section, with
// the world transform, the fade of the alpha channel and the prefiltered shrinking that GDI+
// would apply; Wine's GDI+ resamples transformed images through generic per-pixel code, about
// 190 ms for the 36 copies of a 1920 x 1080 frame. A frame clears only what the frame before drew
// and copies to the screen only what changed.

#include "screensaver.h"

#include "frameclock.h"
#include "motion.h"

#include <algorithm>
#include <cmath>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

ULONGLONG (*tickCount)() = [] { return GetTickCount64(); };
double (*motionClock)() = [] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - motionOrigin).count();
};

namespace {

constexpr UINT_PTR frameTimer = 1;
constexpr ULONGLONG inputGrace = 801; // ms in which a mouse move or deactivation is ignored
constexpr LONG mouseSlack = 5;        // pixels a mouse may drift without ending the run
constexpr wishwell::Pixel black = 0xFF000000u;

// ---- Frame composition -------------------------------------------------------------------------

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
// fading out, each frame builds one sprite of the next page. A sprite that cannot be built is left
// to the page change, which fails as a frame of its own: the frame already drawn stays.
void buildAhead(ViewState& view, const wishwell::Collection& from, double t) {
    constexpr double ahead = 0.8;
    const wishwell::Page now = wishwell::pageAt(t, from.items.size());
    const wishwell::Page next = wishwell::pageAt(t + ahead, from.items.size());
    if (next == now) return;
    for (std::size_t j = 0; j < next.count; ++j)
        if (!view.sprites.count(next.index[j])) {
            try {
                view.sprites.insert_or_assign(next.index[j],
                                              preparedSprite(from.items.at(next.index[j])));
            } catch (...) {
            }
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

// Lays the banner over the frame's lower left corner; returns the area it may have changed.
wishwell::Area drawSampleBanner(ViewState& view) {
    BackBuffer& target = *view.backBuffer;
    if (view.bannerWidth != target.width) {
        view.banner = renderBanner(target.width);
        // A banner that could not be drawn is tried again on the next frame.
        view.bannerWidth = view.banner.width > 0 ? target.width : 0;
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

// On a right-to-left Windows the Display settings page may be mirrored, and a child takes its
// parent's layout (Wine does so too): the frames copied into a mirrored window would be
// mirror-written. Windows documents WM_NCCREATE as the place where a child stops inheriting it.
void keepLeftToRight(HWND window) {
    SetWindowLongW(window, GWL_EXSTYLE, GetWindowLongW(window, GWL_EXSTYLE) & ~WS_EX_LAYOUTRTL);
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

// Asks Windows to repaint what the frame changed: all of it when the frame is new or follows a
// black one, and once a second in case the screen lost something without saying so (under Wine,
// an X server can).
void invalidateChanged(HWND window, ViewState& view) {
    if (view.wholeFrame || ++view.framesSinceWhole >= 30) {
        InvalidateRect(window, nullptr, FALSE);
        view.wholeFrame = false;
        view.framesSinceWhole = 0;
        return;
    }
    if (view.changed.empty()) return;
    const owners::GdiRegion region(CreateRectRgn(0, 0, 0, 0));
    for (const wishwell::Area& area : view.changed) {
        const owners::GdiRegion part(CreateRectRgn(area.left, area.top, area.right, area.bottom));
        CombineRgn(region.get(), region.get(), part.get(), RGN_OR);
    }
    InvalidateRgn(window, region.get(), FALSE);
}

// Never coalesced with other timers: a coalesced firing slips to a later tick (frameclock.h).
void setFrameTimer(HWND window, ViewState& view, unsigned period) {
    view.timerPeriod = period;
    SetCoalescableTimer(window, frameTimer, period, nullptr, wishwell::frameTimerTolerance);
}

// Composes the frame at the motion's time t and asks for what changed to be shown.
void composeAt(HWND window, ViewState& view, double t) {
    view.lastFrame = t;
    view.firings = 0;
    try {
        RECT area{};
        GetClientRect(window, &area);
        if (composeFrame(view, area.right, area.bottom, t)) invalidateChanged(window, view);
    } catch (...) {
        // Black for this frame; the next one tries again, rebuilding the sprites if need be.
        if (BackBuffer* buffer = view.backBuffer.get(); buffer && buffer->pixels)
            std::fill_n(buffer->pixels, static_cast<std::size_t>(buffer->width) * buffer->height,
                        black);
        view.drawn.clear();
        view.changed.clear();
        view.wholeFrame = true;
        InvalidateRect(window, nullptr, FALSE);
    }
}

// The timer fires on every default tick, or every 31 ms on a finer one and under Wine
// (frameclock.h); a firing brings a frame when one is due. The motion's time is read afresh for
// every frame, never accumulated, from a clock whose origin all windows share, so every monitor
// shows the same phase.
void timerFired(HWND window) {
    ViewState* view = viewOf(window);
    if (!view || !visible(*view)) return;
    const double t = motionClock();
    ++view->firings;
    if (!wishwell::frameDue(view->lastFrame, t)) return;
    const unsigned period =
        wishwell::nextTimerPeriod(view->timerPeriod, t - view->lastFrame, view->firings);
    composeAt(window, *view, t);
    if (period != view->timerPeriod) setFrameTimer(window, *view, period);
}

// Shows the frame already drawn wherever Windows asks, the frame clock included; black where there
// is none. A window's first frame comes with its first paint, there being nothing yet to show.
void paintFrame(HWND window) {
    ViewState* view = viewOf(window);
    if (view && !view->backBuffer && visible(*view)) composeAt(window, *view, motionClock());
    const owners::PaintScope paint(window);
    const RECT& asked = paint.paint().rcPaint;
    const BackBuffer* buffer = view ? view->backBuffer.get() : nullptr;
    if (!buffer || !buffer->pixels) {
        FillRect(paint.dc(), &asked, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        return;
    }
    // The paint's device context is clipped to the update region.
    BitBlt(paint.dc(), asked.left, asked.top, asked.right - asked.left, asked.bottom - asked.top,
           buffer->dc.get(), asked.left, asked.top, SRCCOPY);
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
    ViewState* view = viewOf(window);
    if (!view) return;
    setFrameTimer(window, *view, wishwell::everyTickPeriod);
    // A window seen again shows its frame at once in the motion's proper phase; a new one composes
    // its first frame when it is first painted.
    if (view->backBuffer) composeAt(window, *view, motionClock());
}

void stopFrameClock(HWND window) {
    KillTimer(window, frameTimer);
    if (ViewState* view = viewOf(window)) view->timerPeriod = 0;
}

LRESULT CALLBACK saverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_NCCREATE: keepLeftToRight(window); break;
    case WM_CREATE: return createView(window, lParam);
    case WM_TIMER: timerFired(window); return 0;
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
