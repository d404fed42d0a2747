// The set of display windows: one per monitor, closed together, and the settings window given back.

#include "screensaver.h"

#include <gtest/gtest.h>

#include <map>

namespace {

std::map<HWND, int> destroyed;
HHOOK hook = nullptr;

LRESULT CALLBACK countDestroy(int code, WPARAM wParam, LPARAM lParam) {
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == WM_DESTROY) ++destroyed[call->hwnd];
    return CallNextHookEx(hook, code, wParam, lParam);
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

TEST_F(Views, HideTheSettingsWindowWhileOpenAndGiveItBackAfterwards) {
    settings = CreateWindowExW(0, L"STATIC", L"settings stand-in", WS_OVERLAPPED | WS_VISIBLE, 0, 0,
                               200, 100, nullptr, nullptr, instance, nullptr);
    ASSERT_TRUE(settings);
    startViews(true);
    EXPECT_FALSE(IsWindowVisible(settings));
    EXPECT_FALSE(IsWindowEnabled(settings));
    closeViews();
    EXPECT_TRUE(IsWindowVisible(settings));
    EXPECT_TRUE(IsWindowEnabled(settings));
    EXPECT_FALSE(quitPosted()); // a preview from the settings window does not end the program
}

} // namespace
