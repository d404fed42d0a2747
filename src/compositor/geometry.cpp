// The geometry and the weights that every instruction set's kernels share.

#include "passes.h"

#include <cmath>
#include <cstring>

namespace wishwell {

bool isEmpty(const Area& area) {
    return area.right <= area.left || area.bottom <= area.top;
}

Area unite(const Area& a, const Area& b) {
    if (isEmpty(a)) return b;
    if (isEmpty(b)) return a;
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
            std::max(a.bottom, b.bottom)};
}

Area clip(const Area& area, int width, int height) {
    const Area clipped = {std::max(area.left, 0), std::max(area.top, 0),
                          std::min(area.right, width), std::min(area.bottom, height)};
    return isEmpty(clipped) ? Area{} : clipped;
}

namespace engine {

// The weights of a footprint of that length that starts phase / phases past a pixel's edge: each
// tap gets the share of the footprint that lies over it. A footprint shorter than a pixel is
// widened to one, which interpolates linearly. The weights of every phase add up to exactly
// amount, so a moving image neither brightens nor darkens.
Weights weightsFor(double footprint, double amount, std::vector<std::int32_t>& table) {
    Weights weights;
    weights.footprint = std::max(footprint, 1.0);
    weights.taps = static_cast<int>(std::ceil(weights.footprint)) + 1;
    weights.groups = (weights.taps + 3) / 4;
    table.assign(static_cast<std::size_t>(phases) * weights.groups * 8, 0);
    const double scale = amount * weightOne / weights.footprint;
    const int total = static_cast<int>(amount * weightOne + 0.5);
    for (int phase = 0; phase < phases; ++phase) {
        const double start = (phase + 0.5) / phases;
        const double end = start + weights.footprint;
        int w[mostTaps + 4] = {};
        int sum = 0;
        int largest = 0;
        for (int t = 0; t < weights.taps; ++t) {
            const double share = std::min(t + 1.0, end) - std::max(static_cast<double>(t), start);
            w[t] = share > 0 ? static_cast<int>(share * scale + 0.5) : 0;
            sum += w[t];
            if (w[t] > w[largest]) largest = t;
        }
        w[largest] = std::max(0, w[largest] + total - sum);
        std::int32_t* lanes = table.data() + static_cast<std::size_t>(phase) * weights.groups * 8;
        for (int pair = 0; pair < weights.groups * 2; ++pair)
            std::fill_n(
                lanes + pair * 4, 4,
                static_cast<std::int32_t>((static_cast<std::uint32_t>(w[pair * 2 + 1]) << 16) |
                                          static_cast<std::uint32_t>(w[pair * 2])));
    }
    weights.table = table.data();
    return weights;
}

// The weights in 1/128 of the four taps under a footprint of that length (at least one pixel,
// at most three) starting at start, 0 to 1, past the first tap's edge: each tap's share of the
// footprint. They add up to 128, none above 127: a signed byte for _mm256_maddubs_epi16.
static void fourShares(double start, double footprint, int weights[4]) {
    // The footprint covers the rest of the first tap, whole taps after it, and part of the last.
    const double end = start + footprint;
    const int last = static_cast<int>(end);
    const double perPixel = 128 / footprint;
    int sum = 0;
    int largest = 0;
    for (int t = 0; t < 4; ++t) {
        const double share = t == 0      ? std::min(1.0, end) - start
                             : t < last  ? 1.0
                             : t == last ? end - last
                                         : 0.0;
        weights[t] = static_cast<int>(share * perPixel + 0.5);
        sum += weights[t];
        if (weights[t] > weights[largest]) largest = t;
    }
    weights[largest] += 128 - sum;
    if (weights[largest] > 127) { // the one pixel's neighbour takes the rest
        weights[largest == 0 ? 1 : largest - 1] += weights[largest] - 127;
        weights[largest] = 127;
    }
}

// For the AVX2 kernels, which take four or eight footprints one step apart from one window of 16
// bytes of a plane: for each phase of the first footprint's start, the shuffles that pick the
// footprints' taps from the window, then their weights in 1/128. A step is at most three pixels,
// so four footprints' last tap lies at most 12 bytes into the window; eight fit when the step is
// below 15/8, which is every copy drawn at more than 53 % of its size, and then one window serves
// twice the footprints. Four footprints are picked whole, their four taps side by side;
// eight are picked in two halves, the first two taps of each and then the last two, so that one
// shuffle and one multiply serve eight footprints. The weights always add up to one: the second
// pass applies the opacity afterwards, so that a faint copy keeps its shape.
Weights windowsFor(double step, std::vector<std::int32_t>& table) {
    Weights weights;
    weights.footprint = std::max(step, 1.0);
    weights.taps = 4;
    weights.groups = 1;
    // The eighth footprint starts below 1 + 7 step and covers step pixels: the last pixel it
    // covers must lie inside the window's 16 bytes. Its taps past that pixel weigh nothing, so
    // whatever they pick adds nothing.
    weights.perWindow = 8 * step < 15 ? 8 : 4;
    // A footprint's start inside its first pixel is taken to 1/64 of a pixel, as the first
    // one's is: the shares of each of those 64 starts are worked out once.
    std::int8_t shares[phases][4];
    for (int phase = 0; phase < phases; ++phase) {
        int four[4];
        fourShares((phase + 0.5) / phases, weights.footprint, four);
        std::copy_n(four, 4, shares[phase]);
    }
    // Every byte is written below; a table is built for every copy of every frame.
    const int perPhase = 8 * weights.perWindow;
    table.resize(static_cast<std::size_t>(phases) * perPhase / 4);
    auto* bytes = reinterpret_cast<std::int8_t*>(table.data());
    const double stepInPhases = step * phases;
    for (int phase = 0; phase < phases; ++phase)
        for (int k = 0; k < weights.perWindow; ++k) {
            // Where footprint k starts, in 1/64 of a pixel from the window's start.
            const int at = static_cast<int>(phase + 0.5 + k * stepInPhases);
            const std::uint32_t picks = static_cast<std::uint32_t>(at >> phaseBits) * 0x01010101u +
                                        0x03020100u; // its four taps
            const std::int8_t* weigh = shares[at & (phases - 1)];
            std::int8_t* entry = bytes + phase * perPhase;
            if (weights.perWindow == 4) { // the four taps of each footprint together
                std::memcpy(entry + 4 * k, &picks, 4);
                std::memcpy(entry + 16 + 4 * k, weigh, 4);
            } else { // the first two taps of all eight, then the last two
                std::memcpy(entry + 2 * k, &picks, 2);
                std::memcpy(entry + 16 + 2 * k, reinterpret_cast<const char*>(&picks) + 2, 2);
                std::memcpy(entry + 32 + 2 * k, weigh, 2);
                std::memcpy(entry + 48 + 2 * k, weigh + 2, 2);
            }
        }
    weights.table = table.data();
    return weights;
}

Area reach(const Geometry& g, int imageWidth, int imageHeight, const Surface& surface) {
    const double across = g.kx * imageWidth;
    const double down = g.ky * imageHeight;
    const double hx = 0.5 * (across * std::abs(g.c) + down * std::abs(g.s)) + 2;
    const double hy = 0.5 * (across * std::abs(g.s) + down * std::abs(g.c)) + 2;
    return clip({below(g.x - hx), below(g.y - hy), above(g.x + hx), above(g.y + hy)}, surface.width,
                surface.height);
}

} // namespace engine
} // namespace wishwell
