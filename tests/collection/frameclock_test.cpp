#include "frameclock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

namespace {

enum class Rounding { firstTickPast, nearestTick };

// A model of Windows' window timer: it runs on a system tick, fires on the first tick past its due
// time or on the tick nearest to it (never twice on one tick), and is due again one period after
// it fired. The window takes each WM_TIMER a little after its tick and reads the steady clock
// then. Returns the motion times of the frames composed over the span, in seconds.
std::vector<double> framesOn(double tick, Rounding rounding, double span) {
    const double period = wishwell::frameTimerPeriod / 1000.0;
    std::vector<double> frames;
    double last = -INFINITY;
    double fired = 0.0004; // the timer was set between two ticks
    long firedTick = -1;
    for (int n = 0;; ++n) {
        const double due = fired + period;
        long k = rounding == Rounding::firstTickPast ? static_cast<long>(std::floor(due / tick)) + 1
                                                     : std::lround(due / tick);
        k = std::max(k, firedTick + 1);
        firedTick = k;
        fired = static_cast<double>(k) * tick;
        if (fired > span) return frames;
        const double now = fired + 0.0001 * (n * 7 % 5); // taken up to 0.4 ms late
        if (wishwell::frameDue(last, now)) {
            frames.push_back(now);
            last = now;
        }
    }
}

TEST(FrameClock, ThirtyEvenFramesASecondOnEveryTick) {
    const struct {
        const char* name;
        double tick;
        Rounding rounding;
    } cases[] = {{"default tick, first tick past due", 0.015625, Rounding::firstTickPast},
                 {"default tick, nearest tick", 0.015625, Rounding::nearestTick},
                 {"1 ms tick, first tick past due", 0.001, Rounding::firstTickPast},
                 {"1 ms tick, nearest tick", 0.001, Rounding::nearestTick}};
    constexpr double span = 10;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<double> frames = framesOn(c.tick, c.rounding, span);
        const double rate = static_cast<double>(frames.size()) / span;
        EXPECT_GE(rate, 28);
        EXPECT_LE(rate, 34);
        ASSERT_GE(frames.size(), 2u);
        std::vector<double> steps(frames.size());
        std::adjacent_difference(frames.begin(), frames.end(), steps.begin());
        steps.erase(steps.begin());
        const double mean = std::accumulate(steps.begin(), steps.end(), 0.0) / steps.size();
        const auto [shortest, longest] = std::minmax_element(steps.begin(), steps.end());
        EXPECT_GE(*shortest, 0.9 * mean);
        EXPECT_LE(*longest, 1.1 * mean);
    }
    // A clock set back composes at once.
    EXPECT_TRUE(wishwell::frameDue(5.0, 1.0));
    EXPECT_FALSE(wishwell::frameDue(1.0, 1.0 + wishwell::frameGap / 2));
}

} // namespace
