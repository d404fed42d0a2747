// The set of display windows: one per monitor, closed together, and the settings window given back.

#include "screensaver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <new>
#include <string>

namespace {

// While not 0, the next allocation of exactly this many bytes fails, once.
std::atomic<std::size_t> failingAllocation{0};

} // namespace

// Every allocation of this test program passes here, so that a test can make one of them fail.
void* operator new(std::size_t size) {
    std::size_t armed = size;
    if (size != 0 && failingAllocation.compare_exchange_strong(armed, 0)) throw std::bad_alloc();
    if (void* memory = std::malloc(size != 0 ? size : 1)) return memory;
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}

namespace {

std::map<HWND, int> destroyed;
HHOOK hook = nullptr;
bool failAppendAfterCreation = false; // the next display window's append to views fails

bool isDisplayWindow(HWND window) {
    wchar_t name[32] = {};
    return GetClassNameW(window, name, 32) && std::wstring(name) == L"WishwellSaver";
}

LRESULT CALLBACK countDestroy(int code, WPARAM wParam, LPARAM lParam) {
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == WM_DESTROY) ++destroyed[call->hwnd];
    // Between its creation message and the append to an empty views with no room, which asks for
    // room for one handle, the display window allocates nothing of that size.
    if (code == HC_ACTION && call->message == WM_CREATE && failAppendAfterCreation &&
        isDisplayWindow(call->hwnd)) {
        failAppendAfterCreation = false;
        failingAllocation = sizeof(HWND);
    }
    return CallNextHookEx(hook, code, wParam, lParam);
}

int openDisplayWindows() {
    int count = 0;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM data) -> BOOL {
            if (isDisplayWindow(window)) ++*reinterpret_cast<int*>(data);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    return count;
}

// The text of the warning box, read and answered by a timer that the box's own loop runs.
std::wstring boxText;

void CALLBACK answerTheBox(HWND, UINT, UINT_PTR, DWORD) {
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM) -> BOOL {
            wchar_t name[16] = {};
            if (!GetClassNameW(window, name, 16) || std::wstring(name) != L"#32770" ||
                !IsWindowVisible(window))
                return TRUE;
            wchar_t text[256] = {};
            GetDlgItemTextW(window, 0xFFFF, text, 256);
            boxText = text;
            PostMessageW(window, WM_COMMAND, IDOK, 0);
            return FALSE;
        },
        0);
}

bool quitPosted() {
    MSG message;
    bool quit = false;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) quit = true;
        else DispatchMessageW(&message);
    }
    return quit;
}

int monitorCount() {
    int count = 0;
    EnumDisplayMonitors(nullptr, nullptr,
                        [](HMONITOR, HDC, LPRECT, LPARAM data) -> BOOL {
                            ++*reinterpret_cast<int*>(data);
                            return TRUE;
                        },
                        reinterpret_cast<LPARAM>(&count));
    return count;
}

class Views : public testing::Test {
protected:
    void SetUp() override {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&token, &input, nullptr), Gdiplus::Ok);
        instance = GetModuleHandleW(nullptr);
        registerClasses();
        collection = wishwell::samples();
        externalSaver = false;
        childPreview = false;
        destroyed.clear();
        hook = SetWindowsHookExW(WH_CALLWNDPROC, countDestroy, nullptr, GetCurrentThreadId());
    }
    void TearDown() override {
        failAppendAfterCreation = false;
        failingAllocation = 0;
        closeViews();
        quitPosted();
        UnhookWindowsHookEx(hook);
        if (settings) DestroyWindow(settings);
        settings = nullptr;
        externalSaver = false;
        collection = wishwell::Collection();
        previewCollection = wishwell::Collection();
        Gdiplus::GdiplusShutdown(token);
    }
    ULONG_PTR token = 0;
};

