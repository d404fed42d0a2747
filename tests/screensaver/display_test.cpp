// The display window: frames at a given time, the sprite cache, the paint guard, the banner, and
// the window's answers to input and system messages.

#include "screensaver.h"

#include <wtsapi32.h>

#include "motion.h"
#include "../helpers/gdiplus_copies.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
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
        drawPath = DrawPath::processor; // these tests read the processor's frames
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
        drawPath = DrawPath::gpu;
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
    // Puts a byte into every cached sprite's transparent border; a rebuilt sprite comes without.
    void markSprites() {
        for (auto& [index, sprite] : view.sprites)
            sprite.prepared.planes.at(0) = 0x5A;
    }
    std::size_t markedSprites() const {
        std::size_t marked = 0;
        for (const auto& [index, sprite] : view.sprites)
            if (sprite.prepared.planes.at(0) == 0x5A) ++marked;
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

// A motion clock that stands where a test puts it, for as long as the test runs.
double motionTime = 0;
struct FixedMotion {
    decltype(motionClock) running = motionClock;
    FixedMotion() {
        motionClock = [] { return motionTime; };
    }
    ~FixedMotion() { motionClock = running; }
};

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

    // In the window the failure stays inside the frame, which shows black, and the next frame
    // tries again.
    const FixedMotion clock;
    motionTime = 1.0;
    collection.items[1].text = "I am \xFF whole.";
    HWND window = openWindow(false);
    ASSERT_TRUE(window);
    SendMessageW(window, WM_PAINT, 0, 0);
    ASSERT_TRUE(recordOf(window));
    EXPECT_TRUE(recordOf(window)->shown.empty());
    collection.items[1].text = "I am whole.";
    motionTime = 1.04;
    SendMessageW(window, WM_TIMER, 1, 0);
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
    // A key, a click or a change of the display's resolution needs no grace.
    for (UINT message : {WM_KEYDOWN, WM_LBUTTONDOWN, WM_DISPLAYCHANGE}) {
        HWND window = openWindow(false);
        ASSERT_TRUE(window);
        fixedTime = started;
        SendMessageW(window, message, 0, 0);
        EXPECT_FALSE(IsWindow(window)) << message;
        EXPECT_TRUE(drainMessages());
    }
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

// Makes one of the frame's Windows objects fail once, then gives it back.
int failuresLeft = 0;
decltype(createFrameBitmap) realBitmap = createFrameBitmap;
decltype(createFrameDc) realDc = createFrameDc;
decltype(renderBanner) realBanner = renderBanner;

TEST_F(Frame, AFrameThatFailedIsTriedAgain) {
    const struct {
        const char* name;
        std::function<void()> fail;
        bool composed; // what the failing frame gives
    } cases[] = {
        {"the back buffer's bitmap",
         [] {
             createFrameBitmap = [](const BITMAPINFO& info, void** pixels) {
                 return failuresLeft-- > 0 ? nullptr : realBitmap(info, pixels);
             };
         },
         false},
        {"the back buffer's device context",
         [] { createFrameDc = [] { return failuresLeft-- > 0 ? nullptr : realDc(); }; }, false},
        {"the banner",
         [] {
             renderBanner = [](int width) {
                 return failuresLeft-- > 0 ? wishwell::PreparedImage() : realBanner(width);
             };
         },
         true},
    };
    constexpr int width = 320, height = 240;
    const std::size_t count = static_cast<std::size_t>(width) * height;
    collection = intentions(3, true);
    ViewState fresh;
    ASSERT_TRUE(composeFrame(fresh, width, height, 2.0));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        view = ViewState();
        failuresLeft = 1;
        c.fail();
        EXPECT_EQ(composeFrame(view, width, height, 1.0), c.composed);
        EXPECT_EQ(failuresLeft, 0);
        EXPECT_TRUE(composeFrame(view, width, height, 2.0));
        createFrameBitmap = realBitmap;
        createFrameDc = realDc;
        renderBanner = realBanner;
        ASSERT_TRUE(view.backBuffer && view.backBuffer->pixels);
        EXPECT_TRUE(std::equal(fresh.backBuffer->pixels, fresh.backBuffer->pixels + count,
                               view.backBuffer->pixels));
    }

    // A sprite of the next page that cannot be built ahead leaves the frame drawn, and is built
    // with the page change.
    SCOPED_TRACE("a sprite built ahead");
    collection = intentions(13);
    collection.items[12].text = "I am \xFF whole.";
    view = ViewState();
    ASSERT_TRUE(composeFrame(view, width, height, 31.4));
    EXPECT_NO_THROW(EXPECT_TRUE(composeFrame(view, width, height, 31.5)));
    EXPECT_EQ(view.sprites.count(12), 0u);
    fresh = ViewState();
    ASSERT_TRUE(composeFrame(fresh, width, height, 31.5));
    EXPECT_GT(inkOf(*fresh.backBuffer), 0u);
    EXPECT_TRUE(std::equal(fresh.backBuffer->pixels, fresh.backBuffer->pixels + count,
                           view.backBuffer->pixels));
    collection.items[12].text = "I am whole.";
    ASSERT_TRUE(composeFrame(view, width, height, 32.1));
    EXPECT_EQ(view.shown.front(), 12u);
}

