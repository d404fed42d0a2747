#include "compositor.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace wishwell {

namespace {

// Weights are fixed point with 14 fraction bits: a pixel times a weight, summed over a group of
// four taps, stays well inside the 32 bits of _mm_madd_epi16.
constexpr int weightBits = 14;
constexpr int weightOne = 1 << weightBits;
// A footprint's start is placed to 1/64 of a pixel: finer would not show, and the weights of
// every phase are worked out for every copy of every frame.
constexpr int phaseBits = 6;
constexpr int phases = 1 << phaseBits;
// Positions along a pass are 16.16 fixed point, offset so that they stay positive.
constexpr int positionBits = 16;
constexpr std::int64_t positionOffset = 256;
// The widest footprint the passes take: an image drawn at a 31st of its size. Anything smaller,
// or turned further than 45 degrees either way, is drawn by supersampling instead.
constexpr int mostTaps = 32;
// Groups of four taps read up to three pixels past the last tap.
constexpr int groupSlack = 3;
// The first pass draws two adjacent columns down the same frame rows; a turn moves the second's
// footprints at most this many rows from the first's. Anything further apart (an image stretched
// far wider than tall, and turned) is drawn by supersampling instead.
constexpr int mostShear = 8;
static_assert(columnBorder >= mostTaps + groupSlack + mostShear + 1);
// The first pass's rows have room on both sides for the widest footprint, and for a window of 16
// pixels read from up to 21 pixels past the last one written.
constexpr int rowPad = 40;
static_assert(rowPad >= mostTaps + groupSlack);
// The first pass marks which blocks of this many columns of each row it wrote.
constexpr int blockWidth = 8;

// Where one copy lands, in the terms both passes use.
struct Geometry {
    double x, y;   // where the image's centre lands
    double cu, cv; // the image's centre in its own pixels
    double kx, ky; // frame pixels per image pixel, across and down
    double c, s;   // cosine and sine of the turn
};

// The box-filter weights of one pass: for each phase of a footprint's start, the weights of taps
// adjacent pixels, in groups of four laid out for _mm_madd_epi16 as (w0, w1) and (w2, w3) in
// every 32-bit lane.
struct Weights {
    const std::int32_t* table = nullptr;
    int taps = 0;
    int groups = 0;
    double footprint = 0; // in the pass's source pixels: at least one
    int opacity = 256;    // in 1/256, for kernels that apply it after the footprint
    int perWindow = 4;    // for the AVX2 kernels: footprints taken from one window, 4 or 8
};

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

// Four pixels weighted: the four channel sums in 1/weightOne.
inline __m128i weighFour(__m128i pixels, const std::int32_t* pairs) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i t = _mm_shuffle_epi32(pixels, _MM_SHUFFLE(3, 1, 2, 0)); // p0 p2 p1 p3
    const __m128i paired = _mm_unpacklo_epi8(t, _mm_srli_si128(t, 8));    // p0/p1, p2/p3 by channel
    const __m128i w01 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs));
    const __m128i w23 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs + 4));
    return _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(paired, zero), w01),
                         _mm_madd_epi16(_mm_unpackhi_epi8(paired, zero), w23));
}

// Where the taps of a footprint lie: adjacent pixels of a row of the first pass's result, or
// adjacent bytes of the four planes of a prepared column. Either gives four of them at a time as
// pixels.
struct RowTaps {
    const Pixel* first;
    __m128i four(int at) const {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(first + at));
    }
};
struct PlaneTaps {
    const std::uint8_t* first;
    std::ptrdiff_t plane;
    __m128i four(int at) const {
        const auto channel = [&](int c) {
            std::int32_t bytes;
            std::memcpy(&bytes, first + c * plane + at, sizeof(bytes));
            return _mm_cvtsi32_si128(bytes);
        };
        return _mm_unpacklo_epi16(_mm_unpacklo_epi8(channel(0), channel(1)),
                                  _mm_unpacklo_epi8(channel(2), channel(3)));
    }
};

// The footprint over the taps, as one premultiplied pixel. Most footprints are one group of four
// taps: whenever the image is drawn at a third of its size or larger.
template <bool oneGroup, class Taps>
inline Pixel footprintAt(const Taps& taps, const Weights& weights, int phase) {
    __m128i sum;
    if constexpr (oneGroup) {
        sum = weighFour(taps.four(0), weights.table + phase * 8);
    } else {
        const std::int32_t* pairs = weights.table + phase * weights.groups * 8;
        sum = weighFour(taps.four(0), pairs);
        for (int g = 1; g < weights.groups; ++g)
            sum = _mm_add_epi32(sum, weighFour(taps.four(4 * g), pairs + 8 * g));
    }
    sum = _mm_srai_epi32(_mm_add_epi32(sum, _mm_set1_epi32(weightOne / 2)), weightBits);
    const __m128i words = _mm_packs_epi32(sum, sum);
    return static_cast<Pixel>(_mm_cvtsi128_si32(_mm_packus_epi16(words, words)));
}

// Source over: a premultiplied pixel laid over another.
inline void layOver(Pixel* target, Pixel source) {
    const std::uint32_t alpha = source >> 24;
    if (alpha == 0) return;
    if (alpha == 255) {
        *target = source;
        return;
    }
    const __m128i zero = _mm_setzero_si128();
    const __m128i d = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(*target)), zero);
    __m128i m = _mm_mullo_epi16(d, _mm_set1_epi16(static_cast<short>(255 - alpha)));
    m = _mm_add_epi16(m, _mm_set1_epi16(128));
    m = _mm_srli_epi16(_mm_add_epi16(m, _mm_srli_epi16(m, 8)), 8); // / 255, rounded
    const __m128i out =
        _mm_adds_epu8(_mm_cvtsi32_si128(static_cast<int>(source)), _mm_packus_epi16(m, m));
    *target = static_cast<Pixel>(_mm_cvtsi128_si32(out));
}

