// The AVX2 kernels: footprints of up to four taps, four or eight of them picked from each window
// of 16 bytes by one byte shuffle and summed by multiply-adds, two columns or two windows of a
// row at a time, one in each half of a register.

#include "passes.h"

#include <cstring>

namespace wishwell::engine {

namespace {

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

// The kernels for footprints of up to four taps, taking perWindow of them from each window of two
// at a time.
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

} // namespace

Area passesAvx2(Surface& surface, const Copy& copy, Workspace& work, Between& between) {
    const Weights downTaps = windowsFor(copy.down, work.downWeights);
    Weights acrossTaps = windowsFor(copy.across, work.acrossWeights);
    acrossTaps.opacity = static_cast<int>(copy.amount * 256 + 0.5);
    if (downTaps.perWindow == 8)
        resampleColumns<Wide<8>>(copy.image, copy.g, downTaps, copy.top, copy.count, between);
    else
        resampleColumns<Wide<4>>(copy.image, copy.g, downTaps, copy.top, copy.count, between);
    if (acrossTaps.perWindow == 8)
        return resampleRows<Wide<8>>(surface, copy.g, acrossTaps, copy.top, copy.count,
                                     copy.image.width, between);
    return resampleRows<Wide<4>>(surface, copy.g, acrossTaps, copy.top, copy.count,
                                 copy.image.width, between);
}

} // namespace wishwell::engine
