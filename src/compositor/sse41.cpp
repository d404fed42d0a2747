// The SSE4.1 kernels, with SSSE3, for the processors without AVX2: the AVX2 kernels' way at half
// their width, and the same pixels. Footprints of up to four taps, four or eight of them picked
// from each window of 16 bytes by one byte shuffle and summed by multiply-adds, one column or one
// window of a row in each register.

#include "passes.h"

#include <cstring>

namespace wishwell::engine {

namespace {

inline __m128i load(const void* at) {
    return _mm_loadu_si128(static_cast<const __m128i*>(at));
}

// The byte of each channel of four pixels, and back: blues, greens, reds and alphas, or the four
// pixels from them.
[[gnu::target("sse4.1")]] inline __m128i byChannelOrPixel(__m128i bytes) {
    return _mm_shuffle_epi8(bytes,
                            _mm_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15));
}

// Four footprints in 1/128 of a level as 16-bit lanes: their blues and greens, and their reds and
// alphas.
struct Sums {
    __m128i blueGreen;
    __m128i redAlpha;
};

// Four footprints from the four planes' windows, picked and weighed by the table of the first
// one's phase, their four taps side by side.
[[gnu::target("sse4.1")]] inline Sums fourSums(const __m128i window[4], const std::int8_t* table) {
    const __m128i pick = load(table);
    const __m128i weigh = load(table + 16);
    const __m128i ones = _mm_set1_epi16(1);
    __m128i sums[4];
    for (int c = 0; c < 4; ++c)
        sums[c] = _mm_madd_epi16(_mm_maddubs_epi16(_mm_shuffle_epi8(window[c], pick), weigh), ones);
    return {_mm_packs_epi32(sums[0], sums[1]), _mm_packs_epi32(sums[2], sums[3])};
}

// Eight footprints from the four planes' windows, as one register for each plane, in 1/128 of a
// level as 16-bit lanes: the first two taps of all eight are picked and weighed at once, then the
// last two, and the two added.
[[gnu::target("sse4.1")]] inline void eightSums(const __m128i window[4], const std::int8_t* table,
                                                __m128i sums[4]) {
    const __m128i pickFirst = load(table);
    const __m128i pickLast = load(table + 16);
    const __m128i weighFirst = load(table + 32);
    const __m128i weighLast = load(table + 48);
    for (int c = 0; c < 4; ++c)
        sums[c] =
            _mm_add_epi16(_mm_maddubs_epi16(_mm_shuffle_epi8(window[c], pickFirst), weighFirst),
                          _mm_maddubs_epi16(_mm_shuffle_epi8(window[c], pickLast), weighLast));
}

// Source over in 16-bit lanes: source + old * keep / 255, rounded: x / 255, rounded, is
// (x + 128) * 257 / 65536 for every 16-bit x.
[[gnu::target("sse4.1")]] inline __m128i over(__m128i source, __m128i old, __m128i keep) {
    const __m128i kept = _mm_mulhi_epu16(
        _mm_add_epi16(_mm_mullo_epi16(old, keep), _mm_set1_epi16(128)), _mm_set1_epi16(257));
    return _mm_add_epi16(source, kept);
}

template <int perWindow> struct Half {
    static constexpr int perPhase = 8 * perWindow; // bytes of the table for each phase

    // Four rows of pixels of two adjacent columns, stored as each row's two pixels side by
    // side: the first rows of them.
    [[gnu::target("sse4.1")]] static void storeFour(__m128i a, __m128i b, Pixel* at,
                                                    std::ptrdiff_t stride, int rows) {
        const __m128i upper = _mm_unpacklo_epi32(a, b);
        const __m128i lower = _mm_unpackhi_epi32(a, b);
        const std::int64_t both[4] = {_mm_cvtsi128_si64(upper), _mm_extract_epi64(upper, 1),
                                      _mm_cvtsi128_si64(lower), _mm_extract_epi64(lower, 1)};
        for (int r = 0; r < std::min(rows, 4); ++r)
            std::memcpy(at + r * stride, &both[r], sizeof(both[r]));
    }

    // The perWindow rows drawn from one window of each plane of a column at a, picked and
    // weighed by the table of the first footprint's phase, as the pixels of four rows each.
    [[gnu::target("sse4.1")]] static void rowsOf(const std::uint8_t* a, std::ptrdiff_t plane,
                                                 const std::int8_t* table,
                                                 __m128i pixels[perWindow / 4]) {
        __m128i window[4];
        for (int c = 0; c < 4; ++c)
            window[c] = load(a + c * plane);
        const __m128i toLevel = _mm_set1_epi16(256); // (sum + 64) / 128
        if constexpr (perWindow == 4) {
            const Sums sums = fourSums(window, table);
            pixels[0] =
                byChannelOrPixel(_mm_packus_epi16(_mm_mulhrs_epi16(sums.blueGreen, toLevel),
                                                  _mm_mulhrs_epi16(sums.redAlpha, toLevel)));
        } else {
            __m128i sums[4];
            eightSums(window, table, sums);
            for (int c = 0; c < 4; ++c)
                sums[c] = _mm_mulhrs_epi16(sums[c], toLevel);
            const __m128i blueGreen = _mm_packus_epi16(sums[0], sums[1]);
            const __m128i redAlpha = _mm_packus_epi16(sums[2], sums[3]);
            const __m128i blueRed = _mm_unpacklo_epi8(blueGreen, redAlpha);
            const __m128i greenAlpha = _mm_unpackhi_epi8(blueGreen, redAlpha);
            pixels[0] = _mm_unpacklo_epi8(blueRed, greenAlpha);
            pixels[1] = _mm_unpackhi_epi8(blueRed, greenAlpha);
        }
    }

    // perWindow frame rows down two adjacent columns at a time, from one 16-byte window of each
    // plane of each column; stored as the two columns' pixels side by side, row by row.
    [[gnu::target("sse4.1")]] static void down(const std::uint8_t* column, std::ptrdiff_t plane,
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
            __m128i a[perWindow / 4], b[perWindow / 4];
            rowsOf(tapsA + (first >> positionBits), plane, table + phaseOf(first) * perPhase, a);
            rowsOf(tapsB + (second >> positionBits), plane, table + phaseOf(second) * perPhase, b);
            for (int four = 0; four < perWindow / 4; ++four)
                if (count >= perWindow) // all rows, without a test for each
                    storeFour(a[four], b[four], out + 4 * four * stride, stride, 4);
                else if (4 * four < count)
                    storeFour(a[four], b[four], out + 4 * four * stride, stride, count - 4 * four);
        }
        ahead = next;
    }