// Only called for positions near the image, never below -positionOffset.
std::int64_t fixedPosition(double position) {
    return static_cast<std::int64_t>(
        (position + static_cast<double>(positionOffset)) * (1 << positionBits) + 0.5);
}

int baseOf(std::int64_t position) {
    return static_cast<int>((position >> positionBits) - positionOffset);
}

int phaseOf(std::int64_t position) {
    return static_cast<int>((position >> (positionBits - phaseBits)) & (phases - 1));
}

// The weights in 1/128 of the four taps under a footprint of that length (at least one pixel,
// at most three) starting at start, 0 to 1, past the first tap's edge: each tap's share of the
// footprint. They add up to 128, none above 127: a signed byte for _mm256_maddubs_epi16.
void fourShares(double start, double footprint, int weights[4]) {
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

// Eight footprints, four in each half, in 1/128 of a level as 16-bit lanes: in each half, the
// blues and greens of its four footprints, and their reds and alphas.
struct Sums {
    __m256i blueGreen;
    __m256i redAlpha;
};

// The byte of each channel of four pixels, and back: blues, greens, reds and alphas of four
// pixels in each half, or the four pixels in each half from them.
[[gnu::target("avx2")]] inline __m256i byChannelOrPixel(__m256i bytes) {
    return _mm256_shuffle_epi8(bytes, _mm256_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7,
                                                       11, 15, 0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10,
                                                       14, 3, 7, 11, 15));
}

// Sixteen bytes from low and sixteen from high, in the lower and upper half.
[[gnu::target("avx2")]] inline __m256i halves(const void* low, const void* high) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(static_cast<const __m128i*>(low))),
        _mm_loadu_si128(static_cast<const __m128i*>(high)), 1);
}

// Eight footprints from the four planes' windows, four in each half: picked from the windows and
// weighed by the tables forA and forB of each half.
[[gnu::target("avx2")]] inline Sums eightSums(const __m256i window[4], const std::int8_t* forA,
                                              const std::int8_t* forB) {
    const __m256i pick = halves(forA, forB);
    const __m256i weigh = halves(forA + 16, forB + 16);
    const __m256i ones = _mm256_set1_epi16(1);
    __m256i sums[4];
    for (int c = 0; c < 4; ++c)
        sums[c] = _mm256_madd_epi16(
            _mm256_maddubs_epi16(_mm256_shuffle_epi8(window[c], pick), weigh), ones);
    return {_mm256_packs_epi32(sums[0], sums[1]), _mm256_packs_epi32(sums[2], sums[3])};
}

// The same eight footprints rounded, as eight pixels, each half holding four.
[[gnu::target("avx2")]] inline __m256i
eightFootprints(const __m256i window[4], const std::int8_t* forA, const std::int8_t* forB) {
    const Sums sums = eightSums(window, forA, forB);
    const __m256i toLevel = _mm256_set1_epi16(256); // (sum + 64) / 128
    return byChannelOrPixel(_mm256_packus_epi16(_mm256_mulhrs_epi16(sums.blueGreen, toLevel),
                                                _mm256_mulhrs_epi16(sums.redAlpha, toLevel)));
}

// Sixteen footprints from the four planes' windows, eight in each half, as one register for
// each plane, in 1/128 of a level as 16-bit lanes: the first two taps of all eight are picked and
// weighed at once, then the last two, and the two added.
[[gnu::target("avx2")]] inline void sixteenSums(const __m256i window[4], const std::int8_t* forA,
                                                const std::int8_t* forB, __m256i sums[4]) {
    const __m256i pickFirst = halves(forA, forB);
    const __m256i pickLast = halves(forA + 16, forB + 16);
    const __m256i weighFirst = halves(forA + 32, forB + 32);
    const __m256i weighLast = halves(forA + 48, forB + 48);
    for (int c = 0; c < 4; ++c)
        sums[c] = _mm256_add_epi16(
            _mm256_maddubs_epi16(_mm256_shuffle_epi8(window[c], pickFirst), weighFirst),
            _mm256_maddubs_epi16(_mm256_shuffle_epi8(window[c], pickLast), weighLast));
}

// Lines that the first pass asks the cache for while it draws a pair of columns, one for each
// group of footprints: the eight planes of the next pair, where it holds ink. The processor's
// own prefetching would wait for a few misses in each of them, and prefetching them all at once
// stalls on the cache's queue.
struct Ahead {
    const std::uint8_t* planes = nullptr; // the next pair's first plane
    std::ptrdiff_t plane = 0;
    std::ptrdiff_t at = 0, end = 0; // bytes down the planes
    int c = 0;                      // the plane next asked for
    void next() {
        if (at >= end) return;
        _mm_prefetch(reinterpret_cast<const char*>(planes + c * plane + at), _MM_HINT_T0);
        if (++c == 8) {
            c = 0;
            at += 64;
        }
    }
};

