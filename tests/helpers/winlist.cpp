// Test helper: prints what a screen reader would see, one JSON object a line, ASCII only.
//   winlist            every top-level window of the desktop with its child controls
//   winlist --monitors every monitor's rectangle, and the system DPI

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

void printString(const wchar_t* text, int length) {
    std::putchar('"');
    for (int i = 0; i < length; ++i) {
        const unsigned c = static_cast<unsigned short>(text[i]);
        if (c == '"' || c == '\\') std::printf("\\%c", c);
        else if (c < 0x20 || c >= 0x7F) std::printf("\\u%04x", c);
        else std::putchar(static_cast<int>(c));
    }
    std::putchar('"');
}

std::wstring textOf(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length)) return L"";
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_ABORTIFHUNG, 2000, &copied);
    text.resize(copied);
    return text;
}

void printCommon(HWND window) {
    wchar_t className[256] = {};
    const int classLength = GetClassNameW(window, className, 256);
    const std::wstring text = textOf(window);
    std::printf("\"hwnd\":%llu,\"class\":", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)));
    printString(className, classLength);
    std::printf(",\"text\":");
    printString(text.c_str(), static_cast<int>(text.size()));
    std::printf(",\"style\":%lu,\"exstyle\":%lu,\"visible\":%s,\"enabled\":%s",
                static_cast<unsigned long>(GetWindowLongW(window, GWL_STYLE)),
                static_cast<unsigned long>(GetWindowLongW(window, GWL_EXSTYLE)),
                IsWindowVisible(window) ? "true" : "false", IsWindowEnabled(window) ? "true" : "false");
}

BOOL CALLBACK printChild(HWND child, LPARAM data) {
    HWND parent = reinterpret_cast<HWND>(data);
    if (GetParent(child) != parent) return TRUE;
    static bool first = true;
    if (!first) std::putchar(',');
    first = false;
    std::putchar('{');
    printCommon(child);
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
    DWORD_PTR check = 0;
    SendMessageTimeoutW(child, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &check);
    std::printf(",\"id\":%d,\"rect\":[%ld,%ld,%ld,%ld],\"check\":%llu}", GetDlgCtrlID(child),
                rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                static_cast<unsigned long long>(check));
    return TRUE;
}

BOOL CALLBACK printWindow(HWND window, LPARAM) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId()) return TRUE;
    std::putchar('{');
    printCommon(window);
    RECT rect{}, client{};
    GetWindowRect(window, &rect);
    GetClientRect(window, &client);
    std::printf(",\"pid\":%lu,\"owner\":%llu,\"rect\":[%ld,%ld,%ld,%ld],\"client\":[%ld,%ld],"
                "\"foreground\":%s,\"children\":[",
                static_cast<unsigned long>(process),
                static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(GetWindow(window, GW_OWNER))),
                rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, client.right,
                client.bottom, GetForegroundWindow() == window ? "true" : "false");
    EnumChildWindows(window, printChild, reinterpret_cast<LPARAM>(window));
    std::printf("]}\n");
    return TRUE;
}

BOOL CALLBACK printMonitor(HMONITOR, HDC, LPRECT rect, LPARAM) {
    std::printf("{\"monitor\":[%ld,%ld,%ld,%ld]}\n", rect->left, rect->top, rect->right - rect->left,
                rect->bottom - rect->top);
    return TRUE;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    if (argc > 1 && std::wstring(argv[1]) == L"--monitors") {
        EnumDisplayMonitors(nullptr, nullptr, printMonitor, 0);
        std::printf("{\"dpi\":%u}\n", GetDpiForSystem());
    } else {
        EnumWindows(printWindow, 0);
    }
    std::fflush(stdout);
    return 0;
}
