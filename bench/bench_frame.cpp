// Frame cost of the display on its one thread, at 1920 x 1080 and 3840 x 2160, for a page of 12
// sample-like intentions and the same page with texts of about 380 bytes: frames composed and
// shown, their processor time, the share spent clearing and copying to the screen, the sprite
// rebuild at a page change and the longest frame across one; both pages' frames again with the
// compositor's SSE4.1 and SSE2 kernels, as processors without AVX2 draw them; and, once, the
// straightforward GDI+ path for comparison; and the GPU path's frames, paced at 30 a second, with
// the processor time of the one thread and of the whole process, and across a page change.
//   tools/wine-run build/windows/bench_frame.exe [frames]

#include "screensaver.h"

#include "motion.h"
#include "../tests/helpers/gdiplus_copies.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

double now() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

double milliseconds(const FILETIME& kernel, const FILETIME& user) {
    const auto ms = [](const FILETIME& time) {
        return static_cast<double>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                   time.dwLowDateTime) /
               10000.0;
    };
    return ms(kernel) + ms(user);
}

// Processor time of the process in ms. It ticks in steps of 10 ms under Wine, so it is read over
// many frames at once.
double processorNow() {
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    return milliseconds(kernel, user);
}

// Processor time of the calling thread in ms.
double threadNow() {
    FILETIME created, ended, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user);
    return milliseconds(kernel, user);
}

double percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    const std::size_t at = std::min(
        values.size() - 1, static_cast<std::size_t>(fraction * static_cast<double>(values.size())));
    return values[at];
}

// The eight samples and four more of the same kinds: every look appears.
wishwell::Collection pageOfTwelve() {
    static const struct {
        const char* text;
        const char* animation;
        const char* theme;
    } more[] = {
        {"I am calm, patient and kind to myself every day.", "legacy", "rainbow"},
        {"I trust the timing of my life.", "wordart", "rainbow"},
        {"I am brave enough to start again.", "wordart", "superhero"},
        {"I give myself permission to rest.", "wordart", "horizon"},
    };
    wishwell::Collection result = wishwell::samples();
    int number = 0;
    for (const auto& entry : more)
        result.items.push_back(
            {"bench-" + std::to_string(number++), entry.text, entry.animation, entry.theme});
    return result;
}

// The same twelve with texts of about 380 bytes, as in the 30 MB import benchmark: images 500 to
// 1000 pixels tall, near the 1100 bound, the heaviest pages a real collection gives.
wishwell::Collection pageOfTwelveLong() {
    wishwell::Collection result = pageOfTwelve();
    const std::vector<wishwell::Item> shorter = result.items;
    for (std::size_t i = 0; i < result.items.size(); ++i) {
        std::string& text = result.items[i].text;
        for (std::size_t k = i + 1; text.size() < 360; ++k)
            text += " " + shorter[k % shorter.size()].text;
    }
    result.sample = false;
    return result;
}

// Two pages of the same twelve, so that the page changes 32 s after the start.
wishwell::Collection twoPagesOf(wishwell::Collection page) {
    const std::vector<wishwell::Item> first = page.items;
    for (const wishwell::Item& item : first)
        page.items.push_back({item.id + "-again", item.text, item.animation, item.theme});
    return page;
}

void report(const char* what, double value, const char* unit, const char* target) {
    std::printf("%-56s %8.1f %-3s target %s\n", what, value, unit, target);
}

// A display window of the program's own on the whole screen, painted at the frame times the
// benchmark sets on the display's clock.
double benchTime = 0;

struct Window {
    HWND handle = nullptr;
    Window(int width, int height) {
        handle = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"WishwellSaver", L"bench",
                                 WS_POPUP | WS_VISIBLE, 0, 0, width, height, nullptr, nullptr,
                                 instance, nullptr);
    }
    ~Window() { DestroyWindow(handle); }
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    // One frame as the frame timer brings it: the window composes it and copies what changed.
    void paintAt(double t) const {
        benchTime = t;
        SendMessageW(handle, WM_TIMER, 1, 0);
        UpdateWindow(handle);
    }
};

// Frames at 30 a second of frame time, as the window composes and shows them.
struct Frames {
    std::vector<double> shown;     // ms from the start of composing to the end of the copy
    double processor = 0;          // ms a frame
    double composing = 0;          // ms a frame, the composition alone
    double clearingAndCopying = 0; // share of a frame
};

