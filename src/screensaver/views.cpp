// The set of full-screen display windows, one per monitor, opened and closed together.

#include "screensaver.h"

void startViews(bool sample) {
    showSample = sample;
    previewCollection = wishwell::samples();
    started = GetTickCount64();
    motionOrigin = std::chrono::steady_clock::now();
    GetCursorPos(&initialMouse);
    if (settings) {
        EnableWindow(settings, FALSE);
        ShowWindow(settings, SW_HIDE);
    }
    EnumDisplayMonitors(nullptr, nullptr, createMonitor, 0);
    if (views.empty()) {
        error(settings, "Could not open the screensaver display.");
        closeViews();
    }
}

BOOL CALLBACK createMonitor(HMONITOR, HDC, LPRECT rect, LPARAM) {
    HWND window =
        CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"WishwellSaver", L"Wishwell Lumiary",
                        WS_POPUP, rect->left, rect->top, rect->right - rect->left,
                        rect->bottom - rect->top, nullptr, nullptr, instance, nullptr);
    if (!window) return TRUE; // that monitor stays uncovered; the others still open
    // No exception may leave this callback into EnumDisplayMonitors: Wine drops it there, and
    // Windows promises nothing about unwinding through its own frames. A window that views cannot
    // hold would stay open with nobody to close it, so it goes again and its monitor stays
    // uncovered, as when its window cannot be made.
    try {
        views.push_back(window);
    } catch (...) {
        DestroyWindow(window);
        return TRUE;
    }
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    return TRUE;
}

void closeViews() {
    // Destroying a display window sends it messages that would call back in here.
    if (closing) return;
    closing = true;
    const std::vector<HWND> open = std::move(views);
    views.clear();
    for (HWND window : open) {
        if (IsWindow(window)) DestroyWindow(window);
    }
    closing = false;

    if (externalSaver || childPreview) {
        PostQuitMessage(0);
    } else if (settings) {
        EnableWindow(settings, TRUE);
        ShowWindow(settings, SW_SHOW);
        SetForegroundWindow(settings);
    }
}
