// Test helper that winlist --font loads into another program through a window hook: a font handle
// means nothing outside its own process, so the font of a window is read inside it and sent back
// to the window that the probe message names, as a LOGFONTW in WM_COPYDATA (dwData 1; 0 when the
// window has no font of its own).

#include <windows.h>

extern "C" __declspec(dllexport) LRESULT CALLBACK
    probeFont(int code, WPARAM wParam, LPARAM lParam) {
    static const UINT probe = RegisterWindowMessageW(L"WinlistFontProbe");
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && call && call->message == probe) {
        LOGFONTW font{};
        COPYDATASTRUCT data{};
        HFONT handle = reinterpret_cast<HFONT>(SendMessageW(call->hwnd, WM_GETFONT, 0, 0));
        if (handle && GetObjectW(handle, sizeof(font), &font) == sizeof(font)) {
            data.dwData = 1;
            data.cbData = sizeof(font);
            data.lpData = &font;
        }
        SendMessageW(reinterpret_cast<HWND>(call->wParam), WM_COPYDATA,
                     reinterpret_cast<WPARAM>(call->hwnd), reinterpret_cast<LPARAM>(&data));
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