// The kernels the passes run: the AVX2 one for footprints of up to four taps, taking perWindow of
// them from each window of two at a time; the SSE2 one, which every 64-bit processor has, for the
// rest.
template <int perWindow> struct Wide {
    static constexpr int perPhase = 8 * perWindow; // bytes of the table for each phase

    // Four rows of pixels of two adjacent columns, the first column's in the lower half and the
    // second's in the upper, stored as each row's two pixels side by side: the first rows of them.
    [[gnu::target("avx2")]] static void storeFour(__m256i pixels, Pixel* at, std::ptrdiff_t stride,
                                                  int rows) {
        const __m256i byRow =
            _mm256_permutevar8x32_epi32(pixels, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
        const __m128i upper = _mm256_castsi256_si128(byRow);
        const __m128i lower = _mm256_extracti128_si256(byRow, 1);
        const std::int64_t both[4] = {_mm_cvtsi128_si64(upper), _mm_extract_epi64(upper, 1),
                                      _mm_cvtsi128_si64(lower), _mm_extract_epi64(lower, 1)};
        for (int r = 0; r < std::min(rows, 4); ++r)
            std::memcpy(at + r * stride, &both[r], sizeof(both[r]));
    }

    // perWindow frame rows down two adjacent columns at a time: footprints from one 16-byte
    // window of each plane of the first column in one half of the register, and of the second in
    // the other, each picked and weighed by the table of its first footprint's phase; stored as
    // the two columns' pixels side by side, row by row.
    [[gnu::target("avx2")]] static void down(const std::uint8_t* column, std::ptrdiff_t plane,
                                             const Weights& weights, std::int64_t first,
                                             std::int64_t second, std::int64_t step, Pixel* out,
                                             std::ptrdiff_t stride, int count, Ahead& ahead) {
        const auto* table = reinterpret_cast<const std::int8_t*>(weights.table);
        const std::uint8_t* tapsA = column - positionOffset;
        const std::uint8_t* tapsB = column + 4 * plane - positionOffset;
        Ahead next = ahead; // kept in registers
        for (; count > 0; count -= perWindow, first += perWindow * step, second += perWindow * step,
                          out += perWindow * stride) {
            for (int k = 0; k < perWindow / 4; ++k)
                next.next();
            __m256i pixels[perWindow / 4];
            rowsOf(tapsA + (first >> positionBits), tapsB + (second >> positionBits), plane,
                   table + phaseOf(first) * perPhase, table + phaseOf(second) * perPhase, pixels);
            for (int four = 0; four < perWindow / 4; ++four)
                if (count >= perWindow) // all rows, without a test for each
                    storeFour(pixels[four], out + 4 * four * stride, stride, 4);
                else if (4 * four < count)
                    storeFour(pixels[four], out + 4 * four * stride, stride, count - 4 * four);
        }
        ahead = next;
    }

    // The perWindow rows that down draws from one window of each column's planes at a and b, as
    // the pixels of four rows each.
    [[gnu::target("avx2")]] static void rowsOf(const std::uint8_t* a, const std::uint8_t* b,
                                               std::ptrdiff_t plane, const std::int8_t* forA,
                                               const std::int8_t* forB,
                                               __m256i pixels[perWindow / 4]) {
        __m256i window[4];
        for (int c = 0; c < 4; ++c)
            window[c] = halves(a + c * plane, b + c * plane);
        if constexpr (perWindow == 4) {
            pixels[0] = eightFootprints(window, forA, forB);
        } else {
            __m256i sums[4];
            sixteenSums(window, forA, forB, sums);
            // Rounded to levels, (sum + 64) / 128, and each row's channels side by side.
            const __m256i toLevel = _mm256_set1_epi16(256);
            for (int c = 0; c < 4; ++c)
                sums[c] = _mm256_mulhrs_epi16(sums[c], toLevel);
            const __m256i blueGreen = _mm256_packus_epi16(sums[0], sums[1]);
            const __m256i redAlpha = _mm256_packus_epi16(sums[2], sums[3]);
            const __m256i blueRed = _mm256_unpacklo_epi8(blueGreen, redAlpha);
            const __m256i greenAlpha = _mm256_unpackhi_epi8(blueGreen, redAlpha);
            pixels[0] = _mm256_unpacklo_epi8(blueRed, greenAlpha);
            pixels[1] = _mm256_unpackhi_epi8(blueRed, greenAlpha);
        }
    }

    // The 16 pixels from a and the 16 from b as four planes, blue, green, red and alpha, each
    // with a's bytes in its lower half and b's in its upper; false when all are zero.
    [[gnu::target("avx2")]] static bool planesOf(const Pixel* a, const Pixel* b,
                                                 __m256i planes[4]) {
        __m256i quarters[4]; // four pixels each, their blues, greens, reds and alphas
        __m256i any = _mm256_setzero_si256();
        for (int q = 0; q < 4; ++q) {
            const __m256i four = halves(a + 4 * q, b + 4 * q);
            any = _mm256_or_si256(any, four);
            quarters[q] = byChannelOrPixel(four);
        }
        if (_mm256_testz_si256(any, any)) return false;
        const __m256i blueGreen01 = _mm256_unpacklo_epi32(quarters[0], quarters[1]);
        const __m256i blueGreen23 = _mm256_unpacklo_epi32(quarters[2], quarters[3]);
        const __m256i redAlpha01 = _mm256_unpackhi_epi32(quarters[0], quarters[1]);
        const __m256i redAlpha23 = _mm256_unpackhi_epi32(quarters[2], quarters[3]);
        planes[0] = _mm256_unpacklo_epi64(blueGreen01, blueGreen23);
        planes[1] = _mm256_unpackhi_epi64(blueGreen01, blueGreen23);
        planes[2] = _mm256_unpacklo_epi64(redAlpha01, redAlpha23);
        planes[3] = _mm256_unpackhi_epi64(redAlpha01, redAlpha23);
        return true;
    }

    // Source over in 16-bit lanes: source + old * keep / 255, rounded: x / 255, rounded, is
    // (x + 128) * 257 / 65536 for every 16-bit x.
    [[gnu::target("avx2")]] static __m256i over(__m256i source, __m256i old, __m256i keep) {
        const __m256i kept = _mm256_mulhi_epu16(
            _mm256_add_epi16(_mm256_mullo_epi16(old, keep), _mm256_set1_epi16(128)),
            _mm256_set1_epi16(257));
        return _mm256_add_epi16(source, kept);
    }

    // Eight footprints, faded and laid over the first count (at least one) of the eight pixels
    // at out, channel by channel as eightSums gives them.
    [[gnu::target("avx2")]] static void layEight(const Sums& sums, __m256i opacity, Pixel* out,
                                                 int count) {
        // Faded and rounded at once: sum * opacity / 128 / 256.
        const __m256i blueGreen = _mm256_mulhrs_epi16(sums.blueGreen, opacity);
        const __m256i redAlpha = _mm256_mulhrs_epi16(sums.redAlpha, opacity);
        Pixel spare[8]; // read and written unaligned, as the frame is
        Pixel* target = out;
        if (count < 8) {
            std::copy_n(out, count, spare);
            target = spare;
        }
        // Source over: source + target * (255 - alpha) / 255.
        const __m256i alphas =
            _mm256_setr_epi8(8, 9, 10, 11, 12, 13, 14, 15, 8, 9, 10, 11, 12, 13, 14, 15, 8, 9, 10,
                             11, 12, 13, 14, 15, 8, 9, 10, 11, 12, 13, 14, 15);
        const __m256i keep =
            _mm256_sub_epi16(_mm256_set1_epi16(255), _mm256_shuffle_epi8(redAlpha, alphas));
        const __m256i under =
            byChannelOrPixel(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(target)));
        const __m256i zero = _mm256_setzero_si256();
        const __m256i result = byChannelOrPixel(
            _mm256_packus_epi16(over(blueGreen, _mm256_unpacklo_epi8(under, zero), keep),
                                over(redAlpha, _mm256_unpackhi_epi8(under, zero), keep)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(target), result);
        if (count < 8) std::copy_n(spare, count, out);
    }

    // Sixteen footprints, faded and laid over the first count (at least one) of the 16 pixels at
    // out: sums holds each channel of the first eight in its lower half and of the last eight in
    // its upper, as sixteenSums gives them.
    [[gnu::target("avx2")]] static void laySixteen(const __m256i sums[4], __m256i opacity,
                                                   Pixel* out, int count) {
        Pixel spare[16]; // read and written unaligned, as the frame is
        Pixel* target = out;
        if (count < 16) {
            std::copy_n(out, count, spare);
            target = spare;
        }
        // The pixels under them in the same order: pixels 0 to 3 and 8 to 11 by channel, then
        // 4 to 7 and 12 to 15, then each channel's eight in each half.
        const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(target));
        const __m256i last = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(target + 8));
        const __m256i low = byChannelOrPixel(_mm256_permute2x128_si256(first, last, 0x20));
        const __m256i high = byChannelOrPixel(_mm256_permute2x128_si256(first, last, 0x31));
        const __m256i blueGreen = _mm256_unpacklo_epi32(low, high);
        const __m256i redAlpha = _mm256_unpackhi_epi32(low, high);
        const __m256i zero = _mm256_setzero_si256();
        const __m256i under[4] = {
            _mm256_unpacklo_epi8(blueGreen, zero), _mm256_unpackhi_epi8(blueGreen, zero),
            _mm256_unpacklo_epi8(redAlpha, zero), _mm256_unpackhi_epi8(redAlpha, zero)};
        // Faded and rounded at once, sum * opacity / 128 / 256; then source over.
        __m256i result[4];
        for (int c = 0; c < 4; ++c)
            result[c] = _mm256_mulhrs_epi16(sums[c], opacity);
        const __m256i keep = _mm256_sub_epi16(_mm256_set1_epi16(255), result[3]);
        for (int c = 0; c < 4; ++c)
            result[c] = over(result[c], under[c], keep);
        // Back to pixels, undoing the steps above.
        const __m256i newBlueGreen = _mm256_packus_epi16(result[0], result[1]);
        const __m256i newRedAlpha = _mm256_packus_epi16(result[2], result[3]);
        const __m256i blueRed = _mm256_unpacklo_epi32(newBlueGreen, newRedAlpha);
        const __m256i greenAlpha = _mm256_unpackhi_epi32(newBlueGreen, newRedAlpha);
        const __m256i newLow = byChannelOrPixel(_mm256_unpacklo_epi32(blueRed, greenAlpha));
        const __m256i newHigh = byChannelOrPixel(_mm256_unpackhi_epi32(blueRed, greenAlpha));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(target),
                            _mm256_permute2x128_si256(newLow, newHigh, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(target + 8),
                            _mm256_permute2x128_si256(newLow, newHigh, 0x31));
        if (count < 16) std::copy_n(spare, count, out);
    }

    // Footprints along a row of the first pass's result, 2 perWindow at a time, as down takes
    // them from its windows split into planes, faded and laid over adjacent pixels of the frame.
    [[gnu::target("avx2")]] static void across(const Pixel* row, const Weights& weights,
                                               std::int64_t position, std::int64_t step, Pixel* out,
                                               int count, std::ptrdiff_t ahead) {
        const auto* table = reinterpret_cast<const std::int8_t*>(weights.table);
        const Pixel* taps = row - positionOffset;
        const __m256i opacity = _mm256_set1_epi16(static_cast<short>(weights.opacity));
        for (; count > 0;
             count -= 2 * perWindow, position += 2 * perWindow * step, out += 2 * perWindow) {
            const std::int64_t second = position + perWindow * step;
            _mm_prefetch(reinterpret_cast<const char*>(out + ahead), _MM_HINT_T0);
            __m256i window[4];
            if (!planesOf(taps + (position >> positionBits), taps + (second >> positionBits),
                          window))
                continue;
            const std::int8_t* forA = table + phaseOf(position) * perPhase;
            const std::int8_t* forB = table + phaseOf(second) * perPhase;
            if constexpr (perWindow == 4) {
                layEight(eightSums(window, forA, forB), opacity, out, std::min(count, 8));
            } else {
                __m256i sums[4];
                sixteenSums(window, forA, forB, sums);
                laySixteen(sums, opacity, out, std::min(count, 16));
            }
        }
    }
};

