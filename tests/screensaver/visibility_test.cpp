// Who can see a display window: the display's power state, the session's lock and its client,
// read at the start and told by notices, and the frames that stop and start again with them.

#include "screensaver.h"

#include <versionhelpers.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

using namespace Gdiplus;

namespace {

// What the stand-in for WTSQuerySessionInformationW answers, and what it has handed out.
struct Session {
    bool answers = true;
    WTS_CONNECTSTATE_CLASS state = WTSActive;
    LONG flags = 1; // WTS_SESSIONSTATE_UNLOCK; 0 is LOCK, -1 UNKNOWN
};
Session session;
std::vector<BYTE*> handedOut;
std::vector<PVOID> freed;
bool inputHere = false; // what the stand-in for onInputDesktop answers
const auto realInputDesktop = onInputDesktop;

BYTE* handOut(DWORD size, DWORD* bytes) {
    BYTE* memory = new BYTE[size]();
    handedOut.push_back(memory);
    *bytes = size;
    return memory;
}

BOOL WINAPI answerSession(HANDLE server, DWORD id, WTS_INFO_CLASS what, LPWSTR* buffer,
                          DWORD* bytes) {
    if (server != WTS_CURRENT_SERVER_HANDLE || id != WTS_CURRENT_SESSION || !session.answers)
        return FALSE;
    if (what == WTSConnectState) {
        BYTE* memory = handOut(sizeof(WTS_CONNECTSTATE_CLASS), bytes);
        std::copy_n(reinterpret_cast<const BYTE*>(&session.state), sizeof session.state, memory);
        *buffer = reinterpret_cast<LPWSTR>(memory);
        return TRUE;
    }
    if (what == 25) { // WTSSessionInfoEx: a WTSINFOEXW of 232 bytes, its level-1 data at 8
        BYTE* memory = handOut(232, bytes);
        const DWORD level = 1;
        std::copy_n(reinterpret_cast<const BYTE*>(&level), 4, memory);
        std::copy_n(reinterpret_cast<const BYTE*>(&session.state), 4, memory + 12);
        std::copy_n(reinterpret_cast<const BYTE*>(&session.flags), 4, memory + 16);
        *buffer = reinterpret_cast<LPWSTR>(memory);
        return TRUE;
    }
    return FALSE;
}

void WINAPI freeAnswer(PVOID memory) {
    freed.push_back(memory);
    delete[] static_cast<BYTE*>(memory);
}

class Visibility : public testing::Test {
protected:
    void SetUp() override {
        GdiplusStartupInput input;
        ASSERT_EQ(GdiplusStartup(&token, &input, nullptr), Ok);
        instance = GetModuleHandleW(nullptr);
        registerClasses();
        collection = wishwell::Collection();
        for (int i = 0; i < 3; ++i)
            collection.items.push_back(
                {"item-" + std::to_string(i), "I believe in myself.", "wordart", "rainbow"});
        started = GetTickCount64() - 10000;
        showSample = false;
        reduced = false;
        externalSaver = false;
        childPreview = false;
        querySession = answerSession;
        freeSessionMemory = freeAnswer;
        onInputDesktop = [] { return inputHere; };
        inputHere = false; // a lock takes input to the secure desktop
    }
    void TearDown() override {
        closeViews();
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            if (message.message != WM_QUIT) DispatchMessageW(&message);
        querySession = WTSQuerySessionInformationW;
        freeSessionMemory = WTSFreeMemory;
        onInputDesktop = realInputDesktop;
        externalSaver = false;
        session = Session();
        handedOut.clear();
        freed.clear();
        collection = wishwell::Collection();
        GdiplusShutdown(token);
    }
    // A full-screen display window that is shown, so that Windows paints it.
    HWND openWindow() {
        HWND window = CreateWindowExW(0, L"WishwellSaver", L"", WS_POPUP | WS_VISIBLE, 0, 0, 320,
                                      240, nullptr, nullptr, instance, nullptr);
        if (window) views.push_back(window);
        return window;
    }
    ULONG_PTR token = 0;
};

const ViewState& recordOf(HWND window) {
    return *reinterpret_cast<const ViewState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

// Runs the message loop as the program does, with its real timers, until done() or the deadline;
// counts the timer messages it hands out.
int timerTicks = 0;
void runLoopUntil(const std::function<bool()>& done, DWORD milliseconds) {
    const ULONGLONG deadline = GetTickCount64() + milliseconds;
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_TIMER) ++timerTicks;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (done()) return;
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now),
                                  QS_ALLINPUT);
    }
}

