// The SSE2 kernels, which every 64-bit processor runs: one footprint at a time, of any length the
// passes take, in groups of four taps.

#include "passes.h"

#include <cstring>

namespace wishwell::engine {

namespace {

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

} // namespace

// Four pixels at a time with layOver's results: for 0 <= t < 65280, t / 255, rounded, is
// (t + 1 + (t >> 8)) >> 8 with t = d (255 - alpha) + 127.
void layRow(Pixel* target, const Pixel* source, int count) {
    int x = 0;
    for (; x + 4 <= count; x += 4) {
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + x));
        const __m128i zero = _mm_setzero_si128();
        const __m128i alpha = _mm_srli_epi32(s, 24);
        const __m128i clear = _mm_cmpeq_epi32(alpha, zero);
        if (_mm_movemask_epi8(clear) == 0xFFFF) continue; // most of an extrusion's rows are empty
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(target + x));
        const __m128i inverse =
            _mm_sub_epi16(_mm_set1_epi16(255), _mm_or_si128(alpha, _mm_slli_epi32(alpha, 16)));
        const auto part = [&](__m128i channels, __m128i factor) {
            const __m128i t = _mm_add_epi16(_mm_mullo_epi16(channels, factor), _mm_set1_epi16(127));
            const __m128i sum =
                _mm_add_epi16(_mm_add_epi16(t, _mm_set1_epi16(1)), _mm_srli_epi16(t, 8));
            return _mm_srli_epi16(sum, 8);
        };
        const __m128i low = part(_mm_unpacklo_epi8(d, zero), _mm_unpacklo_epi32(inverse, inverse));
        const __m128i high = part(_mm_unpackhi_epi8(d, zero), _mm_unpackhi_epi32(inverse, inverse));
        const __m128i over = _mm_adds_epu8(s, _mm_packus_epi16(low, high));
        const __m128i out = _mm_or_si128(_mm_and_si128(clear, d), _mm_andnot_si128(clear, over));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + x), out);
    }
    for (; x < count; ++x)
        layOver(target + x, source[x]);
}

Area passesSse2(Surface& surface, const Copy& copy, Workspace& work, Between& between) {
    const Weights downWeights = weightsFor(copy.down, 1, work.downWeights);
    const Weights acrossWeights = weightsFor(copy.across, copy.amount, work.acrossWeights);
    if (downWeights.groups == 1)
        resampleColumns<Narrow<true>>(copy.image, copy.g, downWeights, copy.top, copy.count,
                                      between);
    else
        resampleColumns<Narrow<false>>(copy.image, copy.g, downWeights, copy.top, copy.count,
                                       between);
    if (acrossWeights.groups == 1)
        return resampleRows<Narrow<true>>(surface, copy.g, acrossWeights, copy.top, copy.count,
                                          copy.image.width, between);
    return resampleRows<Narrow<false>>(surface, copy.g, acrossWeights, copy.top, copy.count,
                                       copy.image.width, between);
}

} // namespace wishwell::engine
