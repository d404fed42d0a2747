#pragma once
// When a display window composes its next frame: about 30 a second, at even steps of the motion's
// time, on whatever tick the system's timers run.
//
// Windows fires window timers on its system tick, 15.625 ms unless some process asks for a finer
// one (and since Windows 10 version 2004 a process that does not ask is not promised the finer
// tick). A period of two ticks is not enough there: a 31 ms timer falls due 0.25 ms before the
// second tick, and any delay in re-arming it, or Windows' default coalescing (SetTimer is
// SetCoalescableTimer with a tolerance of 0, "the system default"), moves it to the third tick,
// so that frames step 31 and 47 ms. So the timer never coalesces, and runs in one of two ways:
// - on the default tick, at Windows' shortest period (USER_TIMER_MINIMUM, 10 ms), which fires on
//   every tick however late it is re-armed, up to 5 ms; a firing composes once frameGap has
//   passed, that is on every second tick, 31.25 ms, whether or not a window before it in the
//   message queue took a few milliseconds;
// - on a finer tick, where that timer fires every 10 to 13 ms and every second or third firing
//   would step 22 or 33 ms, at frameTimerPeriod: a frame each firing, 31 to 34 ms apart.
// Which tick Windows runs is seen from the firings themselves (nextTimerPeriod), as it can change
// while the saver runs. The motion takes its time from the steady clock (QueryPerformanceCounter),
// which is exact, so its steps are as even as the frames. Wine's timers are exact to the
// millisecond: there the timer starts at 10 ms and moves to 31 ms after its first frame.

namespace wishwell {

// The display's timer period in milliseconds on Windows' default tick: every tick.
inline constexpr unsigned everyTickPeriod = 10;
// The period on a finer tick: a frame at each firing.
inline constexpr unsigned frameTimerPeriod = 31;
// The coalescing tolerance the timer asks for: TIMERV_NO_COALESCING, none at all.
inline constexpr unsigned long frameTimerTolerance = 0xFFFFFFFFul;
// The shortest time between two frames, in seconds: more than one default tick, less than two.
inline constexpr double frameGap = 0.022;

// Whether a timer that fires at now (seconds on the motion's clock) composes a frame, when the
// last frame was composed at last. A clock that went back (the views reopened, or a test set the
// time) composes at once.
bool frameDue(double last, double now);

// The timer's period after a frame composed elapsed seconds after the one before, with firings
// firings between them: firings that come faster than the default tick allows mean a finer tick,
// and a frame that took a third default tick at frameTimerPeriod, at its first firing, means the
// default tick is back.
unsigned nextTimerPeriod(unsigned period, double elapsed, unsigned firings);

// Where the display presents through a swap chain that waits for the display's refresh, each
// frame stays for refreshes = the refresh rate / 30, rounded, at least 1: 30 frames a second at
// 60, 120 and 240 Hz, 28.8 at 144 Hz, 25 at 50 and 75 Hz, always at even steps. A swap chain waits
// at most 4 refreshes a present, so a frame of more is presented presents times, the same frame
// again, with intervals that add up to its refreshes. A rate Windows does not report (0, or 1 for
// "the hardware's default") is taken as 60 Hz.
struct Pacing {
    unsigned refreshes = 2;
    unsigned presents = 1;
};
Pacing pacingFor(double refreshHz);
// The sync interval of a frame's present number k (0 for the present that shows a new frame).
unsigned presentInterval(const Pacing& pacing, unsigned k);
// Whether a window that has presented its frame presented times composes a new one now.
bool composesNext(const Pacing& pacing, unsigned presented);

} // namespace wishwell