template <bool oneGroup> struct Narrow {
    static void down(const std::uint8_t* column, std::ptrdiff_t plane, const Weights& weights,
                     std::int64_t first, std::int64_t second, std::int64_t step, Pixel* out,
                     std::ptrdiff_t stride, int count, Ahead&) {
        for (int k = 0; k < count; ++k, first += step, second += step, out += stride) {
            out[0] = footprintAt<oneGroup>(PlaneTaps{column + baseOf(first), plane}, weights,
                                           phaseOf(first));
            out[1] = footprintAt<oneGroup>(PlaneTaps{column + 4 * plane + baseOf(second), plane},
                                           weights, phaseOf(second));
        }
    }
    static void across(const Pixel* row, const Weights& weights, std::int64_t position,
                       std::int64_t step, Pixel* out, int count, std::ptrdiff_t) {
        for (int k = 0; k < count; ++k, position += step, ++out)
            layOver(out, footprintAt<oneGroup>(RowTaps{row + baseOf(position)}, weights,
                                               phaseOf(position)));
    }
};

// The whole numbers at or below and at or above a coordinate that may lie far outside any
// surface. The passes call these for every run, where the library's calls would cost more than
// the pixels.
int below(double value) {
    const double bounded = std::clamp(value, -1e9, 1e9);
    const int truncated = static_cast<int>(bounded);
    return truncated - (bounded < truncated);
}
int above(double value) {
    const double bounded = std::clamp(value, -1e9, 1e9);
    const int truncated = static_cast<int>(bounded);
    return truncated + (bounded > truncated);
}

