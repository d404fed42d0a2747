// The display window: frames at a given time, the sprite cache, the paint guard, the banner, and
// the window's answers to input and system messages.

#include "screensaver.h"

#include <wtsapi32.h>

#include "motion.h"
#include "../helpers/gdiplus_copies.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

const char* const texts[] = {"I have financial freedom.", "I am a famous potato farmer.",
                             "I will meet my soulmate.", "I believe in myself.",
                             "I am in harmony with the universe."};
const char* const themes[] = {"rainbow", "blues", "superhero", "purple", "horizon"};

wishwell::Collection intentions(std::size_t count, bool sample = false) {
    wishwell::Collection result;
    result.sample = sample;
    for (std::size_t i = 0; i < count; ++i)
        result.items.push_back({"item-" + std::to_string(i), texts[i % 5],
                                i % 4 == 1 ? "windows" : "wordart", themes[i % 5]});
    return result;
}

class Frame : public testing::Test {
protected:
    void SetUp() override {
        GdiplusStartupInput input;
        ASSERT_EQ(GdiplusStartup(&token, &input, nullptr), Ok);
        instance = GetModuleHandleW(nullptr);
        registerClasses();
        showSample = false;
        reduced = false;
        externalSaver = false;
        childPreview = false;
    }
    void TearDown() override {
        closeViews();
        drainMessages();
        view = ViewState();
        collection = wishwell::Collection();
        previewCollection = wishwell::Collection();
        showSample = false;
        reduced = false;
        externalSaver = false;
        GdiplusShutdown(token);
    }
    // Dispatches what is queued; true when a quit message was among it.
    static bool drainMessages() {
        MSG message;
        bool quit = false;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message != WM_QUIT) DispatchMessageW(&message);
            quit = quit || message.message == WM_QUIT;
        }
        return quit;
    }
    HWND openWindow(bool embedded, int width = 64, int height = 48) {
        HWND window =
            CreateWindowExW(0, L"WishwellSaver", L"", WS_POPUP, 0, 0, width, height, nullptr,
                            nullptr, instance, embedded ? reinterpret_cast<LPVOID>(1) : nullptr);
        if (window) views.push_back(window);
        return window;
    }
    static const ViewState* recordOf(HWND window) {
        return reinterpret_cast<const ViewState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    }
    // Puts a pixel into every cached sprite; a rebuilt sprite comes without it.
    void markSprites() {
        for (auto& [index, sprite] : view.sprites)
            GdipBitmapSetPixel(sprite.bitmap.get(), 0, 0, 0xFF123456);
    }
    std::size_t markedSprites() const {
        std::size_t marked = 0;
        for (const auto& [index, sprite] : view.sprites) {
            ARGB colour = 0;
            GdipBitmapGetPixel(sprite.bitmap.get(), 0, 0, &colour);
            if (colour == 0xFF123456) ++marked;
        }
        return marked;
    }
    ULONG_PTR token = 0;
    ViewState view;
};

std::uint64_t inkOf(const BackBuffer& buffer) {
    std::uint64_t sum = 0;
    for (int i = 0; i < buffer.width * buffer.height; ++i) {
        const std::uint32_t p = buffer.pixels[i];
        sum += (p & 0xFF) + ((p >> 8) & 0xFF) + ((p >> 16) & 0xFF);
    }
    return sum;
}

TEST_F(Frame, EmptyAreaComposesNothing) {
    collection = intentions(3);
    const std::pair<int, int> sizes[] = {{0, 100}, {100, 0}, {-5, 10}, {0, 0}};
    for (const auto& [width, height] : sizes) {
        SCOPED_TRACE(testing::Message() << width << " x " << height);
        EXPECT_FALSE(composeFrame(view, width, height, 1.0));
        EXPECT_FALSE(view.backBuffer);
        EXPECT_TRUE(view.sprites.empty());
    }
    HWND window = openWindow(false, 0, 0);
    ASSERT_TRUE(window);
    SendMessageW(window, WM_PAINT, 0, 0);
    ASSERT_TRUE(recordOf(window));
    EXPECT_FALSE(recordOf(window)->backBuffer);
}

TEST_F(Frame, ResizeReplacesOnlyTheBackBuffer) {
    collection = intentions(4);
    ASSERT_TRUE(composeFrame(view, 640, 480, 3.0));
    markSprites();
    const BackBuffer* first = view.backBuffer.get();
    ASSERT_TRUE(composeFrame(view, 640, 480, 3.5));
    EXPECT_EQ(view.backBuffer.get(), first);

    ASSERT_TRUE(composeFrame(view, 800, 600, 4.0));
    EXPECT_EQ(view.backBuffer->width, 800);
    EXPECT_EQ(view.backBuffer->height, 600);
    BITMAP info{};
    GetObjectW(view.backBuffer->bitmap.get(), sizeof(info), &info);
    EXPECT_EQ(info.bmWidth, 800);
    EXPECT_EQ(info.bmHeight, 600);
    EXPECT_EQ(markedSprites(), 4u);
    EXPECT_GT(inkOf(*view.backBuffer), 0u);
}