// The frames the window composes by itself, up to wanted, while the loop runs: each is seen as a
// change of the back buffer, which is marked after every frame.
int framesComposed(HWND window, int wanted, DWORD milliseconds) {
    constexpr std::uint32_t marker = 0xFF123456u;
    const BackBuffer* marked = nullptr;
    int frames = 0;
    const auto mark = [&](const BackBuffer& buffer) {
        std::fill_n(buffer.pixels, buffer.width * buffer.height, marker);
        marked = &buffer;
    };
    const auto seen = [&] {
        const BackBuffer* buffer = recordOf(window).backBuffer.get();
        if (!buffer || !buffer->pixels) return false;
        if (buffer != marked ||
            std::any_of(buffer->pixels, buffer->pixels + buffer->width * buffer->height,
                        [](std::uint32_t p) { return p != marker; })) {
            ++frames;
            mark(*buffer);
        }
        return frames >= wanted;
    };
    if (recordOf(window).backBuffer && recordOf(window).backBuffer->pixels)
        mark(*recordOf(window).backBuffer);
    runLoopUntil(seen, milliseconds);
    return frames;
}

// The display's power state as Windows sends it, 0 off, 1 on, 2 dimmed: of the session's
// display, or of the physical console's (GUID_CONSOLE_DISPLAY_STATE).
void displayStatus(HWND window, DWORD state, bool console = false) {
    struct {
        POWERBROADCAST_SETTING setting;
        DWORD rest;
    } notice{};
    notice.setting.PowerSetting =
        console
            ? GUID{0x6fe69556, 0x704a, 0x47a0, {0x8f, 0x24, 0xc2, 0x8d, 0x93, 0x6f, 0xda, 0x47}}
            : GUID{0x2b84c20e, 0xad23, 0x4ddf, {0x93, 0xdb, 0x05, 0xff, 0xbd, 0x7e, 0xfc, 0xa5}};
    notice.setting.DataLength = sizeof(DWORD);
    std::copy_n(reinterpret_cast<const UCHAR*>(&state), sizeof(state), notice.setting.Data);
    EXPECT_EQ(SendMessageW(window, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE,
                           reinterpret_cast<LPARAM>(&notice)),
              TRUE);
}

struct Step {
    const char* what;
    enum { display, consoleDisplay, session } notice;
    WPARAM value; // the display's state, or the session's change
    bool seen;    // afterwards
};
constexpr auto display = Step::display;
constexpr auto change = Step::session;