// The steps k >= 0 from a position, each step > 0 long, whose base lies from lowest to highest:
// the first such step and the one after the last.
struct Steps {
    int first;
    int end;
};
Steps stepsWithin(std::int64_t start, std::int64_t step, int lowest, int highest) {
    // The first step at or past limit, never beyond a billion.
    const auto firstAt = [&](std::int64_t limit) -> std::int64_t {
        return start >= limit
                   ? 0
                   : std::min<std::int64_t>((limit - start + step - 1) / step, 1000000000);
    };
    const std::int64_t first = firstAt((lowest + positionOffset) << positionBits);
    const std::int64_t end =
        std::max(first, firstAt((highest + 1 + positionOffset) << positionBits));
    return {static_cast<int>(first), static_cast<int>(end)};
}

// The pixels k >= least of a pass whose footprint, starting at p + step k source pixels, has its
// first tap from lowest to highest: the first such pixel, the one after the last, and where the
// first one's footprint starts. perStep is 1 / step and fixedStep the step as a fixed position.
struct Footprints {
    int first;
    int end;
    std::int64_t start;
};
inline Footprints footprintsFrom(double p, double step, double perStep, std::int64_t fixedStep,
                                 int lowest, int highest, int least) {
    // A close guess below the first, then exact in whole numbers.
    const int estimate = std::max(below((lowest - p) * perStep) - 1, least);
    const std::int64_t start = fixedPosition(p + step * estimate);
    const Steps steps = stepsWithin(start, fixedStep, lowest, highest);
    return {estimate + steps.first, estimate + steps.end, start + steps.first * fixedStep};
}

// The frame pixels the turned image can reach, clipped to the surface.
Area reach(const Geometry& g, int imageWidth, int imageHeight, const Surface& surface) {
    const double across = g.kx * imageWidth;
    const double down = g.ky * imageHeight;
    const double hx = 0.5 * (across * std::abs(g.c) + down * std::abs(g.s)) + 2;
    const double hy = 0.5 * (across * std::abs(g.s) + down * std::abs(g.c)) + 2;
    return clip({below(g.x - hx), below(g.y - hy), above(g.x + hx), above(g.y + hy)}, surface.width,
                surface.height);
}

// The first pass's result: one row for each frame row the image reaches, one pixel for each
// image column, with rowPad pixels on each side. It is all zero but where the first pass wrote,
// and the second pass clears what it read. marks counts, for every row and every block of
// blockWidth columns, the columns of the block written in that row; the first pass enters each
// column's rows as a difference (one up where they begin, one down where they end), which the
// second pass sums down the rows.
struct Between {
    Pixel* pixels;
    std::ptrdiff_t length; // from one row to the next
    std::int8_t* marks;
    int blocks;
    int markStride; // blocks rounded up to 16, from one row's marks to the next
};

// Adds the marks of the row above to a row's, 16 blocks at a time: rows of marks are a multiple
// of 16 long.
void sumDown(const std::int8_t* above, std::int8_t* row, int blocks) {
    for (int b = 0; b < blocks; b += 16) {
        const __m128i sum =
            _mm_add_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(above + b)),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + b)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + b), sum);
    }
}

// The first marked block from b on, or blocks when there is none: 16 empty blocks skipped at once.
// The row of marks is a multiple of 16 long, zero past blocks.
int firstMarked(const std::int8_t* marks, int b, int blocks) {
    while (b < blocks) {
        const int empty = _mm_movemask_epi8(_mm_cmpeq_epi8(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(marks + b)), _mm_setzero_si128()));
        if (empty != 0xFFFF) return std::min(blocks, b + __builtin_ctz(~empty));
        b += 16;
    }
    return blocks;
}

// One past the last marked block, where some block is marked: 16 blocks at a time from the end.
int lastMarked(const std::int8_t* marks, int markStride) {
    for (int b = markStride - 16;; b -= 16) {
        const int empty = _mm_movemask_epi8(_mm_cmpeq_epi8(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(marks + b)), _mm_setzero_si128()));
        if (empty != 0xFFFF) return b + 32 - __builtin_clz(~empty & 0xFFFF);
    }
}

