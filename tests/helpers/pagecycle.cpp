// Soak helper: the full-screen run of a stored collection, its pages turned as fast as the
// program can draw them. The display windows are the program's own (startViews, saverProc); only
// the frame clock is moved on, by setting the motion's origin back, so that hours of page changes
// pass in minutes.
//   pagecycle COLLECTION PAGES [FRAMES [FIRST]]   FRAMES frames of each page (default 10), FIRST
//                                                 of the first (default FRAMES)
// After the first page and then after every sixth it prints "page N frame K" (K frames of that
// page drawn) and waits for a line on standard input, so that the memory can be read from outside
// while the program stands still. A longer first page also waits after every FRAMES of its
// frames, so that growth per frame shows apart from growth per page change.
// Exit codes: 0 done, 2 usage, 3 the collection could not be read or parsed, 4 no window opened.

#include "screensaver.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

namespace {

constexpr double pageSeconds = 34;

// The frames are paintAt's alone, so that their count does not depend on how fast the program's
// own frame clock ticks: its timer messages are left unanswered. A frame slower than the timer's
// period would otherwise keep a timer message waiting and this loop busy for ever.
void pumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_TIMER) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// Composes and paints every display window at frame time t, as the frame timer would.
void paintAt(double t) {
    motionOrigin = std::chrono::steady_clock::now() -
                   std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                       std::chrono::duration<double>(t));
    for (HWND window : views) {
        SendMessageW(window, WM_TIMER, 1, 0);
        UpdateWindow(window);
    }
    pumpMessages();
}

void pauseForReading(int page, int frames) {
    std::printf("page %d frame %d\n", page, frames);
    std::fflush(stdout);
    char line[16];
    std::fgets(line, sizeof line, stdin);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3 || argc > 5) {
        std::fputs("usage: pagecycle COLLECTION PAGES [FRAMES [FIRST]]\n", stderr);
        return 2;
    }
    const int pages = _wtoi(argv[2]);
    const int frames = argc > 3 ? _wtoi(argv[3]) : 10;
    const int first = argc > 4 ? _wtoi(argv[4]) : frames;
    if (pages < 0 || frames < 1 || first < 1) {
        std::fputs("pagecycle: PAGES must be 0 or more, FRAMES and FIRST 1 or more\n", stderr);
        return 2;
    }
    instance = GetModuleHandleW(nullptr);
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return 3;
    int code = 0;
    try {
        collection = wishwell::parseBackup(readFile(argv[1]));
        registerClasses();
        // The processor's frames: a software rasteriser under Wine draws too few a second for
        // hours of pages to pass in minutes.
        drawPath = DrawPath::processor;
        startViews(false);
        if (views.empty()) code = 4;
        for (int page = 0; code == 0 && page <= pages; ++page) {
            // Inside the page, clear of its fades (the first page's frames wrap round within
            // 20 s of it): the rebuild comes with the first frame.
            const int count = page == 0 ? first : frames;
            for (int frame = 1; frame <= count; ++frame) {
                paintAt(pageSeconds * page + 4 + (frame - 1) % 600 / 30.0);
                if (page == 0 && frame < count && frame % frames == 0) pauseForReading(page, frame);
            }
            if (page % 6 == 0) pauseForReading(page, count);
        }
        closeViews();
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "%s\n", failure.what());
        code = 3;
    }
    collection = wishwell::Collection();
    previewCollection = wishwell::Collection();
    Gdiplus::GdiplusShutdown(token);
    return code;
}