TEST_F(Frame, TwelveOrFewerIntentionsAreRenderedOnce) {
    for (std::size_t count : {1u, 5u, 12u}) {
        SCOPED_TRACE(count);
        collection = intentions(count);
        view = ViewState();
        ASSERT_TRUE(composeFrame(view, 320, 240, 0));
        markSprites();
        for (double t : {0.5, 31.9, 32.1, 100.0, 1000.0})
            ASSERT_TRUE(composeFrame(view, 320, 240, t));
        EXPECT_EQ(view.sprites.size(), count);
        EXPECT_EQ(markedSprites(), count);
        ASSERT_EQ(view.shown.size(), count);
        for (std::size_t i = 0; i < count; ++i)
            EXPECT_EQ(view.shown[i], i);
    }
}

TEST_F(Frame, LargerCollectionsBuildEachNewPageAheadOfItsChange) {
    // With 13 intentions the second page starts at item 12, then items 0 to 10 again.
    collection = intentions(13);
    ASSERT_TRUE(composeFrame(view, 320, 240, 0));
    markSprites();
    ASSERT_TRUE(composeFrame(view, 320, 240, 30.0));
    EXPECT_EQ(view.sprites.size(), 12u) << "nothing is built ahead before the fade-out";
    // In the fade-out's last frames, one sprite of the next page a frame, while the first page
    // is still shown.
    ASSERT_TRUE(composeFrame(view, 320, 240, 31.5));
    EXPECT_EQ(view.sprites.size(), 13u);
    EXPECT_EQ(view.sprites.count(12), 1u);
    EXPECT_EQ(view.shown.front(), 0u);
    ASSERT_TRUE(composeFrame(view, 320, 240, 32.1)); // the page now starts at item 12
    ASSERT_EQ(view.shown.size(), 12u);
    EXPECT_EQ(view.shown.front(), 12u);
    EXPECT_EQ(view.shown[1], 0u);
    EXPECT_EQ(view.sprites.size(), 12u);
    EXPECT_EQ(view.sprites.count(11), 0u);
    EXPECT_EQ(markedSprites(), 11u) << "the intentions that stay keep their sprites";
}

TEST_F(Frame, FailedRebuildKeepsTheOldPageAndRetries) {
    collection = intentions(3);
    collection.items[1].text = "I am \xFF whole.";
    try {
        composeFrame(view, 320, 240, 1.0);
        FAIL() << "no exception";
    } catch (const std::runtime_error& failure) {
        EXPECT_STREQ(failure.what(), "Invalid UTF-8 text.");
    }
    EXPECT_TRUE(view.shown.empty());
    collection.items[1].text = "I am whole.";
    ASSERT_TRUE(composeFrame(view, 320, 240, 1.0));
    EXPECT_EQ(view.shown.size(), 3u);

    // In the window the failure stays inside the paint, which shows black and tries again.
    collection.items[1].text = "I am \xFF whole.";
    HWND window = openWindow(false);
    ASSERT_TRUE(window);
    SendMessageW(window, WM_PAINT, 0, 0);
    ASSERT_TRUE(recordOf(window));
    EXPECT_TRUE(recordOf(window)->shown.empty());
    collection.items[1].text = "I am whole.";
    InvalidateRect(window, nullptr, FALSE);
    SendMessageW(window, WM_PAINT, 0, 0);
    EXPECT_EQ(recordOf(window)->shown.size(), 3u);
}

// The same frame drawn by GDI+ alone.
std::vector<std::uint32_t> drawnByGdiplus(const ViewState& view, int width, int height, double t) {
    GpBitmap* bitmap = nullptr;
    GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppPARGB, nullptr, &bitmap);
    const owners::Bitmap frame(bitmap);
    GpGraphics* graphics = nullptr;
    GdipGetImageGraphicsContext(bitmap, &graphics);
    {
        const owners::Graphics owned(graphics);
        GdipGraphicsClear(graphics, 0xFF000000);
        drawCopiesWithGdiplus(graphics, view, width, height, t);
    }
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
    const owners::LockedBits bits(bitmap);
    for (int y = 0; y < height; ++y)
        std::copy_n(reinterpret_cast<const std::uint32_t*>(bits.bits() + y * bits.stride()), width,
                    pixels.begin() + static_cast<std::ptrdiff_t>(y) * width);
    return pixels;
}