// The first pass: every pair of columns of the image resampled down to the frame rows from top,
// visiting only the pair's runs of ink.
template <class Kernel>
void resampleColumns(const PreparedImage& image, const Geometry& g, const Weights& weights, int top,
                     int count, Between& between) {
    const double step = 1 / (g.ky * g.c); // image rows per frame row
    const double perStep = g.ky * g.c;
    const double half = weights.footprint / 2;
    const std::int64_t fixedStep = fixedPosition(step) - fixedPosition(0);
    const int reachBefore = weights.taps - 1;
    const double shear = -g.kx * g.s * step; // from one column to the next
    // The frame rows, counted from top, whose footprint down a column at p starts at most
    // taps - 1 rows before the run and inside it.
    const auto rowsReaching = [&](double p, const Run& run) {
        const Footprints rows =
            footprintsFrom(p, step, perStep, fixedStep, run.begin - reachBefore, run.end - 1, top);
        return Steps{rows.first - top, rows.end - top};
    };
    const std::ptrdiff_t pairLength = 8 * image.planeLength; // two columns of four planes
    const int pairs = static_cast<int>(image.firstRun.size()) - 1;
    for (int m = 0; m < pairs; ++m) {
        const int i = 2 * m;
        const std::uint32_t endRun = image.firstRun[m + 1];
        const std::uint8_t* columns = image.planes.data() + m * pairLength + columnBorder;
        // Down column i, the footprint of frame row Y starts at image row p + step Y, and down
        // the next column at p + shear + step Y: the column's place across the image shifts it
        // as the image turns.
        const double p = g.cv - (g.y + g.kx * g.s * (i + 0.5 - g.cu)) * step + 0.5 * step - half;
        Ahead ahead;
        if (m + 1 < pairs && endRun < image.firstRun[m + 2]) {
            ahead.planes = columns + pairLength;
            ahead.plane = image.planeLength;
            ahead.at = image.runs[endRun].begin - 8;
            ahead.end = image.runs[image.firstRun[m + 2] - 1].end + 8;
        }
        int next = 0; // the runs of a pair reach rows in order, never one row twice
        for (std::uint32_t k = image.firstRun[m]; k < endRun; ++k) {
            const Run run = image.runs[k];
            // Both columns' rows: the first from the column that starts further down, the last
            // from the one that starts further up.
            const int from = std::max(next, rowsReaching(std::max(p, p + shear), run).first);
            const int to = std::min(count, rowsReaching(std::min(p, p + shear), run).end);
            if (from >= to) continue;
            Kernel::down(columns, image.planeLength, weights,
                         fixedPosition(p + step * (top + from)),
                         fixedPosition(p + shear + step * (top + from)), fixedStep,
                         between.pixels + from * between.length + rowPad + i, between.length,
                         to - from, ahead);
            ++between.marks[from * between.markStride + i / blockWidth];
            --between.marks[to * between.markStride + i / blockWidth];
            next = to;
        }
    }
}

// The second pass: each row of the first pass's result resampled across to the frame columns
// and laid over the surface, where the row holds ink; then the row is cleared.
template <class Kernel>
Area resampleRows(Surface& surface, const Geometry& g, const Weights& weights, int top, int count,
                  int imageWidth, Between& between) {
    const double step = g.c / g.kx; // image columns per frame column
    const double perStep = g.kx / g.c;
    const double slant = g.s / g.c;
    const double half = weights.footprint / 2;
    const std::int64_t fixedStep = fixedPosition(step) - fixedPosition(0);
    const int reachBefore = weights.taps - 1;
    Area drawn;
    for (int r = 0; r < count; ++r) {
        std::int8_t* marks = between.marks + r * between.markStride;
        if (r > 0) sumDown(marks - between.markStride, marks, between.markStride);
        const int Y = top + r;
        Pixel* row = between.pixels + r * between.length + rowPad;
        Pixel* target = surface.pixels + Y * surface.stride;
        // Along this row, the footprint of frame column X starts at image column u0 + step X.
        const double u0 = g.cu + step * (0.5 - g.x + slant * (Y + 0.5 - g.y)) - half;
        int left = surface.width, right = 0;
        int written = between.blocks, writtenEnd = 0; // blocks
        // One span from the first block written to the last: the kernels pass over the empty
        // footprints between quickly.
        const int firstBlock = firstMarked(marks, 0, between.blocks);
        if (firstBlock < between.blocks) {
            written = firstBlock;
            writtenEnd = lastMarked(marks, between.markStride);
            const int begin = firstBlock * blockWidth;
            const int end = std::min(writtenEnd * blockWidth, imageWidth);
            // The frame columns whose footprint starts at most taps - 1 pixels before these
            // image columns and inside them; around them the row is zero.
            const Footprints columns =
                footprintsFrom(u0, step, perStep, fixedStep, begin - reachBefore, end - 1, 0);
            const int from = columns.first;
            const int to = std::min(surface.width, columns.end);
            if (from < to) {
                left = from;
                right = to;
                // The kernel asks the cache for the frame's row two below as it goes: the
                // processor's own prefetching would wait for a few misses on every row.
                Kernel::across(row, weights, columns.start, fixedStep, target + from, to - from,
                               Y + 2 < surface.height ? 2 * surface.stride : 0);
            }
        }
        // Cleared only now: a wide footprint reads the blocks on both sides of its own.
        if (written < writtenEnd)
            std::fill(row + written * blockWidth,
                      row + std::min(writtenEnd * blockWidth, imageWidth), 0u);
        if (left < right) drawn = unite(drawn, {left, Y, right, Y + 1});
    }
    return drawn;
}