Frames framesOf(const Window& window, int width, int height, int count, double from) {
    Frames frames;
    window.paintAt(from); // the sprites and the back buffer
    const double before = processorNow();
    for (int frame = 0; frame < count; ++frame) {
        const double start = now();
        window.paintAt(from + frame / 30.0);
        frames.shown.push_back(now() - start);
    }
    frames.processor = (processorNow() - before) / count;
    // The same frames composed alone, with what clearing them costs: the rest of a shown frame
    // is the copy to the screen.
    ViewState view;
    composeFrame(view, width, height, from);
    double composing = 0, clearing = 0;
    for (int frame = 0; frame < count; ++frame) {
        const double clearStart = now();
        wishwell::Surface surface = {view.backBuffer->pixels, width, height, width};
        wishwell::fillAreas(surface, view.drawn, 0xFF000000u);
        clearing += now() - clearStart;
        const double start = now();
        composeFrame(view, width, height, from + frame / 30.0);
        composing += now() - start;
    }
    double shown = 0;
    for (double value : frames.shown)
        shown += value;
    frames.clearingAndCopying = (shown - composing + 2 * clearing) / shown;
    frames.composing = composing / count;
    return frames;
}

// The median of five sprite rebuilds of the first page, as at every page change, with the
// frame they are built for: a record whose back buffer is ready but whose sprites are not.
double medianRebuild(int width, int height) {
    std::vector<double> rebuilds;
    ViewState view;
    composeFrame(view, width, height, 0);
    for (int round = 0; round < 5; ++round) {
        view.sprites.clear();
        view.shown.clear();
        const double start = now();
        composeFrame(view, width, height, 0);
        rebuilds.push_back(now() - start);
    }
    return percentile(rebuilds, 0.5);
}

// The longest time between two frames composed and shown back to back across a page change,
// with the collection of two pages in force.
double longestFrameAcrossPageChange(const Window& window, int width, int height) {
    const Frames frames = framesOf(window, width, height, 60, 31.0);
    return *std::max_element(frames.shown.begin(), frames.shown.end());
}

// The straightforward frame: a GDI+ bitmap back buffer, every copy drawn with
// GdipDrawImageRectRect and a colour matrix, shown with GdipDrawImageI.
double straightforwardFrame(HWND window, int width, int height, double t) {
    ViewState view;
    composeFrame(view, width, height, t);
    GpBitmap* backBuffer = nullptr;
    GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppPARGB, nullptr, &backBuffer);
    const owners::Bitmap owned(backBuffer);
    const double start = now();
    GpGraphics* graphics = nullptr;
    GdipGetImageGraphicsContext(backBuffer, &graphics);
    const owners::Graphics ownedGraphics(graphics);
    GdipGraphicsClear(graphics, 0xFF000000);
    GdipSetSmoothingMode(graphics, SmoothingModeAntiAlias);
    drawCopiesWithGdiplus(graphics, view, width, height, t);
    HDC dc = GetDC(window);
    GpGraphics* screen = nullptr;
    GdipCreateFromHDC(dc, &screen);
    GdipDrawImageI(screen, backBuffer, 0, 0);
    GdipDeleteGraphics(screen);
    ReleaseDC(window, dc);
    return now() - start;
}

void reportPage(const char* name, const Window& window, int width, int height, int count) {
    const Frames frames = framesOf(window, width, height, count, 1.0);
    const double rebuild = medianRebuild(width, height);
    std::printf("%s at %d x %d: %d frames\n", name, width, height, count);
    const std::string prefix = std::string(name) + ": ";
    report((prefix + "frame, composed and shown: median").c_str(), percentile(frames.shown, 0.5),
           "ms", "<= 33");
    report((prefix + "frame, composed and shown: 95th pct.").c_str(),
           percentile(frames.shown, 0.95), "ms", "<= 33");
    report((prefix + "processor time a frame").c_str(), frames.processor, "ms", "-");
    report((prefix + "composition alone: mean").c_str(), frames.composing, "ms", "-");
    report((prefix + "share of a frame clearing and copying").c_str(),
           100 * frames.clearingAndCopying, "%", "-");
    report((prefix + "sprite rebuild, page of 12: median of 5").c_str(), rebuild, "ms", "<= 150");
}

// A page's frames alone, without the sprite rebuild, which draws nothing through the compositor.
void reportFrames(const char* name, const Window& window, int width, int height, int count) {
    const Frames frames = framesOf(window, width, height, count, 1.0);
    std::printf("%s at %d x %d: %d frames\n", name, width, height, count);
    const std::string prefix = std::string(name) + ": ";
    report((prefix + "frame, composed and shown: median").c_str(), percentile(frames.shown, 0.5),
           "ms", "<= 33");
    report((prefix + "processor time a frame").c_str(), frames.processor, "ms", "-");
    report((prefix + "composition alone: mean").c_str(), frames.composing, "ms", "-");
}

