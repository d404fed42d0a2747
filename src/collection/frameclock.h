#pragma once
// When a display window composes its next frame: about 30 a second, at even steps of the motion's
// time, on whatever tick the system's timers run.
//
// Windows fires window timers and moves GetTickCount64 on its system tick, 15.625 ms unless some
// process asks for a finer one (and since Windows 10 version 2004 a process that does not ask is
// not promised the finer tick). A 33 ms timer then waits for the third tick, 46.9 ms, about 21
// frames a second; on a 1 ms tick it fires every 33 ms, but a tick count that moves in 15.6 ms
// steps gives the motion steps of 31, 31 and 47 ms. So the display asks for a timer at the
// shortest period Windows has, USER_TIMER_MINIMUM, which fires on every default tick and every
// 10 or 11 ms on a 1 ms tick, and composes at a firing only when frameGap has passed since the last
// frame on the steady clock (QueryPerformanceCounter), which is exact: every second default tick,
// 31.25 ms, 32 frames a second, or every third firing on a 1 ms tick, 30 to 33 ms. The gap lies
// between one and two default ticks and between two and three firings on a 1 ms tick, with a few
// milliseconds' room on each side for a message taken late. Wine's timers and tick count are exact
// to the millisecond; there the 10 ms timer fires every 10 ms or a little more, and every third
// firing composes a frame.

namespace wishwell {

// The display's timer period in milliseconds: Windows' USER_TIMER_MINIMUM.
inline constexpr unsigned frameTimerPeriod = 10;
// The shortest time between two frames, in seconds.
inline constexpr double frameGap = 0.026;

// Whether a timer that fires at now (seconds on the motion's clock) composes a frame, when the
// last frame was composed at last. A clock that went back (the views reopened, or a test set the
// time) composes at once.
bool frameDue(double last, double now);

} // namespace wishwell
