#include "frameclock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

namespace {

enum class Rounding { firstTickPast, nearestTick };

struct Timer {
    double tick;
    Rounding rounding;
    double rearmLatency; // at most, seconds: how late Windows re-arms the timer after a firing
    double coalescing;   // the system's default tolerance, for a timer that leaves it to the system
    double handling;     // how long WM_TIMER waits behind the window before it (a second monitor)
    double gpuFrame = 0; // how long the GPU draws a frame: a firing before it is done skips
};

// Pseudo-random in [0, 1), the same every run.
double jitter(unsigned n) {
    return static_cast<double>((n * 2654435761u) % 1000) / 1000;
}

// A model of Windows' window timer driving one display window as display.cpp does. The timer runs
// on a system tick and fires on the first tick past its due time or the tick nearest it (never
// twice on one tick); it is re-armed one period after it fired, a little late; a timer that leaves
// coalescing to the system may fire up to that tolerance later, on the tolerance's grid. The
// window takes WM_TIMER behind another window's work and reads the steady clock then. Returns the
// motion times of the frames composed over the span, in seconds, and counts the firings.
std::vector<double> framesOn(const Timer& timer, double span, unsigned* allFirings = nullptr) {
    unsigned period = wishwell::everyTickPeriod;
    const double tolerance = wishwell::frameTimerTolerance == 0 ? timer.coalescing : 0;
    std::vector<double> frames;
    double last = -INFINITY;
    double armed = 0.0004; // the timer was set between two ticks
    long firedTick = -1;
    unsigned firings = 0;
    for (unsigned n = 0;; ++n) {
        double due = armed + period / 1000.0;
        if (tolerance > 0) due = std::ceil(due / tolerance) * tolerance;
        long k = timer.rounding == Rounding::firstTickPast
                     ? static_cast<long>(std::floor(due / timer.tick)) + 1
                     : std::lround(due / timer.tick);
        k = std::max(k, firedTick + 1);
        firedTick = k;
        const double fired = static_cast<double>(k) * timer.tick;
        if (fired > span) return frames;
        armed = fired + timer.rearmLatency * jitter(n);
        const double now = fired + timer.handling + 0.0004 * jitter(n + 7);
        ++firings;
        if (allFirings) ++*allFirings;
        if (!wishwell::frameDue(last, now) || now < last + timer.gpuFrame) continue;
        const unsigned next = wishwell::nextTimerPeriod(period, now - last, firings);
        frames.push_back(now);
        last = now;
        firings = 0;
        if (next != period) armed = now; // SetCoalescableTimer again, from now
        period = next;
    }
}

// The steps between frames, without the first second, in which the timer finds its tick.
void expectThirtyEvenFramesASecond(const std::vector<double>& frames, double span, double low,
                                   double high) {
    const double rate = static_cast<double>(frames.size()) / span;
    EXPECT_GE(rate, low);
    EXPECT_LE(rate, high);
    std::vector<double> steps;
    for (std::size_t i = 1; i < frames.size(); ++i)
        if (frames[i - 1] >= 1) steps.push_back(frames[i] - frames[i - 1]);
    ASSERT_GE(steps.size(), 2u);
    const double mean = std::accumulate(steps.begin(), steps.end(), 0.0) / steps.size();
    const auto [shortest, longest] = std::minmax_element(steps.begin(), steps.end());
    EXPECT_GE(*shortest, 0.9 * mean);
    EXPECT_LE(*longest, 1.1 * mean);
}

TEST(FrameClock, ThirtyEvenFramesASecondOnEveryTick) {
    constexpr double coarse = 0.015625, fine = 0.001;
    const struct {
        const char* name;
        Timer timer;
    } cases[] = {
        {"default tick, first tick past due", {coarse, Rounding::firstTickPast, 0, 0, 0}},
        {"default tick, nearest tick", {coarse, Rounding::nearestTick, 0, 0, 0}},
        {"default tick, re-armed up to 3 ms late", {coarse, Rounding::firstTickPast, 0.003, 0, 0}},
        {"default tick, coalescing up to 32 ms", {coarse, Rounding::firstTickPast, 0, 0.032, 0}},
        {"default tick, a second monitor's window",
         {coarse, Rounding::nearestTick, 0.003, 0, 0.006}},
        {"1 ms tick, first tick past due", {fine, Rounding::firstTickPast, 0, 0, 0}},
        {"1 ms tick, nearest tick", {fine, Rounding::nearestTick, 0, 0, 0}},
        {"1 ms tick, re-armed up to 3 ms late", {fine, Rounding::firstTickPast, 0.003, 0, 0}},
        {"1 ms tick, coalescing up to 32 ms", {fine, Rounding::nearestTick, 0.003, 0.032, 0}},
        {"1 ms tick, a second monitor's window", {fine, Rounding::firstTickPast, 0.003, 0, 0.006}},
    };
    constexpr double span = 10;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectThirtyEvenFramesASecond(framesOn(c.timer, span), span, 28, 34);
    }
    // Under Wine's exact timers, with llvmpipe drawing a frame in 50 ms, the firings that wait for
    // it must not read as a coarse tick: the timer stays at a frame's period, not every 10 ms.
    unsigned firings = 0;
    const std::vector<double> behind =
        framesOn({fine, Rounding::firstTickPast, 0, 0, 0, 0.05}, span, &firings);
    EXPECT_LE(firings / span, 34);
    EXPECT_GE(static_cast<double>(behind.size()) / span, 14);
    // A clock set back composes at once.
    EXPECT_TRUE(wishwell::frameDue(5.0, 1.0));
    EXPECT_FALSE(wishwell::frameDue(1.0, 1.0 + wishwell::frameGap / 2));
}