// The GPU path's frames, brought at 30 a second as the frame clock brings them. The program's own
// cost is its thread's; the whole process's includes the threads of a driver, or under Wine of the
// software rasteriser, that do the GPU's work. A rasteriser that falls behind makes the thread
// wait for it, so its time counts only at the full frame rate.
void reportGpu(const char* name, int width, int height, int count, double from = 1.0) {
    drawPath = DrawPath::gpu;
    const Window window(width, height);
    const auto* record =
        reinterpret_cast<const ViewState*>(GetWindowLongPtrW(window.handle, GWLP_USERDATA));
    if (!record || !record->gpu) {
        std::printf("%s at %d x %d: no Direct3D 11 device\n", name, width, height);
        drawPath = DrawPath::processor;
        return;
    }
    window.paintAt(1.0); // the textures
    const double thread = threadNow(), process = processorNow(), start = now();
    // A frame the GPU is still behind on is left out, so the frames drawn are counted.
    int drawn = 0;
    double longest = 0;
    for (int frame = 0; frame < count; ++frame) {
        const double due = start + frame * 1000.0 / 30;
        if (const double wait = due - now(); wait > 0) Sleep(static_cast<DWORD>(wait));
        const double before = record->lastFrame, threadBefore = threadNow();
        window.paintAt(from + frame / 30.0);
        drawn += record->lastFrame != before;
        longest = std::max(longest, threadNow() - threadBefore);
    }
    const double elapsed = now() - start;
    std::printf("%s on the GPU at %d x %d: %d frames\n", name, width, height, drawn);
    const std::string prefix = std::string(name) + ", GPU path: ";
    report((prefix + "frames a second").c_str(), drawn * 1000.0 / elapsed, "fps", ">= 29");
    report((prefix + "the thread's processor time a frame").c_str(),
           (threadNow() - thread) / std::max(drawn, 1), "ms", "-");
    report((prefix + "the thread's longest frame").c_str(), longest, "ms", "-");
    report((prefix + "the process's processor time a frame").c_str(),
           (processorNow() - process) / std::max(drawn, 1), "ms", "-");
    drawPath = DrawPath::processor;
}

} // namespace

int main(int argc, char** argv) {
    const int frames = std::max(60, argc > 1 ? std::atoi(argv[1]) : 120);
    GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (GdiplusStartup(&token, &input, nullptr) != Ok) return 1;
    instance = GetModuleHandleW(nullptr);
    registerClasses();
    motionClock = [] { return benchTime; };
    showSample = false;
    reduced = false;
    drawPath = DrawPath::processor; // but for the GPU path's own rows
    {
        const Window hd(1920, 1080);
        collection = pageOfTwelve();
        reportPage("sample-like page", hd, 1920, 1080, frames);
        collection = twoPagesOf(pageOfTwelve());
        report("sample-like pages: longest frame across a page change",
               longestFrameAcrossPageChange(hd, 1920, 1080), "ms", "<= 150");
        collection = pageOfTwelve();
        report("straightforward GDI+ frame, sample-like page",
               straightforwardFrame(hd.handle, 1920, 1080, 1.0), "ms", "-");
        collection = pageOfTwelveLong();
        reportPage("long texts", hd, 1920, 1080, frames);
        collection = twoPagesOf(pageOfTwelveLong());
        report("long texts: longest frame across a page change",
               longestFrameAcrossPageChange(hd, 1920, 1080), "ms", "-");
        // The same frames on the processors without AVX2, or without SSE4.1 either.
        using wishwell::Kernel;
        const Kernel chosen = wishwell::kernel;
        for (const auto& [kernel, label] :
             {std::pair{Kernel::sse41, "SSE4.1"}, std::pair{Kernel::sse2, "SSE2"}}) {
            if (!wishwell::processorRuns(kernel)) continue;
            wishwell::kernel = kernel;
            // A window of its own for each page: both pages hold items 0 to 11, and a window
            // keeps the images it built for those items whichever collection they came from.
            for (const auto& [page, name] : {std::pair{&pageOfTwelve, "sample-like page, "},
                                             std::pair{&pageOfTwelveLong, "long texts, "}}) {
                const Window window(1920, 1080);
                collection = page();
                reportFrames((std::string(name) + label).c_str(), window, 1920, 1080, frames);
            }
        }
        wishwell::kernel = chosen;
    }
    {
        const Window uhd(3840, 2160);
        collection = pageOfTwelve();
        reportPage("sample-like page, 4K", uhd, 3840, 2160, frames);
    }
    collection = pageOfTwelve();
    reportGpu("sample-like page", 1920, 1080, frames);
    collection = pageOfTwelveLong();
    reportGpu("long texts", 1920, 1080, frames);
    // Two seconds about a page change, 31 s into the run: the next page's sprites are built and
    // uploaded one a frame in the last 0.8 s before it.
    collection = twoPagesOf(pageOfTwelveLong());
    reportGpu("long texts, page change", 1920, 1080, 60, 31.0);
    collection = pageOfTwelve();
    reportGpu("sample-like page, 4K", 3840, 2160, frames);
    collection = wishwell::Collection();
    GdiplusShutdown(token);
    return 0;
}