// What the window shows, read back from its own pixels, as 0x00RRGGBB from the top down.
std::vector<std::uint32_t> pixelsOf(HWND window, int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const owners::GdiBitmap bitmap(
        CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    const owners::MemoryDc dc(CreateCompatibleDC(nullptr));
    SelectObject(dc.get(), bitmap.get());
    HDC screen = GetDC(window);
    BitBlt(dc.get(), 0, 0, width, height, screen, 0, 0, SRCCOPY);
    ReleaseDC(window, screen);
    GdiFlush();
    std::vector<std::uint32_t> pixels(static_cast<const std::uint32_t*>(bits),
                                      static_cast<const std::uint32_t*>(bits) +
                                          static_cast<std::size_t>(width) * height);
    for (std::uint32_t& p : pixels)
        p &= 0xFFFFFF;
    return pixels;
}

TEST_F(Frame, TheWindowShowsOneWholeFrameAtATime) {
    // A window on its own frame clock, with the message loop running and nothing painted by hand.
    // After every paint the window shows the back buffer, also when Windows asks for part of it
    // (as a host repainting over the preview, or an uncovered window, does) and hands out that
    // paint before the next timer message.
    constexpr int width = 320, height = 240;
    constexpr std::size_t bound = 3 * wishwell::pageCapacity + 1; // every copy, and the banner
    collection = intentions(8, true);
    HWND window = CreateWindowExW(0, L"WishwellSaver", L"", WS_POPUP | WS_VISIBLE, 0, 0, width,
                                  height, nullptr, nullptr, instance, nullptr);
    ASSERT_TRUE(window);
    views.push_back(window);
    const ViewState* record = recordOf(window);
    ASSERT_TRUE(record);
    const auto mismatches = [&] {
        const std::vector<std::uint32_t> shown = pixelsOf(window, width, height);
        std::size_t wrong = 0;
        for (std::size_t i = 0; i < shown.size(); ++i)
            wrong += shown[i] != (record->backBuffer->pixels[i] & 0xFFFFFF);
        return wrong;
    };
    using namespace std::chrono;
    int frames = 0, paintsChecked = 0;
    double lastSeen = record->lastFrame;
    bool failed = false;
    // Runs the loop as GetMessage would until done() or the deadline; checks the window after
    // every paint that left nothing more to paint, when check is set.
    const auto run = [&](bool check, const std::function<bool()>& done) {
        const auto deadline = steady_clock::now() + seconds(8);
        auto nextRequest = steady_clock::now() + milliseconds(110);
        MSG message;
        while (!failed && !done() && steady_clock::now() < deadline) {
            if (check && steady_clock::now() >= nextRequest) {
                const RECT part = {40 + frames % 7 * 20, 30, 200, 170};
                InvalidateRect(window, &part, FALSE); // Windows' own repaint of part of it
                nextRequest += milliseconds(110);
            }
            if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
                continue;
            }
            DispatchMessageW(&message);
            if (record->lastFrame != lastSeen) {
                ++frames;
                lastSeen = record->lastFrame;
                if (record->drawn.size() > bound || record->changed.size() > 2 * bound) {
                    ADD_FAILURE() << "frame " << frames << " clears and copies "
                                  << record->changed.size() << " areas";
                    failed = true;
                }
            }
            if (check && message.message == WM_PAINT && !GetUpdateRect(window, nullptr, FALSE)) {
                ++paintsChecked;
                if (const std::size_t wrong = mismatches()) {
                    ADD_FAILURE() << wrong << " pixels differ from the frame after "
                                  << paintsChecked << " paints, " << frames << " frames";
                    failed = true;
                }
            }
        }
    };
    const auto start = steady_clock::now();
    run(true, [&] { return steady_clock::now() - start >= milliseconds(2500); });
    ASSERT_FALSE(failed);
    const double rate = frames / duration<double>(steady_clock::now() - start).count();
    EXPECT_GE(rate, 15) << "frames a second";
    EXPECT_LE(rate, 36) << "frames a second";
    EXPECT_GT(paintsChecked, 50);
    // The screen loses what it showed and does not say so: within 30 frames it shows the frame
    // again.
    HDC dc = GetDC(window);
    const RECT all = {0, 0, width, height};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    ReleaseDC(window, dc);
    GdiFlush();
    const int lost = frames;
    run(false, [&] { return frames > lost + 30 && !GetUpdateRect(window, nullptr, FALSE); });
    EXPECT_GT(frames, lost + 30);
    EXPECT_EQ(mismatches(), 0u) << "the screen kept what it lost";

    // Over hundreds of frames, a frame clears and copies only what the one before drew and what
    // it draws itself.
    view = ViewState();
    for (int frame = 0; frame < 300; ++frame) {
        ASSERT_TRUE(composeFrame(view, width, height, frame / 30.0));
        ASSERT_LE(view.drawn.size(), bound) << frame;
        ASSERT_LE(view.changed.size(), 2 * bound) << frame;
    }
}

