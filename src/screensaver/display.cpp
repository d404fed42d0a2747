// The display window: its per-window record, the frame clock, the choice of a path per window (the
// GPU, or the processor's back buffer), the hidden cursor and the end of the screensaver on user
// input. What a frame holds is frame.cpp's; the pause while nobody can see the screen is
// visibility.cpp's.
//
// Only the frame clock composes: a timer message that finds a frame due (frameclock.h) composes it
// into the back buffer and invalidates what changed. Every paint, the frame clock's and those
// Windows asks for itself (a host repainting over the preview child, a theme change, a window
// uncovered or restored), copies its update region from the back buffer, which always holds one
// whole frame. Windows hands out WM_PAINT before WM_TIMER, so a paint that composed would show a
// new frame only through Windows' region, and the old frame's ink elsewhere; under Wine the order
// is the same.

#include "screensaver.h"

#include "frameclock.h"
#include "motion.h"

#include <algorithm>
#include <cmath>

ULONGLONG (*tickCount)() = [] { return GetTickCount64(); };
double (*motionClock)() = [] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - motionOrigin).count();
};

namespace {

constexpr UINT_PTR frameTimer = 1;
constexpr ULONGLONG inputGrace = 801; // ms in which a mouse move or deactivation is ignored
constexpr LONG mouseSlack = 5;        // pixels a mouse may drift without ending the run

// ---- Window messages ---------------------------------------------------------------------------

ViewState* viewOf(HWND window) {
    return reinterpret_cast<ViewState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

// The refresh rate of the window's monitor in hertz; 0 when Windows does not say.
double refreshRate(HWND window) {
    MONITORINFOEXW monitor{};
    monitor.cbSize = sizeof monitor;
    DEVMODEW mode{};
    mode.dmSize = sizeof mode;
    if (!GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor) ||
        !EnumDisplaySettingsW(monitor.szDevice, ENUM_CURRENT_SETTINGS, &mode))
        return 0;
    return mode.dmDisplayFrequency;
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
        // The preview child, a small window inside Windows' own dialog, draws on the processor.
        if (!view->embedded) {
            listenForVisibility(window, *view);
            view->gpu = openGpuWindow(window);
            view->pacing = wishwell::pacingFor(refreshRate(window));
        }
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

// A present out of the frame-latency object's turn takes the turn, if it is there, or the swap
// chain would queue one frame more from then on.
void takeTurn(const ViewState& view) {
    if (HANDLE waitable = frameWaitable(view)) WaitForSingleObjectEx(waitable, 0, FALSE);
}

// Draws the frame at the motion's time t on the GPU and presents it, paced where the swap chain
// waits for the display's refresh; false when the window must draw on the processor instead.
bool composeOnGpu(HWND window, ViewState& view, double t) {
    RECT area{};
    GetClientRect(window, &area);
    try {
        planFrame(view, area.right, area.bottom, t);
    } catch (...) {
        view.copies.clear(); // black for this frame; the next one tries again
    }
    view.presented = 1;
    return showOnGpu(window, view,
                     frameWaitable(view) ? wishwell::presentInterval(view.pacing, 0) : 0);
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
    if (view.gpu) {
        if (composeOnGpu(window, view, t)) return;
        view.gpu.reset(); // the processor from now on, starting with this frame
        if (!view.timerPeriod && visible(view))
            setFrameTimer(window, view, wishwell::everyTickPeriod);
    }
    try {
        RECT area{};
        GetClientRect(window, &area);
        if (composeFrame(view, area.right, area.bottom, t)) invalidateChanged(window, view);
    } catch (...) {
        // Black for this frame; the next one tries again, rebuilding the sprites if need be.
        blankFrame(view);
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
    if (gpuBehind(*view)) {
        buildNextPage(*view, t); // the processor's part of the next page goes on meanwhile
        return;
    }
    const unsigned period =
        wishwell::nextTimerPeriod(view->timerPeriod, t - view->lastFrame, view->firings);
    composeAt(window, *view, t);
    if (period != view->timerPeriod) setFrameTimer(window, *view, period);
}

// Shows the frame already drawn wherever Windows asks, the frame clock included; black where there
// is none. A window's first frame comes with its first paint, there being nothing yet to show.
void paintFrame(HWND window) {
    ViewState* view = viewOf(window);
    if (view && view->gpu) {
        ValidateRect(window, nullptr);
        if (!visible(*view)) return;
        takeTurn(*view);
        if (view->lastFrame == -HUGE_VAL || !showOnGpu(window, *view, 0))
            composeAt(window, *view,
                      view->lastFrame == -HUGE_VAL ? motionClock() : view->lastFrame);
        return;
    }
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

void startFrameClock(HWND window) {
    ViewState* view = viewOf(window);
    if (!view) return;
    // A swap chain that waits for the display's refresh brings its own frames.
    if (!frameWaitable(*view)) setFrameTimer(window, *view, wishwell::everyTickPeriod);
    // A window seen again shows its frame at once in the motion's proper phase; a new one composes
    // its first frame when it is first painted.
    if (!(view->backBuffer || (view->gpu && view->lastFrame != -HUGE_VAL))) return;
    takeTurn(*view);
    composeAt(window, *view, motionClock());
}

void stopFrameClock(HWND window) {
    KillTimer(window, frameTimer);
    if (ViewState* view = viewOf(window)) view->timerPeriod = 0;
}

void frameWaits(std::vector<HANDLE>& handles, std::vector<HWND>& windows) {
    handles.clear();
    windows.clear();
    for (HWND window : views) {
        const ViewState* view = viewOf(window);
        HANDLE waitable = view && visible(*view) ? frameWaitable(*view) : nullptr;
        if (!waitable || handles.size() == MAXIMUM_WAIT_OBJECTS - 1) continue;
        handles.push_back(waitable);
        windows.push_back(window);
    }
}

// A frame stays for its refreshes, presented again where one present cannot wait that long; the
// motion's time of a new frame is read afresh, so every monitor keeps one phase.
void frameSignalled(HWND window) {
    ViewState* view = viewOf(window);
    if (!view || !view->gpu || !visible(*view)) return;
    if (wishwell::composesNext(view->pacing, view->presented)) {
        composeAt(window, *view, motionClock());
    } else if (!showOnGpu(window, *view,
                          wishwell::presentInterval(view->pacing, view->presented++))) {
        composeAt(window, *view, view->lastFrame);
    }
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