    // The 16 pixels at a as four planes, blue, green, red and alpha; false when all are zero.
    [[gnu::target("sse4.1")]] static bool planesOf(const Pixel* a, __m128i planes[4]) {
        __m128i quarters[4]; // four pixels each, their blues, greens, reds and alphas
        __m128i any = _mm_setzero_si128();
        for (int q = 0; q < 4; ++q) {
            const __m128i four = load(a + 4 * q);
            any = _mm_or_si128(any, four);
            quarters[q] = byChannelOrPixel(four);
        }
        if (_mm_testz_si128(any, any)) return false;
        const __m128i blueGreen01 = _mm_unpacklo_epi32(quarters[0], quarters[1]);
        const __m128i blueGreen23 = _mm_unpacklo_epi32(quarters[2], quarters[3]);
        const __m128i redAlpha01 = _mm_unpackhi_epi32(quarters[0], quarters[1]);
        const __m128i redAlpha23 = _mm_unpackhi_epi32(quarters[2], quarters[3]);
        planes[0] = _mm_unpacklo_epi64(blueGreen01, blueGreen23);
        planes[1] = _mm_unpackhi_epi64(blueGreen01, blueGreen23);
        planes[2] = _mm_unpacklo_epi64(redAlpha01, redAlpha23);
        planes[3] = _mm_unpackhi_epi64(redAlpha01, redAlpha23);
        return true;
    }

    // Four footprints, faded and laid over the first count (at least one) of the four pixels at
    // out, channel by channel as fourSums gives them.
    [[gnu::target("sse4.1")]] static void layFour(const Sums& sums, __m128i opacity, Pixel* out,
                                                  int count) {
        // Faded and rounded at once: sum * opacity / 128 / 256.
        const __m128i blueGreen = _mm_mulhrs_epi16(sums.blueGreen, opacity);
        const __m128i redAlpha = _mm_mulhrs_epi16(sums.redAlpha, opacity);
        Pixel spare[4]; // read and written unaligned, as the frame is
        Pixel* target = out;
        if (count < 4) {
            std::copy_n(out, count, spare);
            target = spare;
        }
        // Source over: source + target * (255 - alpha) / 255.
        const __m128i alphas =
            _mm_setr_epi8(8, 9, 10, 11, 12, 13, 14, 15, 8, 9, 10, 11, 12, 13, 14, 15);
        const __m128i keep = _mm_sub_epi16(_mm_set1_epi16(255), _mm_shuffle_epi8(redAlpha, alphas));
        const __m128i under = byChannelOrPixel(load(target));
        const __m128i zero = _mm_setzero_si128();
        const __m128i result = byChannelOrPixel(
            _mm_packus_epi16(over(blueGreen, _mm_unpacklo_epi8(under, zero), keep),
                             over(redAlpha, _mm_unpackhi_epi8(under, zero), keep)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target), result);
        if (count < 4) std::copy_n(spare, count, out);
    }