TEST_F(Visibility, FramesStopWhileNobodyCanSeeAndComeByThemselvesOnEveryWayBack) {
    const Session answersNothing = {false}; // as Wine 8 does
    const Session unlocked = {true, WTSActive, 1};
    const struct {
        const char* name;
        Session start;
        bool seen; // at the start
        std::vector<Step> steps;
        bool external = false;  // a run Windows started
        bool inputHere = false; // a lock leaves input on the window's desktop
    } cases[] = {
        {"the display",
         answersNothing,
         true,
         {{"off", display, 0, false},
          {"on", display, 1, true},
          {"off", display, 0, false},
          {"dimmed, still seen", display, 2, true},
          {"the console's display off", Step::consoleDisplay, 0, true}}},
        {"a lock or a client gone",
         unlocked,
         true,
         {{"locked", change, WTS_SESSION_LOCK, false},
          {"unlocked", change, WTS_SESSION_UNLOCK, true},
          {"console disconnected", change, WTS_CONSOLE_DISCONNECT, false},
          {"console reconnected", change, WTS_CONSOLE_CONNECT, true},
          {"remote client gone", change, WTS_REMOTE_DISCONNECT, false},
          {"remote client back", change, WTS_REMOTE_CONNECT, true}}},
        {"locked and disconnected",
         unlocked,
         true,
         {{"locked", change, WTS_SESSION_LOCK, false},
          {"console disconnected", change, WTS_CONSOLE_DISCONNECT, false},
          {"reconnected while still locked", change, WTS_CONSOLE_CONNECT, false},
          {"unlocked", change, WTS_SESSION_UNLOCK, true},
          {"remote client gone", change, WTS_REMOTE_DISCONNECT, false},
          {"locked", change, WTS_SESSION_LOCK, false},
          {"unlocked while still disconnected", change, WTS_SESSION_UNLOCK, false},
          {"remote client back", change, WTS_REMOTE_CONNECT, true}}},
        {"the display off while locked",
         unlocked,
         true,
         {{"locked", change, WTS_SESSION_LOCK, false},
          {"off", display, 0, false},
          {"on while still locked", display, 1, false},
          {"off", display, 0, false},
          {"unlocked while still off", change, WTS_SESSION_UNLOCK, false},
          {"on", display, 1, true}}},
        {"a start in a disconnected session",
         {true, WTSDisconnected, 1},
         false,
         {{"console connected", change, WTS_CONSOLE_CONNECT, true}}},
        {"a start where Windows does not know the lock", {true, WTSActive, -1}, true, {}},
        // A password-protected saver is locked behind while it stays on screen.
        {"a run Windows started, locked at the start and again",
         {true, WTSActive, 0},
         true,
         {{"locked", change, WTS_SESSION_LOCK, true},
          {"off", display, 0, false},
          {"on while locked", display, 1, true},
          {"console disconnected", change, WTS_CONSOLE_DISCONNECT, false},
          {"reconnected while locked", change, WTS_CONSOLE_CONNECT, true},
          {"unlocked", change, WTS_SESSION_UNLOCK, true}},
         true},
        {"a lock that leaves input on the preview's desktop",
         unlocked,
         true,
         {{"locked", change, WTS_SESSION_LOCK, true}},
         false,
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        session = c.start;
        externalSaver = c.external;
        inputHere = c.inputHere;
        handedOut.clear();
        freed.clear();
        HWND window = openWindow();
        ASSERT_TRUE(window);
        // Wine says it is Windows 7, where the lock is not asked.
        EXPECT_EQ(handedOut.size(), !c.start.answers ? 0u : IsWindows8OrGreater() ? 2u : 1u);
        EXPECT_EQ(freed, std::vector<PVOID>(handedOut.begin(), handedOut.end()))
            << "every answer is released once";
        if (c.seen) {
            EXPECT_GE(framesComposed(window, 4, 5000), 4);
        } else {
            timerTicks = 0;
            EXPECT_EQ(framesComposed(window, 1, 300), 0);
            EXPECT_EQ(timerTicks, 0) << "a frame clock that runs for nobody";
            EXPECT_FALSE(recordOf(window).backBuffer) << "a frame drawn for nobody";
        }
        bool seen = c.seen;
        for (const Step& step : c.steps) {
            SCOPED_TRACE(step.what);
            ValidateRect(window, nullptr);
            if (step.notice == Step::session)
                SendMessageW(window, WM_WTSSESSION_CHANGE, step.value, 1);
            else
                displayStatus(window, static_cast<DWORD>(step.value),
                              step.notice == Step::consoleDisplay);
            // Every way back must start the frame clock again: one repaint is not enough. While
            // hidden there is no clock at all, but for a tick due before it stopped.
            timerTicks = 0;
            if (step.seen && !seen && recordOf(window).backBuffer) {
                // Seen again, the whole frame is shown: what stayed on screen meanwhile is old.
                const owners::GdiRegion asked(CreateRectRgn(0, 0, 0, 0)),
                    all(CreateRectRgn(0, 0, 320, 240));
                GetUpdateRgn(window, asked.get(), FALSE);
                EXPECT_TRUE(EqualRgn(asked.get(), all.get())) << "only part of the frame shown";
            }
            seen = step.seen;
            if (step.seen) {
                EXPECT_GE(framesComposed(window, 4, 5000), 4);
            } else {
                EXPECT_EQ(framesComposed(window, 1, 200), 0);
                EXPECT_LE(timerTicks, 1) << "a frame clock that runs for nobody";
            }
        }
        DestroyWindow(window);
        views.clear();
    }
}

TEST_F(Visibility, SessionIsReadAtTheStartAndWhereWindowsCannotSayItIsSeen) {
    const struct {
        const char* name;
        Session session;
        bool windows8OrLater;
        bool locked, disconnected;
        bool external = false;
    } cases[] = {
        {"no answer", {false}, true, false, false},
        {"active, unlocked", {true, WTSActive, 1}, true, false, false},
        {"active, locked", {true, WTSActive, 0}, true, true, false},
        {"active, lock unknown", {true, WTSActive, -1}, true, false, false},
        {"connected, no client shown yet", {true, WTSConnected, 1}, true, false, false},
        {"disconnected, unlocked", {true, WTSDisconnected, 1}, true, false, true},
        {"disconnected and locked", {true, WTSDisconnected, 0}, true, true, true},
        // Windows 7 reports the lock flags reversed: they are not read there.
        {"Windows 7, lock flag", {true, WTSActive, 0}, false, false, false},
        {"Windows 7, unlock flag", {true, WTSActive, 1}, false, false, false},
        {"Windows 7, disconnected", {true, WTSDisconnected, 1}, false, false, true},
        {"a run Windows started, locked", {true, WTSActive, 0}, true, false, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        session = c.session;
        handedOut.clear();
        freed.clear();
        externalSaver = c.external;
        ViewState view;
        readSession(view, c.windows8OrLater);
        EXPECT_EQ(view.locked, c.locked);
        EXPECT_EQ(view.disconnected, c.disconnected);
        EXPECT_EQ(freed, std::vector<PVOID>(handedOut.begin(), handedOut.end()))
            << "every answer is released once";
    }
}

} // namespace
