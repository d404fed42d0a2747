// Who can see a full-screen display window. Windows keeps running a screensaver after it switches
// the display off or loses the session's client; the window asks to be told, and while nobody can
// see it there is no frame clock and no frame. A lock hides only a preview started from the
// settings window: the saver Windows started stays in front of the lock screen.

#include "screensaver.h"

#include <versionhelpers.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

decltype(querySession) querySession = WTSQuerySessionInformationW;
decltype(freeSessionMemory) freeSessionMemory = WTSFreeMemory;

namespace {

std::wstring desktopName(HDESK desktop) {
    wchar_t name[256] = {};
    DWORD needed = 0;
    if (!GetUserObjectInformationW(desktop, UOI_NAME, name, sizeof name, &needed)) return L"";
    return name;
}

// Windows switches input to the secure desktop of the lock screen, which refuses to be opened by
// the user's programs; any other failure says nothing about the lock.
bool inputDesktopIsThreads() {
    const HDESK input = OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS);
    if (!input) return GetLastError() != ERROR_ACCESS_DENIED;
    const std::wstring inputName = desktopName(input);
    CloseDesktop(input);
    const std::wstring own = desktopName(GetThreadDesktop(GetCurrentThreadId()));
    return inputName.empty() || own.empty() || _wcsicmp(inputName.c_str(), own.c_str()) == 0;
}

} // namespace

decltype(onInputDesktop) onInputDesktop = inputDesktopIsThreads;

namespace {

// GUID_SESSION_DISPLAY_STATUS, whose definition lives in a library the program does not link: the
// display of the program's own session. The console's (GUID_CONSOLE_DISPLAY_STATE) may be asleep
// under Remote Desktop while the remote user watches.
constexpr GUID sessionDisplayStatus = {
    0x2b84c20e, 0xad23, 0x4ddf, {0x93, 0xdb, 0x05, 0xff, 0xbd, 0x7e, 0xfc, 0xa5}};

// WTSSessionInfoEx and its answer at level 1, which mingw-w64's headers lack.
constexpr auto sessionInfoEx = static_cast<WTS_INFO_CLASS>(25);
constexpr LONG sessionStateLock = 0; // WTS_SESSIONSTATE_LOCK
struct SessionInfoLevel1 {
    ULONG SessionId;
    WTS_CONNECTSTATE_CLASS SessionState;
    LONG SessionFlags;
    WCHAR WinStationName[32 + 1];
    WCHAR UserName[20 + 1];
    WCHAR DomainName[17 + 1];
    LARGE_INTEGER LogonTime, ConnectTime, DisconnectTime, LastInputTime, CurrentTime;
    DWORD IncomingBytes, OutgoingBytes, IncomingFrames, OutgoingFrames;
    DWORD IncomingCompressedBytes, OutgoingCompressedBytes;
};
struct SessionInfoEx {
    DWORD Level;
    union {
        SessionInfoLevel1 level1;
    } Data;
};

struct SessionMemoryRelease {
    void operator()(void* memory) const { freeSessionMemory(memory); }
};
using SessionMemory = std::unique_ptr<void, SessionMemoryRelease>;

// The session's information of that kind, when Windows answers with enough of it.
template <typename T> std::optional<T> sessionInformation(WTS_INFO_CLASS what) {
    LPWSTR raw = nullptr;
    DWORD bytes = 0;
    const BOOL answered =
        querySession(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, what, &raw, &bytes);
    const SessionMemory memory(raw);
    if (!answered || !raw || bytes < sizeof(T)) return std::nullopt;
    T value;
    std::memcpy(&value, raw, sizeof value);
    return value;
}

// A saver that Windows started runs on a desktop of its own, and with "On resume, display logon
// screen" ticked Windows locks the session a few seconds after it starts, with the saver still on
// screen in front of the lock: a lock does not hide it. A preview started from the settings window
// is on the user's desktop, which a lock does hide, as the input then moves to the secure desktop.
bool lockHides() {
    return !externalSaver && !onInputDesktop();
}

// While nobody can see the window there is no timer and no frame; when the window can be seen
// again, the frame clock composes a frame in the motion's proper phase at once (or with its first
// firing, where the window has drawn none yet), and the whole of it is copied to the screen.
template <typename Change> void changeVisibility(HWND window, ViewState& view, Change change) {
    const bool was = visible(view);
    change(view);
    if (visible(view) == was) return;
    if (visible(view)) {
        view.wholeFrame = true;
        startFrameClock(window);
    } else {
        stopFrameClock(window);
    }
}

} // namespace

// Session notices report changes only, so what the session is already is read once. Where Windows
// cannot say, the window is taken to be seen: drawing for nobody costs a little processor time,
// showing nothing to someone costs the whole screensaver. Wine 8 answers neither question.
void readSession(ViewState& view, bool windows8OrLater) {
    if (const auto state = sessionInformation<WTS_CONNECTSTATE_CLASS>(WTSConnectState))
        view.disconnected = *state == WTSDisconnected;
    // Windows 7 and Server 2008 R2 report the lock flags the other way round. They are not read
    // there, nor where Wine says it is Windows 7, as it does by default: were it ever to answer
    // with the flags as documented, a saver that read them reversed would show nothing. A locked
    // start there is seen as unlocked until the next notice.
    if (!windows8OrLater) return;
    if (const auto info = sessionInformation<SessionInfoEx>(sessionInfoEx);
        info && info->Level == 1)
        view.locked = info->Data.level1.SessionFlags == sessionStateLock && lockHides();
}

bool visible(const ViewState& view) {
    return !view.displayOff && !view.locked && !view.disconnected;
}

void listenForVisibility(HWND window, ViewState& view) {
    view.displayState = RegisterPowerSettingNotification(window, &sessionDisplayStatus,
                                                         DEVICE_NOTIFY_WINDOW_HANDLE);
    view.sessionNotices = WTSRegisterSessionNotification(window, NOTIFY_FOR_THIS_SESSION) != FALSE;
    // Read after registering: a change in between then comes as a notice as well, and a notice
    // sets a state rather than toggling it.
    readSession(view, IsWindows8OrGreater());
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
    if (setting.PowerSetting != sessionDisplayStatus || setting.DataLength < sizeof(DWORD)) return;
    DWORD state = 0; // 0 off, 1 on, 2 dimmed (and still seen)
    std::copy_n(setting.Data, sizeof(state), reinterpret_cast<UCHAR*>(&state));
    changeVisibility(window, view, [&](ViewState& v) { v.displayOff = state == 0; });
}

// Locked and disconnected are kept apart: a client that connects to a session still locked sees
// the lock screen, and an unlock does not bring back a client that is gone.
void sessionChanged(HWND window, ViewState& view, WPARAM event) {
    switch (event) {
    case WTS_SESSION_LOCK:
    case WTS_SESSION_UNLOCK:
        changeVisibility(window, view, [&](ViewState& v) {
            v.locked = event == WTS_SESSION_LOCK && lockHides();
        });
        break;
    case WTS_CONSOLE_DISCONNECT:
    case WTS_REMOTE_DISCONNECT:
    case WTS_CONSOLE_CONNECT:
    case WTS_REMOTE_CONNECT:
        changeVisibility(window, view, [&](ViewState& v) {
            v.disconnected = event == WTS_CONSOLE_DISCONNECT || event == WTS_REMOTE_DISCONNECT;
        });
        break;
    default: break;
    }
}