    // Eight footprints, faded and laid over the first count (at least one) of the eight pixels
    // at out, one channel in each register as eightSums gives them.
    [[gnu::target("sse4.1")]] static void layEight(const __m128i sums[4], __m128i opacity,
                                                   Pixel* out, int count) {
        Pixel spare[8]; // read and written unaligned, as the frame is
        Pixel* target = out;
        if (count < 8) {
            std::copy_n(out, count, spare);
            target = spare;
        }
        // The pixels under them in the same order: each channel's eight.
        const __m128i low = byChannelOrPixel(load(target));
        const __m128i high = byChannelOrPixel(load(target + 4));
        const __m128i blueGreen = _mm_unpacklo_epi32(low, high);
        const __m128i redAlpha = _mm_unpackhi_epi32(low, high);
        const __m128i zero = _mm_setzero_si128();
        const __m128i under[4] = {
            _mm_unpacklo_epi8(blueGreen, zero), _mm_unpackhi_epi8(blueGreen, zero),
            _mm_unpacklo_epi8(redAlpha, zero), _mm_unpackhi_epi8(redAlpha, zero)};
        // Faded and rounded at once, sum * opacity / 128 / 256; then source over.
        __m128i result[4];
        for (int c = 0; c < 4; ++c)
            result[c] = _mm_mulhrs_epi16(sums[c], opacity);
        const __m128i keep = _mm_sub_epi16(_mm_set1_epi16(255), result[3]);
        for (int c = 0; c < 4; ++c)
            result[c] = over(result[c], under[c], keep);
        // Back to pixels, undoing the steps above.
        const __m128i newBlueGreen = _mm_packus_epi16(result[0], result[1]);
        const __m128i newRedAlpha = _mm_packus_epi16(result[2], result[3]);
        const __m128i blueRed = _mm_unpacklo_epi32(newBlueGreen, newRedAlpha);
        const __m128i greenAlpha = _mm_unpackhi_epi32(newBlueGreen, newRedAlpha);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target),
                         byChannelOrPixel(_mm_unpacklo_epi32(blueRed, greenAlpha)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + 4),
                         byChannelOrPixel(_mm_unpackhi_epi32(blueRed, greenAlpha)));
        if (count < 8) std::copy_n(spare, count, out);
    }

    // Footprints along a row of the first pass's result, perWindow at a time from one window,
    // faded and laid over adjacent pixels of the frame.
    [[gnu::target("sse4.1")]] static void across(const Pixel* row, const Weights& weights,
                                                 std::int64_t position, std::int64_t step,
                                                 Pixel* out, int count, std::ptrdiff_t ahead) {
        const auto* table = reinterpret_cast<const std::int8_t*>(weights.table);
        const Pixel* taps = row - positionOffset;
        const __m128i opacity = _mm_set1_epi16(static_cast<short>(weights.opacity));
        for (; count > 0; count -= perWindow, position += perWindow * step, out += perWindow) {
            _mm_prefetch(reinterpret_cast<const char*>(out + ahead), _MM_HINT_T0);
            __m128i window[4];
            if (!planesOf(taps + (position >> positionBits), window)) continue;
            const std::int8_t* forThis = table + phaseOf(position) * perPhase;
            if constexpr (perWindow == 4) {
                layFour(fourSums(window, forThis), opacity, out, std::min(count, 4));
            } else {
                __m128i sums[4];
                eightSums(window, forThis, sums);
                layEight(sums, opacity, out, std::min(count, 8));
            }
        }
    }
};

} // namespace

Area passesSse41(Surface& surface, const Copy& copy, Workspace& work, Between& between) {
    const Weights downTaps = windowsFor(copy.down, work.downWeights);
    Weights acrossTaps = windowsFor(copy.across, work.acrossWeights);
    acrossTaps.opacity = static_cast<int>(copy.amount * 256 + 0.5);
    if (downTaps.perWindow == 8)
        resampleColumns<Half<8>>(copy.image, copy.g, downTaps, copy.top, copy.count, between);
    else
        resampleColumns<Half<4>>(copy.image, copy.g, downTaps, copy.top, copy.count, between);
    if (acrossTaps.perWindow == 8)
        return resampleRows<Half<8>>(surface, copy.g, acrossTaps, copy.top, copy.count,
                                     copy.image.width, between);
    return resampleRows<Half<4>>(surface, copy.g, acrossTaps, copy.top, copy.count,
                                 copy.image.width, between);
}

} // namespace wishwell::engine