// The transform of every copy (place, turn, size, order and fade) against GDI+ drawing the same
// page. Wine's GDI+ filters bilinearly, so the frames are compared in 8 x 8 blocks, which a
// wrong place, turn or fade changes and a better filter does not.
TEST_F(Frame, CopiesLandWhereGdiplusPutsThem) {
    const struct {
        const char* name;
        std::size_t count;
        bool reduced;
        double t;
    } cases[] = {{"drifting, with echoes", 3, false, 7.0},
                 {"reduced motion grid", 5, true, 7.0},
                 {"page fading out", 13, false, 31.2}};
    constexpr int width = 800, height = 600;
    // Each kernel the processor runs, in turn, and the chosen one again however the test ends.
    const struct Chosen {
        wishwell::Kernel kernel = wishwell::kernel;
        ~Chosen() { wishwell::kernel = kernel; }
    } chosen;
    using wishwell::Kernel;
    for (const auto& [kernel, name] :
         {std::pair{Kernel::sse2, "SSE2"}, {Kernel::sse41, "SSE4.1"}, {Kernel::avx2, "AVX2"}})
    for (const auto& c : cases) {
        if (!wishwell::processorRuns(kernel)) continue;
        wishwell::kernel = kernel;
        SCOPED_TRACE(testing::Message() << c.name << ", " << name);
        collection = intentions(c.count);
        reduced = c.reduced;
        view = ViewState();
        ASSERT_TRUE(composeFrame(view, width, height, c.t));
        const std::vector<std::uint32_t> expected = drawnByGdiplus(view, width, height, c.t);
        // Area sampling against Wine's bilinear, compared in 8 x 8 blocks: the same ink in the
        // same places, and as bright.
        std::uint64_t difference = 0, ink = 0, mine = 0;
        for (int by = 0; by < height; by += 8)
            for (int bx = 0; bx < width; bx += 8) {
                std::int64_t a = 0, b = 0;
                for (int y = by; y < by + 8; ++y)
                    for (int x = bx; x < bx + 8; ++x)
                        for (int shift = 0; shift < 24; shift += 8) {
                            const std::size_t i = static_cast<std::size_t>(y) * width + x;
                            a += (view.backBuffer->pixels[i] >> shift) & 0xFF;
                            b += (expected[i] >> shift) & 0xFF;
                        }
                difference += static_cast<std::uint64_t>(std::abs(a - b));
                ink += static_cast<std::uint64_t>(b);
                mine += static_cast<std::uint64_t>(a);
            }
        ASSERT_GT(ink, 0u);
        EXPECT_LT(static_cast<double>(difference) / static_cast<double>(ink), 0.08);
        EXPECT_NEAR(static_cast<double>(mine) / static_cast<double>(ink), 1.0, 0.05);
    }
}

TEST_F(Frame, EachFrameEqualsTheSameFrameDrawnAfresh) {
    // A frame clears only what the last one drew: whatever came before, nothing of it may stay.
    const struct {
        const char* name;
        std::size_t count;
        bool sample;
        bool reducedBefore;
        double before, t;
    } cases[] = {{"moving on", 12, false, false, 7.0, 7.5},
                 {"with the banner", 8, true, false, 3.0, 9.0},
                 {"over a new page", 20, false, false, 31.0, 33.9},
                 {"motion reduced since", 12, false, true, 7.0, 7.0}};
    constexpr int width = 1024, height = 769;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        collection = intentions(c.count, c.sample);
        view = ViewState();
        reduced = c.reducedBefore;
        ASSERT_TRUE(composeFrame(view, width, height, c.before));
        const std::size_t count = static_cast<std::size_t>(width) * height;
        const std::vector<std::uint32_t> earlier(view.backBuffer->pixels,
                                                 view.backBuffer->pixels + count);
        reduced = false;
        ASSERT_TRUE(composeFrame(view, width, height, c.t));
        ViewState fresh;
        ASSERT_TRUE(composeFrame(fresh, width, height, c.t));
        EXPECT_GT(inkOf(*fresh.backBuffer), 0u);
        EXPECT_TRUE(std::equal(fresh.backBuffer->pixels, fresh.backBuffer->pixels + count,
                               view.backBuffer->pixels));
        // Only what changed is copied to the screen, so it must hold every pixel that changed.
        std::size_t outside = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (earlier[static_cast<std::size_t>(y) * width + x] !=
                        view.backBuffer->pixels[static_cast<std::size_t>(y) * width + x] &&
                    std::none_of(
                        view.changed.begin(), view.changed.end(), [&](const wishwell::Area& a) {
                            return x >= a.left && x < a.right && y >= a.top && y < a.bottom;
                        }))
                    ++outside;
        EXPECT_EQ(outside, 0u);
    }
}