// ---- The GPU path ---------------------------------------------------------------------------

ViewState& stateOf(HWND window) {
    return *reinterpret_cast<ViewState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

TEST_F(Frame, TheGpuDrawsTheProcessorsFrame) {
    // The same poses drawn by both paths. Trilinear sampling of 2 x 2 mip levels blurs a shrunk
    // copy a little more than exact area sampling, but moves no ink: each copy's area keeps its
    // average colour, and the frame differs only along the strokes' edges.
    const struct {
        const char* name;
        std::size_t count;
        bool sample, reduced;
        double t;
    } cases[] = {{"drifting, with echoes", 3, false, false, 7.0},
                 {"reduced motion grid", 5, false, true, 7.0},
                 {"page fading out", 13, false, false, 31.2},
                 {"samples with their banner", 8, true, false, 3.0}};
    constexpr int width = 800, height = 600;
    drawPath = DrawPath::gpu;
    HWND window = openWindow(false, width, height);
    ASSERT_TRUE(window && recordOf(window));
    ViewState& gpu = stateOf(window);
    ASSERT_TRUE(gpu.gpu) << "no Direct3D 11 device";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        collection = intentions(c.count, c.sample);
        reduced = c.reduced;
        view = ViewState();
        ASSERT_TRUE(composeFrame(view, width, height, c.t));
        ASSERT_TRUE(planFrame(gpu, width, height, c.t));
        const std::vector<std::uint32_t> drawn = gpuFramePixels(window, gpu);
        ASSERT_EQ(drawn.size(), static_cast<std::size_t>(width) * height);
        const auto level = [](std::uint32_t p, int shift) { return (p >> shift) & 0xFF; };
        double squares = 0;
        for (std::size_t i = 0; i < drawn.size(); ++i)
            for (int shift = 0; shift < 24; shift += 8) {
                const double d =
                    double(level(drawn[i], shift)) - level(view.backBuffer->pixels[i], shift);
                squares += d * d;
            }
        EXPECT_LT(std::sqrt(squares / (3.0 * drawn.size())), 4.0) << "levels RMS";
        ASSERT_FALSE(view.drawn.empty());
        for (const wishwell::Area& area : view.drawn)
            for (int shift = 0; shift < 24; shift += 8) {
                double mine = 0, theirs = 0;
                for (int y = area.top; y < area.bottom; ++y)
                    for (int x = area.left; x < area.right; ++x) {
                        mine += level(drawn[static_cast<std::size_t>(y) * width + x], shift);
                        theirs +=
                            level(view.backBuffer->pixels[static_cast<std::size_t>(y) * width + x],
                                  shift);
                    }
                const double pixels = double(area.right - area.left) * (area.bottom - area.top);
                EXPECT_NEAR(mine / pixels, theirs / pixels, 1.5)
                    << "channel " << shift / 8 << " of the copy at " << area.left << ", "
                    << area.top;
            }
    }
}

// Makes Direct3D 11 fail as a PC without it, or with a driver that goes away, would.
int librariesLoaded = 0;
int lossesLeft = 0;
int presents = 0;
decltype(loadSystemLibrary) realLoad = loadSystemLibrary;
decltype(presentReported) realPresent = presentReported;

