#pragma once
// When a display window composes its next frame: about 30 a second, at even steps of the motion's
// time, on whatever tick the system's timers run.
//
// Windows fires window timers and moves GetTickCount64 on its system tick, 15.625 ms unless some
// process asks for a finer one (and since Windows 10 version 2004 a process that does not ask is
// not promised the finer tick). A 33 ms timer then waits for the third tick, 46.9 ms, about 21
// frames a second; on a 1 ms tick it fires every 33 ms, but a tick count that moves in 15.6 ms
// steps gives the motion steps of 31, 31 and 47 ms. So the timer's period is just under two
// default ticks: on a 15.625 ms tick it fires on every second tick, 31.25 ms, 32 frames a second,
// whether Windows fires a timer on the first tick past its due time or on the nearest tick; on a
// 1 ms tick it fires every 31 or 32 ms; and the motion takes its time from the steady clock
// (QueryPerformanceCounter), which is exact, so its steps are as even as the firings. A timer at
// Windows' shortest period, composing on every second or third firing, would give the same frames
// for three times the wake-ups. Wine's timers and tick count are exact to the millisecond; there
// the timer fires every 31 ms or a little more. A firing composes only when frameGap has passed
// since the last frame, so a frame composed out of turn (a window seen again) is not followed by
// another at once.

namespace wishwell {

// The display's timer period in milliseconds.
inline constexpr unsigned frameTimerPeriod = 31;
// The shortest time between two frames, in seconds.
inline constexpr double frameGap = 0.026;

// Whether a timer that fires at now (seconds on the motion's clock) composes a frame, when the
// last frame was composed at last. A clock that went back (the views reopened, or a test set the
// time) composes at once.
bool frameDue(double last, double now);

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