TEST_F(Frame, SampleBannerOnlyOnSamplesWiderThan200) {
    // No intentions: whatever is not black is the banner.
    const struct {
        bool showSample;
        bool collectionSample;
        bool previewSample;
        int width;
        bool banner;
    } cases[] = {{false, true, false, 200, false}, {false, true, false, 201, true},
                 {false, true, false, 1024, true}, {false, false, true, 1024, false},
                 {true, false, true, 1024, true},  {true, true, false, 1024, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.showSample << c.collectionSample << c.previewSample << " " << c.width);
        collection = intentions(0, c.collectionSample);
        previewCollection = intentions(0, c.previewSample);
        showSample = c.showSample;
        ASSERT_TRUE(composeFrame(view, c.width, 120, 1.0));
        EXPECT_EQ(inkOf(*view.backBuffer) > 0, c.banner);
    }
}

// The display's own answers, each checked against what default processing would have done.
int systemCommandsCarriedOut = 0;
LRESULT CALLBACK countSystemCommands(int code, WPARAM wParam, LPARAM lParam) {
    // DefWindowProc asks the CBT hook before it carries out a system command; the hook refuses.
    if (code == HCBT_SYSCOMMAND) {
        ++systemCommandsCarriedOut;
        return 1;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(Frame, WindowAnswersSystemMessagesItself) {
    HWND window = openWindow(false);
    ASSERT_TRUE(window && recordOf(window));
    EXPECT_FALSE(recordOf(window)->embedded);

    HHOOK hook = SetWindowsHookExW(WH_CBT, countSystemCommands, nullptr, GetCurrentThreadId());
    ASSERT_TRUE(hook);
    EXPECT_EQ(SendMessageW(window, WM_SYSCOMMAND, SC_SCREENSAVE | 3, 0), 0);
    EXPECT_EQ(systemCommandsCarriedOut, 0) << "a screensaver was started over the running one";
    DefWindowProcW(window, WM_SYSCOMMAND, SC_SCREENSAVE, 0);
    EXPECT_EQ(systemCommandsCarriedOut, 1) << "the hook does not see default processing";
    UnhookWindowsHookEx(hook);

    // The class brush is black: erasing would paint the white device context black.
    const owners::MemoryDc dc(CreateCompatibleDC(nullptr));
    HDC screen = GetDC(nullptr);
    const owners::GdiBitmap bitmap(CreateCompatibleBitmap(screen, 8, 8));
    ReleaseDC(nullptr, screen);
    SelectObject(dc.get(), bitmap.get());
    const RECT all = {0, 0, 8, 8};
    FillRect(dc.get(), &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    EXPECT_EQ(SendMessageW(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc.get()), 0), 1);
    EXPECT_EQ(GetPixel(dc.get(), 4, 4), RGB(255, 255, 255));
    DefWindowProcW(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc.get()), 0);
    EXPECT_EQ(GetPixel(dc.get(), 4, 4), RGB(0, 0, 0)) << "default erasing would not show";

    SetCursor(LoadCursorW(nullptr, IDC_ARROW));
    EXPECT_EQ(SendMessageW(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window),
                           MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)),
              TRUE);
    EXPECT_EQ(GetCursor(), nullptr);
}

// A clock that stands where a test puts it, for as long as the test runs.
ULONGLONG fixedTime = 0;
struct FixedClock {
    decltype(tickCount) running = tickCount;
    FixedClock() {
        tickCount = [] { return fixedTime; };
    }
    ~FixedClock() { tickCount = running; }
};

TEST_F(Frame, MovesAndDeactivationEndTheRunFrom801Milliseconds) {
    const FixedClock clock;
    externalSaver = true;
    initialMouse = {-10000, -10000}; // the cursor is far from it, wherever it is
    started = 1000;
    for (UINT message : {WM_MOUSEMOVE, WM_ACTIVATEAPP}) {
        SCOPED_TRACE(message);
        HWND window = openWindow(false);
        ASSERT_TRUE(window);
        fixedTime = started + 800;
        SendMessageW(window, message, FALSE, 0);
        EXPECT_TRUE(IsWindow(window));
        EXPECT_FALSE(drainMessages());
        fixedTime = started + 801;
        SendMessageW(window, message, FALSE, 0);
        EXPECT_FALSE(IsWindow(window));
        EXPECT_TRUE(drainMessages());
    }
    // A key or a click needs no grace.
    for (UINT message : {WM_KEYDOWN, WM_LBUTTONDOWN}) {
        HWND window = openWindow(false);
        ASSERT_TRUE(window);
        fixedTime = started;
        SendMessageW(window, message, 0, 0);
        EXPECT_FALSE(IsWindow(window)) << message;
        EXPECT_TRUE(drainMessages());
    }
}

