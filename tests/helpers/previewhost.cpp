// Test helper standing in for the Display settings page: it opens a window, starts the screensaver
// with "/p" and that window's handle, destroys the window after the given time, and exits with the
// screensaver's own exit code. With "mirrored" the window has a right-to-left layout, as the page
// has on an Arabic or Hebrew Windows, and holds a hidden child of its own, "Layout probe", that
// shows which layout a child is given.
//   previewhost SAVER MILLISECONDS [WIDTH HEIGHT [mirrored]]

#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

LRESULT CALLBACK hostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER) {
        KillTimer(window, 1);
        DestroyWindow(window);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc < 3) return 100;
    const std::wstring saver = argv[1];
    const UINT lifetime = static_cast<UINT>(_wtoi(argv[2]));
    const int width = argc > 4 ? _wtoi(argv[3]) : 320;
    const int height = argc > 4 ? _wtoi(argv[4]) : 240;
    const bool mirrored = argc > 5 && std::wstring(argv[5]) == L"mirrored";

    WNDCLASSW type{};
    type.lpfnWndProc = hostProc;
    type.hInstance = instance;
    type.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    type.lpszClassName = L"WishwellPreviewHost";
    RegisterClassW(&type);
    RECT frame = {0, 0, width, height};
    AdjustWindowRectEx(&frame, WS_OVERLAPPED | WS_CAPTION, FALSE, 0);
    HWND window =
        CreateWindowExW(mirrored ? WS_EX_LAYOUTRTL : 0, type.lpszClassName, L"Preview host",
                        WS_OVERLAPPED | WS_CAPTION, 40, 40, frame.right - frame.left,
                        frame.bottom - frame.top, nullptr, nullptr, instance, nullptr);
    if (!window) return 101;
    if (mirrored && !CreateWindowExW(0, L"STATIC", L"Layout probe", WS_CHILD, 0, 0, 1, 1, window,
                                     nullptr, instance, nullptr))
        return 101;
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);

    std::wstring line = L"\"" + saver + L"\" /p " +
                        std::to_wstring(reinterpret_cast<UINT_PTR>(window));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(saver.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return 102;
    }
    SetTimer(window, 1, lifetime, nullptr);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    DWORD code = 103;
    if (WaitForSingleObject(process.hProcess, 20000) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    LocalFree(argv);
    return static_cast<int>(code);
}