TEST_F(Views, OpenOneTopmostWindowCoveringEachMonitor) {
    startViews(false);
    ASSERT_EQ(views.size(), static_cast<std::size_t>(monitorCount()));
    for (HWND window : views) {
        EXPECT_TRUE(IsWindowVisible(window));
        EXPECT_EQ(GetWindowLongW(window, GWL_EXSTYLE) & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW),
                  WS_EX_TOPMOST | WS_EX_TOOLWINDOW);
        EXPECT_EQ(GetWindowLongW(window, GWL_STYLE) & (WS_POPUP | WS_CAPTION | WS_BORDER), WS_POPUP);
        RECT rect{};
        GetWindowRect(window, &rect);
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONULL), &monitor);
        EXPECT_TRUE(EqualRect(&rect, &monitor.rcMonitor));
    }
    EXPECT_FALSE(showSample);
}

TEST_F(Views, RebuildTheSamplesForEveryOpeningWhicheverCollectionIsShown) {
    previewCollection = wishwell::Collection();
    startViews(false);
    EXPECT_EQ(previewCollection.items.size(), 8u);
    EXPECT_TRUE(previewCollection.sample);
    closeViews();
    previewCollection.items.pop_back();
    startViews(true);
    EXPECT_TRUE(showSample);
    EXPECT_EQ(previewCollection.items.size(), 8u);
}

TEST_F(Views, CloseEveryWindowExactlyOnceEvenWhenClosingFromOneOfThem) {
    startViews(false);
    const std::vector<HWND> opened = views;
    ASSERT_FALSE(opened.empty());
    SendMessageW(opened.back(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(views.empty());
    EXPECT_FALSE(closing);
    for (HWND window : opened) {
        EXPECT_FALSE(IsWindow(window));
        EXPECT_EQ(destroyed[window], 1);
    }
    closeViews(); // nothing left to close: harmless
    EXPECT_FALSE(quitPosted());

    // A run started by Windows ends the program on the first close.
    externalSaver = true;
    startViews(false);
    closeViews();
    EXPECT_TRUE(views.empty());
    EXPECT_TRUE(quitPosted());
}

// An append to views that fails inside the monitor enumeration raises nothing into Windows and
// leaves no window open that nobody closes: that monitor stays uncovered, and with no window at
// all the display cannot open.
TEST_F(Views, AFailedAppendClosesItsWindowAndRaisesNothing) {
    const int monitors = monitorCount();
    boxText.clear();
    views.shrink_to_fit();
    ASSERT_EQ(views.capacity(), 0u);
    failAppendAfterCreation = true;
    const UINT_PTR timer = SetTimer(nullptr, 0, 20, answerTheBox);
    ASSERT_NE(timer, 0u);
    EXPECT_NO_THROW(startViews(false));
    KillTimer(nullptr, timer);
    EXPECT_FALSE(failAppendAfterCreation);
    EXPECT_EQ(failingAllocation.load(), 0u) << "no append failed";
    EXPECT_EQ(views.size(), static_cast<std::size_t>(monitors - 1));
    EXPECT_EQ(openDisplayWindows(), monitors - 1);
    EXPECT_EQ(boxText, monitors == 1 ? L"Could not open the screensaver display." : L"");
}

TEST_F(Views, HideTheSettingsWindowWhileOpenAndGiveItBackAfterwards) {
    settings = CreateWindowExW(0, L"STATIC", L"settings stand-in", WS_OVERLAPPED | WS_VISIBLE, 0, 0,
                               200, 100, nullptr, nullptr, instance, nullptr);
    ASSERT_TRUE(settings);
    started = 0;
    const ULONGLONG before = GetTickCount64();
    startViews(true);
    // The input grace period counts from here: a nudge of the mouse just after pressing Preview
    // must not end it.
    EXPECT_GE(started, before);
    EXPECT_FALSE(IsWindowVisible(settings));
    EXPECT_FALSE(IsWindowEnabled(settings));
    closeViews();
    EXPECT_TRUE(IsWindowVisible(settings));
    EXPECT_TRUE(IsWindowEnabled(settings));
    EXPECT_FALSE(quitPosted()); // a preview from the settings window does not end the program
}

} // namespace