TEST_F(Frame, NothingIsComposedWhileNobodyCanSeeIt) {
    collection = intentions(3);
    HWND window = openWindow(false, 320, 240);
    ASSERT_TRUE(window);
    const auto paint = [&] {
        InvalidateRect(window, nullptr, FALSE);
        SendMessageW(window, WM_PAINT, 0, 0);
    };
    paint();
    const BackBuffer* buffer = recordOf(window)->backBuffer.get();
    ASSERT_TRUE(buffer && buffer->pixels);
    const auto mark = [&] { std::fill_n(buffer->pixels, 320 * 240, 0xFF123456u); };
    const auto composed = [&] {
        return std::any_of(buffer->pixels, buffer->pixels + 320 * 240,
                           [](std::uint32_t p) { return p != 0xFF123456u; });
    };

    // The display's power state comes as a power setting: 0 off, 1 on, 2 dimmed.
    struct {
        POWERBROADCAST_SETTING setting;
        DWORD rest;
    } display{};
    display.setting.PowerSetting = {
        0x6fe69556, 0x704a, 0x47a0, {0x8f, 0x24, 0xc2, 0x8d, 0x93, 0x6f, 0xda, 0x47}};
    display.setting.DataLength = sizeof(DWORD);
    const auto displayState = [&](DWORD state) {
        std::copy_n(reinterpret_cast<const UCHAR*>(&state), sizeof(state), display.setting.Data);
        EXPECT_EQ(SendMessageW(window, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE,
                               reinterpret_cast<LPARAM>(&display)),
                  TRUE);
    };
    const struct {
        const char* name;
        std::function<void()> hide, show;
    } cases[] = {
        {"display off", [&] { displayState(0); }, [&] { displayState(1); }},
        {"session locked", [&] { SendMessageW(window, WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, 1); },
         [&] { SendMessageW(window, WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK, 1); }},
        {"session disconnected",
         [&] { SendMessageW(window, WM_WTSSESSION_CHANGE, WTS_REMOTE_DISCONNECT, 1); },
         [&] { SendMessageW(window, WM_WTSSESSION_CHANGE, WTS_REMOTE_CONNECT, 1); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.hide();
        mark();
        SendMessageW(window, WM_TIMER, 1, 0);
        paint();
        drainMessages();
        EXPECT_FALSE(composed());
        c.show();
        paint();
        EXPECT_TRUE(composed());
    }
    displayState(2); // a dimmed display is still seen
    mark();
    paint();
    EXPECT_TRUE(composed());
}

TEST_F(Frame, WindowEndsOnInputOnlyInARunStartedByWindows) {
    collection = intentions(2);
    started = GetTickCount64();
    HWND window = openWindow(false);
    ASSERT_TRUE(window && recordOf(window));
    started = GetTickCount64() - 801;
    SendMessageW(window, WM_ACTIVATEAPP, FALSE, 0); // not a run started by Windows
    EXPECT_TRUE(IsWindow(window));
    externalSaver = true;
    started = GetTickCount64();
    SendMessageW(window, WM_ACTIVATEAPP, FALSE, 0); // within the grace period
    EXPECT_TRUE(IsWindow(window));
    started = GetTickCount64() - 801;
    SendMessageW(window, WM_ACTIVATEAPP, TRUE, 0);
    EXPECT_TRUE(IsWindow(window));
    SendMessageW(window, WM_ACTIVATEAPP, FALSE, 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(drainMessages()) << "a run started by Windows ends with its views";

    // The preview child keeps its cursor, ignores input and ends the program when destroyed.
    externalSaver = false;
    initialMouse = {-10000, -10000};
    window = openWindow(true);
    ASSERT_TRUE(window && recordOf(window));
    EXPECT_TRUE(recordOf(window)->embedded);
    EXPECT_EQ(SendMessageW(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window), 0), FALSE);
    for (UINT input : {WM_KEYDOWN, WM_LBUTTONDOWN, WM_MOUSEWHEEL, WM_MOUSEMOVE})
        EXPECT_EQ(SendMessageW(window, input, 0, 0), 0);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_FALSE(drainMessages());
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(drainMessages()) << "destroying the preview child ends the program";
}

} // namespace