// An image neither scaled nor turned, with its top left corner on a pixel's corner, laid over
// the surface pixel for pixel, its alpha scaled by amount.
Area layImage(Surface& surface, const PreparedImage& image, int left, int top, double amount) {
    const Area area =
        clip({left, top, left + image.width, top + image.height}, surface.width, surface.height);
    const int scale = static_cast<int>(amount * 256 + 0.5);
    for (int Y = area.top; Y < area.bottom; ++Y)
        for (int X = area.left; X < area.right; ++X) {
            const std::uint8_t* at =
                image.planes.data() + 4 * (X - left) * image.planeLength + columnBorder + (Y - top);
            Pixel value = 0;
            for (int c = 0; c < 4; ++c)
                value |= static_cast<Pixel>((at[c * image.planeLength] * scale + 128) >> 8)
                         << (8 * c);
            layOver(surface.pixels + Y * surface.stride + X, value);
        }
    return area;
}

// Each pixel of the reach as the average of points x points spread over it, each taking the
// image pixel it falls in, at least three to an image pixel: for turns and sizes that the two
// passes do not take. Slow, and never needed by the screensaver's own motion.
Area supersample(Surface& surface, const PreparedImage& image, const Geometry& g, double amount,
                 const Area& area) {
    const int points = std::clamp(static_cast<int>(std::ceil(3 / std::min(g.kx, g.ky))), 4, 64);
    const int scale = static_cast<int>(amount * 256 + 0.5);
    for (int Y = area.top; Y < area.bottom; ++Y)
        for (int X = area.left; X < area.right; ++X) {
            std::uint32_t sums[4] = {0, 0, 0, 0};
            for (int sy = 0; sy < points; ++sy)
                for (int sx = 0; sx < points; ++sx) {
                    const double dx = X + (sx + 0.5) / points - g.x;
                    const double dy = Y + (sy + 0.5) / points - g.y;
                    const double u = g.cu + (g.c * dx + g.s * dy) / g.kx;
                    const double v = g.cv + (g.c * dy - g.s * dx) / g.ky;
                    if (!(u >= 0 && v >= 0 && u < image.width && v < image.height)) continue;
                    const std::uint8_t* pixel =
                        image.planes.data() +
                        4 * static_cast<std::ptrdiff_t>(u) * image.planeLength + columnBorder +
                        static_cast<std::ptrdiff_t>(v);
                    for (int k = 0; k < 4; ++k)
                        sums[k] += pixel[k * image.planeLength];
                }
            Pixel value = 0;
            const std::uint64_t total = static_cast<std::uint64_t>(points) * points * 256;
            for (int k = 0; k < 4; ++k)
                value |= static_cast<Pixel>((std::uint64_t{sums[k]} * scale + total / 2) / total)
                         << (8 * k);
            layOver(surface.pixels + Y * surface.stride + X, value);
        }
    return area;
}

} // namespace

const bool processorHasAvx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}();
bool useAvx2 = processorHasAvx2;

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

// Transposes a 16 x 16 byte matrix held as 16 rows of 16 bytes: each round interleaves the
// rows pairwise, and four rounds put every byte in its transposed place.
void transposeBytes(__m128i rows[16]) {
    for (int round = 0; round < 4; ++round) {
        __m128i interleaved[16];
        for (int i = 0; i < 8; ++i) {
            interleaved[2 * i] = _mm_unpacklo_epi8(rows[i], rows[i + 8]);
            interleaved[2 * i + 1] = _mm_unpackhi_epi8(rows[i], rows[i + 8]);
        }
        std::copy_n(interleaved, 16, rows);
    }
}

PreparedImage prepareImage(const Pixel* pixels, int width, int height, std::ptrdiff_t stride) {
    PreparedImage image;
    if (!pixels || width < 1 || height < 1) return image;
    image.width = width;
    image.height = height;
    const std::ptrdiff_t plane = height + 2 * static_cast<std::ptrdiff_t>(columnBorder);
    image.planeLength = plane;
    // An odd width gets a transparent column, so that columns come in pairs.
    const int pairs = (width + 1) / 2;
    image.planes.assign(static_cast<std::size_t>(pairs) * 8 * plane, 0);
    const auto planeAt = [&](int i, int c) {
        return image.planes.data() + (4 * i + c) * plane + columnBorder;
    };
    // Sixteen rows of four pixels are a 16 x 16 matrix of bytes whose transpose is, row by row,
    // the four planes of each of the four columns.
    const int wholeColumns = width / 4 * 4;
    const int wholeRows = height / 16 * 16;
    for (int i = 0; i < wholeColumns; i += 4)
        for (int j = 0; j < wholeRows; j += 16) {
            __m128i block[16];
            for (int r = 0; r < 16; ++r)
                block[r] = _mm_loadu_si128(
                    reinterpret_cast<const __m128i*>(pixels + (j + r) * stride + i));
            transposeBytes(block);
            for (int k = 0; k < 16; ++k)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(planeAt(i + k / 4, k % 4) + j),
                                 block[k]);
        }
    for (int i = 0; i < width; ++i)
        for (int j = i < wholeColumns ? wholeRows : 0; j < height; ++j)
            for (int c = 0; c < 4; ++c)
                planeAt(i, c)[j] = static_cast<std::uint8_t>(pixels[j * stride + i] >> (8 * c));

    image.firstRun.reserve(static_cast<std::size_t>(pairs) + 1);
    for (int m = 0; m < pairs; ++m) {
        const std::uint32_t first = static_cast<std::uint32_t>(image.runs.size());
        image.firstRun.push_back(first);
        const std::uint8_t* blue = planeAt(2 * m, 0); // the pair's eight planes follow
        const auto inked = [&](int j) {
            std::uint8_t any = 0;
            for (int c = 0; c < 8; ++c)
                any |= blue[j + c * plane];
            return any != 0;
        };
        for (int j = 0; j < height;) {
            // Sixteen empty rows at a time; the border below the column reads as empty.
            if (j + 16 <= height + columnBorder) {
                __m128i any = _mm_setzero_si128();
                for (int c = 0; c < 8; ++c)
                    any = _mm_or_si128(any, _mm_loadu_si128(reinterpret_cast<const __m128i*>(
                                                blue + c * plane + j)));
                if (_mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) == 0xFFFF) {
                    j += 16;
                    continue;
                }
            }
            if (!inked(j)) {
                ++j;
                continue;
            }
            // Runs with fewer empty rows between them than a frame's ink takes are one run: the
            // passes skip empty footprints quickly, and every run costs some setting up.
            if (image.runs.size() > first && j - image.runs.back().end <= 64)
                image.runs.back().end = j + 1;
            else
                image.runs.push_back({j, j + 1});
            ++j;
        }
    }
    image.firstRun.push_back(static_cast<std::uint32_t>(image.runs.size()));
    return image;
}