// A model of a display whose swap chain waits for its refresh: its waitable object is signalled
// when the last present is on screen; the window then composes if composesNext says so, after
// the other monitor's window when both were signalled together, and presents for the interval
// presentInterval gives. Returns the motion times of the frames composed over the span.
std::vector<double> presentedFrames(double hz, double span, double behindOther) {
    const wishwell::Pacing pacing = wishwell::pacingFor(hz);
    const double refresh = 1 / hz;
    std::vector<double> frames;
    double shown = 0;
    unsigned presented = pacing.presents;
    for (unsigned n = 0; shown <= span; ++n) {
        const double now = shown + behindOther * jitter(n);
        if (wishwell::composesNext(pacing, presented)) {
            frames.push_back(now);
            presented = 0;
        }
        shown += wishwell::presentInterval(pacing, presented++) * refresh;
    }
    return frames;
}

TEST(FrameClock, EveryRefreshRateGivesEvenFramesAtEveryNthRefresh) {
    constexpr double span = 10;
    for (const double hz : {50.0, 59.94, 60.0, 75.0, 120.0, 144.0, 165.0, 240.0, 360.0}) {
        SCOPED_TRACE(hz);
        const wishwell::Pacing pacing = wishwell::pacingFor(hz);
        EXPECT_EQ(pacing.refreshes, std::max(1.0, std::round(hz / 30)));
        unsigned sum = 0;
        for (unsigned k = 0; k < pacing.presents; ++k) {
            EXPECT_GE(wishwell::presentInterval(pacing, k), 1u);
            EXPECT_LE(wishwell::presentInterval(pacing, k), 4u) << "a swap chain waits at most 4";
            sum += wishwell::presentInterval(pacing, k);
        }
        EXPECT_EQ(sum, pacing.refreshes);
        // Two monitors at different rates, each window a little behind the other's work.
        for (const double other : {0.0, 0.002}) {
            SCOPED_TRACE(other);
            expectThirtyEvenFramesASecond(presentedFrames(hz, span, other), span, 24, 40);
        }
    }
    EXPECT_EQ(wishwell::pacingFor(0).refreshes, 2u) << "a rate Windows does not report";
}

} // namespace
