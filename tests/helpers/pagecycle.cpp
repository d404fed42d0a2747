// Soak helper: the full-screen run of a stored collection, its pages turned as fast as the
// program can draw them. The display windows are the program's own (startViews, saverProc); only
// the frame clock is moved on, by setting the motion's origin back, so that hours of page changes
// pass in minutes.
//   pagecycle COLLECTION PAGES [FRAMES]   FRAMES frames of each page (default 10)
// After the first page and then after every sixth it prints "page N" and waits for a line on
// standard input, so that the memory can be read from outside while the program stands still.
// Exit codes: 0 done, 2 usage, 3 the collection could not be read or parsed, 4 no window opened.

#include "screensaver.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

namespace {

constexpr double pageSeconds = 34;

void pumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
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

void pauseForReading(int page) {
    std::printf("page %d\n", page);
    std::fflush(stdout);
    char line[16];
    std::fgets(line, sizeof line, stdin);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3 || argc > 4) {
        std::fputs("usage: pagecycle COLLECTION PAGES [FRAMES]\n", stderr);
        return 2;
    }
    const int pages = _wtoi(argv[2]);
    const int frames = argc > 3 ? _wtoi(argv[3]) : 10;
    instance = GetModuleHandleW(nullptr);
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return 3;
    int code = 0;
    try {
        collection = wishwell::parseBackup(readFile(argv[1]));
        registerClasses();
        startViews(false);
        if (views.empty()) code = 4;
        for (int page = 0; code == 0 && page <= pages; ++page) {
            // Inside the page, clear of its fades: the rebuild comes with the first frame.
            for (int frame = 0; frame < frames; ++frame)
                paintAt(pageSeconds * page + 4 + frame / 30.0);
            if (page % 6 == 0) pauseForReading(page);
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