TEST_F(Frame, WhereTheGpuFailsTheProcessorDraws) {
    const struct {
        const char* name;
        bool loads;
        int losses; // presents that report the device removed
        bool onGpu; // after the first frame
        int loaded; // libraries loaded by then
    } cases[] = {{"no Direct3D 11", false, 0, false, 2},
                 {"a device lost and made again", true, 1, true, 4},
                 {"a device lost again", true, 2, false, 4}};
    collection = intentions(3);
    drawPath = DrawPath::gpu;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        librariesLoaded = 0;
        lossesLeft = c.losses;
        loadSystemLibrary = c.loads ? [](const char* name) {
            ++librariesLoaded;
            return realLoad(name);
        } : [](const char*) -> HMODULE {
            ++librariesLoaded;
            return nullptr;
        };
        presentReported = [](HRESULT result) {
            return lossesLeft-- > 0 ? DXGI_ERROR_DEVICE_REMOVED : realPresent(result);
        };
        HWND window = openWindow(false, 320, 240);
        ASSERT_TRUE(window && recordOf(window));
        SendMessageW(window, WM_PAINT, 0, 0);
        ViewState& state = stateOf(window);
        EXPECT_EQ(static_cast<bool>(state.gpu), c.onGpu);
        EXPECT_EQ(librariesLoaded, c.loaded);
        if (c.onGpu) {
            const std::vector<std::uint32_t> drawn = gpuFramePixels(window, state);
            EXPECT_TRUE(std::any_of(drawn.begin(), drawn.end(),
                                    [](std::uint32_t p) { return (p & 0xFFFFFF) != 0; }));
        } else {
            ASSERT_TRUE(state.backBuffer);
            EXPECT_GT(inkOf(*state.backBuffer), 0u);
        }
        loadSystemLibrary = realLoad;
        presentReported = realPresent;
        DestroyWindow(window);
        views.clear();
    }
}

// Counts the presents from now on, until presentReported is given back.
void countPresents() {
    presents = 0;
    presentReported = [](HRESULT result) {
        ++presents;
        return realPresent(result);
    };
}

TEST_F(Frame, APausedGpuWindowPresentsNothing) {
    // While nobody can see it, neither its paints nor its frame clock present.
    collection = intentions(3);
    drawPath = DrawPath::gpu;
    HWND window = openWindow(false, 320, 240);
    ASSERT_TRUE(window && recordOf(window));
    ASSERT_TRUE(stateOf(window).gpu) << "no Direct3D 11 device";
    countPresents();
    const FixedMotion clock;
    motionTime = 1.0;
    SendMessageW(window, WM_PAINT, 0, 0);
    EXPECT_EQ(presents, 1);
    stateOf(window).displayOff = true;
    for (UINT message : {WM_PAINT, WM_TIMER}) {
        motionTime += 0.1;
        SendMessageW(window, message, 1, 0);
    }
    presentReported = realPresent;
    EXPECT_EQ(presents, 1);
}

TEST_F(Frame, APacedWindowDrawsWhenItsSwapChainSignalsAlone) {
    // Where the swap chain waits for the display's refresh (Windows), no timer brings frames. At
    // 144 Hz a frame stays five refreshes, presented for three and again for two: every second
    // signal composes. A window nobody can see is not waited on.
    collection = intentions(3);
    drawPath = DrawPath::gpu;
    const decltype(frameLatencyObject) given = frameLatencyObject;
    frameLatencyObject = [](HANDLE) { return CreateSemaphoreW(nullptr, 1, 1, nullptr); };
    HWND window = openWindow(false, 320, 240);
    frameLatencyObject = given;
    ASSERT_TRUE(window && recordOf(window));
    ViewState& state = stateOf(window);
    ASSERT_TRUE(state.gpu) << "no Direct3D 11 device";
    EXPECT_EQ(state.timerPeriod, 0u) << "a frame timer beside the swap chain";
    state.pacing = wishwell::pacingFor(144);
    countPresents();
    const FixedMotion clock;
    motionTime = 1.0;
    SendMessageW(window, WM_PAINT, 0, 0);
    std::vector<HANDLE> handles;
    std::vector<HWND> windows;
    std::vector<int> composedOn;
    for (int signal = 0; signal < 6; ++signal) {
        frameWaits(handles, windows);
        ASSERT_EQ(windows, std::vector<HWND>{window});
        const double before = state.lastFrame;
        motionTime += 1 / 60.0;
        frameSignalled(window);
        if (state.lastFrame != before) composedOn.push_back(signal);
    }
    presentReported = realPresent;
    EXPECT_EQ(presents, 7);
    EXPECT_EQ(composedOn, (std::vector<int>{1, 3, 5}));
    EXPECT_EQ(state.lastFrame, motionTime) << "the motion's time read afresh";
    state.displayOff = true;
    frameWaits(handles, windows);
    EXPECT_TRUE(handles.empty());
}

} // namespace
