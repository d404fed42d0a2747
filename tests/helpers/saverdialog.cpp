// Test helper standing in for Windows' Screen Saver Settings dialog, in a process of its own: it
// opens a window and starts the screensaver owned by it, as the dialog's "Settings..." button does
// ("/c:HWND"), or inside it, as the dialog's preview does ("/p HWND"). The window stays until the
// file STOP exists; then the helper destroys it, waits for the screensaver to end and exits with
// its exit code (103 when it has not ended within 20 seconds).
//   saverdialog /c|/p SAVER STOP

#include <windows.h>

#include <string>

namespace {

std::wstring stopFile;

LRESULT CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_TIMER:
        if (GetFileAttributesW(stopFile.c_str()) != INVALID_FILE_ATTRIBUTES) DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        KillTimer(window, 1);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return 100;
    const bool usable =
        argc == 4 && (std::wstring(argv[1]) == L"/c" || std::wstring(argv[1]) == L"/p");
    const bool configure = usable && std::wstring(argv[1]) == L"/c";
    const std::wstring saver = usable ? argv[2] : L"";
    stopFile = usable ? argv[3] : L"";
    LocalFree(argv);
    if (!usable) return 100;

    WNDCLASSW type{};
    type.lpfnWndProc = dialogProc;
    type.hInstance = instance;
    type.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    type.lpszClassName = L"WishwellTestSaverDialog";
    RegisterClassW(&type);
    RECT frame = {0, 0, 320, 240};
    AdjustWindowRectEx(&frame, WS_OVERLAPPED | WS_CAPTION, FALSE, 0);
    // In the screen's lower right corner, clear of the settings window that the tests click on.
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    HWND window = CreateWindowExW(0, type.lpszClassName, L"Screen Saver Settings",
                                  WS_OVERLAPPED | WS_CAPTION, GetSystemMetrics(SM_CXSCREEN) - width,
                                  GetSystemMetrics(SM_CYSCREEN) - height, width, height, nullptr,
                                  nullptr, instance, nullptr);
    if (!window) return 101;
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);

    // Windows writes the owner glued to its switch and the preview window after a space.
    const std::wstring handle = std::to_wstring(reinterpret_cast<UINT_PTR>(window));
    std::wstring line = L"\"" + saver + L"\" " + (configure ? L"/c:" + handle : L"/p " + handle);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(saver.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        DestroyWindow(window);
        return 102;
    }
    CloseHandle(process.hThread);
    SetTimer(window, 1, 100, nullptr);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    DWORD code = 103;
    if (WaitForSingleObject(process.hProcess, 20000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &code);
    }
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}
