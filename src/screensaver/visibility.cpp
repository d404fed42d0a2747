// Who can see a full-screen display window. Windows keeps running a screensaver after it switches
// the display off or locks the session; the window asks to be told, and while nobody can see it
// there is no frame clock and no frame.

#include "screensaver.h"

#include <wtsapi32.h>

#include <algorithm>

namespace {

// GUID_CONSOLE_DISPLAY_STATE, whose definition lives in a library the program does not link.
constexpr GUID consoleDisplayState = {
    0x6fe69556, 0x704a, 0x47a0, {0x8f, 0x24, 0xc2, 0x8d, 0x93, 0x6f, 0xda, 0x47}};

// While nobody can see the window there is no timer and no frame; when the window can be seen
// again, the frame clock gives the motion its proper phase at once.
void setVisibility(HWND window, ViewState& view, bool displayOff, bool sessionHidden) {
    const bool was = visible(view);
    view.displayOff = displayOff;
    view.sessionHidden = sessionHidden;
    if (visible(view) == was) return;
    if (visible(view)) {
        startFrameClock(window);
        view.wholeFrame = true;
        InvalidateRect(window, nullptr, FALSE);
    } else {
        stopFrameClock(window);
    }
}

} // namespace

bool visible(const ViewState& view) {
    return !view.displayOff && !view.sessionHidden;
}

void listenForVisibility(HWND window, ViewState& view) {
    view.displayState =
        RegisterPowerSettingNotification(window, &consoleDisplayState, DEVICE_NOTIFY_WINDOW_HANDLE);
    view.sessionNotices = WTSRegisterSessionNotification(window, NOTIFY_FOR_THIS_SESSION) != FALSE;
}

void stopListening(HWND window, ViewState& view) {
    if (view.displayState) UnregisterPowerSettingNotification(view.displayState);
    view.displayState = nullptr;
    if (view.sessionNotices) WTSUnRegisterSessionNotification(window);
    view.sessionNotices = false;
}

void powerChanged(HWND window, ViewState& view, WPARAM event, LPARAM lParam) {
    if (event != PBT_POWERSETTINGCHANGE || !lParam) return;
    const auto& setting = *reinterpret_cast<const POWERBROADCAST_SETTING*>(lParam);
    if (setting.PowerSetting != consoleDisplayState || setting.DataLength < sizeof(DWORD)) return;
    DWORD state = 0; // 0 off, 1 on, 2 dimmed (and still seen)
    std::copy_n(setting.Data, sizeof(state), reinterpret_cast<UCHAR*>(&state));
    setVisibility(window, view, state == 0, view.sessionHidden);
}

void sessionChanged(HWND window, ViewState& view, WPARAM event) {
    switch (event) {
    case WTS_SESSION_LOCK:
    case WTS_CONSOLE_DISCONNECT:
    case WTS_REMOTE_DISCONNECT: setVisibility(window, view, view.displayOff, true); break;
    case WTS_SESSION_UNLOCK:
    case WTS_CONSOLE_CONNECT:
    case WTS_REMOTE_CONNECT: setVisibility(window, view, view.displayOff, false); break;
    default: break;
    }
}
