// Test helper: prints what a screen reader would see, one JSON object a line, ASCII only.
//   winlist            every top-level window of the desktop with its child controls
//   winlist --monitors every monitor's rectangle, and the system DPI
//   winlist --font HWND the font that the window HWND of another program draws with, read inside
//                       that program by fontprobe.dll
//   winlist --short PATH the short 8.3 form of the path, as Windows may store it
//   winlist --send HWND MESSAGE WPARAM  sends the window a message that carries no pointer, as
//                       Windows would, and returns once it has been handled

#include <windows.h>

#include <cstdio>
#include <cwchar>
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

// The children of one window: the separator is owed from that window's second child on.
struct ChildList {
    HWND parent;
    bool first;
};

BOOL CALLBACK printChild(HWND child, LPARAM data) {
    auto& list = *reinterpret_cast<ChildList*>(data);
    HWND parent = list.parent;
    if (GetParent(child) != parent) return TRUE;
    if (!list.first) std::putchar(',');
    list.first = false;
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
                "\"foreground\":%s,",
                static_cast<unsigned long>(process),
                static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(GetWindow(window, GW_OWNER))),
                rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, client.right,
                client.bottom, GetForegroundWindow() == window ? "true" : "false");
    // Where a person would click: the client area's origin and the caption, whose rightmost
    // button of the caption-button size is the close box, in screen coordinates; and the control
    // that has the keyboard focus in the window's thread.
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    TITLEBARINFO title{};
    title.cbSize = sizeof(title);
    GetTitleBarInfo(window, &title);
    const RECT& bar = title.rcTitleBar;
    GUITHREADINFO thread{};
    thread.cbSize = sizeof(thread);
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &thread);
    std::printf(
        "\"clientOrigin\":[%ld,%ld],\"titleBar\":[%ld,%ld,%ld,%ld],\"captionButton\":[%d,%d],"
        "\"focus\":%llu,",
        origin.x, origin.y, bar.left, bar.top, bar.right - bar.left, bar.bottom - bar.top,
        GetSystemMetrics(SM_CXSIZE), GetSystemMetrics(SM_CYSIZE),
        static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(thread.hwndFocus)));
    std::printf("\"children\":[");
    ChildList children{window, true};
    EnumChildWindows(window, printChild, reinterpret_cast<LPARAM>(&children));
    std::printf("]}\n");
    return TRUE;
}

BOOL CALLBACK printMonitor(HMONITOR, HDC, LPRECT rect, LPARAM) {
    std::printf("{\"monitor\":[%ld,%ld,%ld,%ld]}\n", rect->left, rect->top, rect->right - rect->left,
                rect->bottom - rect->top);
    return TRUE;
}

LOGFONTW reportedFont{};
bool fontReported = false;
bool fontAnswered = false;

LRESULT CALLBACK receiveFont(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_COPYDATA) return DefWindowProcW(window, message, wParam, lParam);
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    fontAnswered = true;
    if (data->dwData == 1 && data->cbData == sizeof(reportedFont)) {
        CopyMemory(&reportedFont, data->lpData, sizeof(reportedFont));
        fontReported = true;
    }
    return TRUE;
}

// The probe runs in the target's thread through a WH_CALLWNDPROC hook and answers with
// WM_COPYDATA, which arrives here while the probe message is still being sent.
int printFont(HWND target) {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring probePath(path, length);
    probePath.erase(probePath.find_last_of(L"\\/") + 1);
    probePath += L"fontprobe.dll";
    HMODULE probe = LoadLibraryW(probePath.c_str());
    auto* procedure = probe ? reinterpret_cast<HOOKPROC>(
                                  reinterpret_cast<void*>(GetProcAddress(probe, "probeFont")))
                            : nullptr;
    if (!procedure) {
        std::printf("{\"error\":\"fontprobe.dll could not be loaded\"}\n");
        return 1;
    }

    WNDCLASSW receiver{};
    receiver.lpfnWndProc = receiveFont;
    receiver.hInstance = GetModuleHandleW(nullptr);
    receiver.lpszClassName = L"WinlistFontReceiver";
    RegisterClassW(&receiver);
    HWND reply = CreateWindowExW(0, receiver.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                 nullptr, receiver.hInstance, nullptr);
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, procedure, probe,
                                   GetWindowThreadProcessId(target, nullptr));
    if (!reply || !hook) {
        std::printf("{\"error\":\"the probe could not be installed\"}\n");
        return 1;
    }
    DWORD_PTR result = 0;
    SendMessageTimeoutW(target, RegisterWindowMessageW(L"WinlistFontProbe"),
                        reinterpret_cast<WPARAM>(reply), 0, SMTO_ABORTIFHUNG, 5000, &result);
    UnhookWindowsHookEx(hook);
    DestroyWindow(reply);

    if (!fontAnswered) {
        std::printf("{\"error\":\"the probe did not answer\"}\n");
        return 1;
    }
    if (!fontReported) {
        std::printf("{\"font\":null}\n");
        return 0;
    }
    std::printf(
        "{\"font\":{\"height\":%ld,\"width\":%ld,\"weight\":%ld,\"italic\":%d,\"underline\":%d,"
        "\"strikeout\":%d,\"charset\":%d,\"quality\":%d,\"pitchAndFamily\":%d,\"face\":",
        reportedFont.lfHeight, reportedFont.lfWidth, reportedFont.lfWeight, reportedFont.lfItalic,
        reportedFont.lfUnderline, reportedFont.lfStrikeOut, reportedFont.lfCharSet,
        reportedFont.lfQuality, reportedFont.lfPitchAndFamily);
    printString(reportedFont.lfFaceName,
                static_cast<int>(wcsnlen(reportedFont.lfFaceName, LF_FACESIZE)));
    std::printf("}}\n");
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    if (argc > 1 && std::wstring(argv[1]) == L"--monitors") {
        EnumDisplayMonitors(nullptr, nullptr, printMonitor, 0);
        std::printf("{\"dpi\":%u}\n", GetDpiForSystem());
    } else if (argc > 2 && std::wstring(argv[1]) == L"--font") {
        const int status = printFont(
            reinterpret_cast<HWND>(static_cast<UINT_PTR>(_wcstoui64(argv[2], nullptr, 10))));
        std::fflush(stdout);
        return status;
    } else if (argc > 2 && std::wstring(argv[1]) == L"--short") {
        wchar_t name[MAX_PATH] = {};
        const DWORD length = GetShortPathNameW(argv[2], name, MAX_PATH);
        std::printf("{\"short\":");
        printString(name, length < MAX_PATH ? static_cast<int>(length) : 0);
        std::printf("}\n");
    } else if (argc > 4 && std::wstring(argv[1]) == L"--send") {
        DWORD_PTR result = 0;
        const auto number = [&](int i) { return _wcstoui64(argv[i], nullptr, 0); };
        return SendMessageTimeoutW(reinterpret_cast<HWND>(static_cast<UINT_PTR>(number(2))),
                                   static_cast<UINT>(number(3)), static_cast<WPARAM>(number(4)), 0,
                                   SMTO_ABORTIFHUNG, 5000, &result)
                   ? 0
                   : 1;
    } else {
        EnumWindows(printWindow, 0);
    }
    std::fflush(stdout);
    return 0;
}