Area drawImage(Surface& surface, const PreparedImage& image, const Placement& at, double opacity,
               Workspace& work) {
    if (!surface.pixels || surface.width < 1 || surface.height < 1 || image.width < 1) return {};
    if (!(opacity * weightOne >= 0.5)) return {}; // also refuses NaN
    const double amount = std::min(opacity, 1.0);
    Geometry g;
    g.x = at.x;
    g.y = at.y;
    g.cu = image.width / 2.0;
    g.cv = image.height / 2.0;
    g.kx = at.scale * at.width / image.width;
    g.ky = at.scale * at.height / image.height;
    const double turn = std::remainder(at.rotation, 360.0) * std::numbers::pi / 180;
    g.c = std::cos(turn);
    g.s = std::sin(turn);
    if (!(g.kx > 0 && g.ky > 0 && std::isfinite(g.kx) && std::isfinite(g.ky)) ||
        !std::isfinite(g.x) || !std::isfinite(g.y) || !std::isfinite(turn))
        return {};
    const Area area = reach(g, image.width, image.height, surface);
    if (isEmpty(area)) return {};
    const double left = g.x - g.cu, top = g.y - g.cv;
    if (g.kx == 1 && g.ky == 1 && g.s == 0 && left == std::floor(left) && top == std::floor(top))
        return layImage(surface, image, static_cast<int>(left), static_cast<int>(top), amount);

    const double down = 1 / (g.ky * g.c);
    const double across = g.c / g.kx;
    if (g.c < std::cos(std::numbers::pi / 4) - 1e-12 || down > mostTaps - 1 ||
        across > mostTaps - 1 || std::abs(g.s * g.kx * down) > mostShear)
        return supersample(surface, image, g, amount, area);

    const int count = area.bottom - area.top;
    Between between;
    between.length = image.width + 2 * rowPad;
    between.blocks = (image.width + blockWidth - 1) / blockWidth;
    between.markStride = (between.blocks + 15) / 16 * 16;
    if (work.between.size() < static_cast<std::size_t>(count) * between.length)
        work.between.resize(static_cast<std::size_t>(count) * between.length);
    work.marks.assign(static_cast<std::size_t>(count + 1) * between.markStride, 0);
    between.pixels = work.between.data();
    between.marks = work.marks.data();

    // Footprints of up to four taps, which is all of them from a third of the size up, go
    // through the AVX2 kernel where the processor has it.
    const bool wide = useAvx2 && down <= 3 && across <= 3;
    if (wide) {
        const Weights downTaps = windowsFor(down, work.downWeights);
        Weights acrossTaps = windowsFor(across, work.acrossWeights);
        acrossTaps.opacity = static_cast<int>(amount * 256 + 0.5);
        if (downTaps.perWindow == 8)
            resampleColumns<Wide<8>>(image, g, downTaps, area.top, count, between);
        else
            resampleColumns<Wide<4>>(image, g, downTaps, area.top, count, between);
        if (acrossTaps.perWindow == 8)
            return resampleRows<Wide<8>>(surface, g, acrossTaps, area.top, count, image.width,
                                         between);
        return resampleRows<Wide<4>>(surface, g, acrossTaps, area.top, count, image.width, between);
    }
    const Weights downWeights = weightsFor(down, 1, work.downWeights);
    const Weights acrossWeights = weightsFor(across, amount, work.acrossWeights);
    if (downWeights.groups == 1)
        resampleColumns<Narrow<true>>(image, g, downWeights, area.top, count, between);
    else
        resampleColumns<Narrow<false>>(image, g, downWeights, area.top, count, between);
    if (acrossWeights.groups == 1)
        return resampleRows<Narrow<true>>(surface, g, acrossWeights, area.top, count, image.width,
                                          between);
    return resampleRows<Narrow<false>>(surface, g, acrossWeights, area.top, count, image.width,
                                       between);
}

void fillAreas(Surface& surface, const std::vector<Area>& areas, Pixel colour) {
    std::vector<Area> inside;
    int top = surface.height, bottom = 0;
    for (const Area& area : areas)
        if (const Area clipped = clip(area, surface.width, surface.height); !isEmpty(clipped)) {
            inside.push_back(clipped);
            top = std::min(top, clipped.top);
            bottom = std::max(bottom, clipped.bottom);
        }
    std::sort(inside.begin(), inside.end(),
              [](const Area& a, const Area& b) { return a.left < b.left; });
    for (int y = top; y < bottom; ++y) {
        Pixel* row = surface.pixels + y * surface.stride;
        int from = 0, to = 0; // the span being gathered
        for (const Area& area : inside) {
            if (y < area.top || y >= area.bottom) continue;
            if (area.left > to) {
                std::fill(row + from, row + to, colour);
                from = area.left;
            }
            to = std::max(to, area.right);
        }
        std::fill(row + from, row + to, colour);
    }
}

} // namespace wishwell
