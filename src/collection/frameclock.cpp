#include "frameclock.h"

#include <algorithm>
#include <cmath>

namespace wishwell {

bool frameDue(double last, double now) {
    return now < last || now - last >= frameGap;
}

unsigned nextTimerPeriod(unsigned period, double elapsed, unsigned firings) {
    constexpr double fasterThanTicks = 0.013; // a default tick's firings are 15.625 ms apart
    constexpr double thirdTick = 0.040;       // two default ticks are 31.25 ms, three 46.9
    if (!std::isfinite(elapsed) || elapsed < 0 || firings == 0) return period;
    if (period == everyTickPeriod && firings >= 2 && elapsed / firings < fasterThanTicks)
        return frameTimerPeriod;
    // Only a frame that came at its first firing says how late the timer fires: firings that
    // composed nothing (the GPU still drawing the frame before) stretch the gap by themselves.
    if (period == frameTimerPeriod && elapsed > thirdTick && firings == 1) return everyTickPeriod;
    return period;
}

namespace {
constexpr unsigned longestInterval = 4; // what a swap chain's Present waits at most
}

Pacing pacingFor(double refreshHz) {
    const double refresh = refreshHz > 1 && std::isfinite(refreshHz) ? refreshHz : 60;
    const auto refreshes = static_cast<unsigned>(std::clamp(std::round(refresh / 30), 1.0, 64.0));
    return {refreshes, (refreshes + longestInterval - 1) / longestInterval};
}

unsigned presentInterval(const Pacing& pacing, unsigned k) {
    const unsigned presents = std::max(pacing.presents, 1u);
    const unsigned share = pacing.refreshes / presents;
    return share + (k % presents < pacing.refreshes % presents ? 1 : 0);
}

bool composesNext(const Pacing& pacing, unsigned presented) {
    return presented >= std::max(pacing.presents, 1u);
}

} // namespace wishwell
