#pragma once
// What every instruction set's kernels share: the fixed-point geometry and weights of the two
// passes, the passes themselves, which visit the runs of ink and call a kernel for each, and the
// entry points of each set's passes. Only the compositor's own files include it.

#include "compositor.h"

#include <immintrin.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace wishwell::engine {

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
    int perWindow = 4;    // for the SSE4.1 and AVX2 kernels: footprints from one window, 4 or 8
};

// The weights of a footprint of that length that starts phase / phases past a pixel's edge, for
// the SSE2 kernels; their weights add up to amount.
Weights weightsFor(double footprint, double amount, std::vector<std::int32_t>& table);

// For the kernels that take four or eight footprints from one window of 16 bytes (SSE4.1 and
// AVX2): the shuffles that pick each footprint's taps, and their weights in 1/128.
Weights windowsFor(double step, std::vector<std::int32_t>& table);

// Source over: a premultiplied pixel laid over another; every 64-bit processor runs it.
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

// Source over along a row: count pixels from source laid over as many at target.
void layRow(Pixel* target, const Pixel* source, int count);

// Only called for positions near the image, never below -positionOffset.
inline std::int64_t fixedPosition(double position) {
    return static_cast<std::int64_t>(
        (position + static_cast<double>(positionOffset)) * (1 << positionBits) + 0.5);
}

inline int baseOf(std::int64_t position) {
    return static_cast<int>((position >> positionBits) - positionOffset);
}

inline int phaseOf(std::int64_t position) {
    return static_cast<int>((position >> (positionBits - phaseBits)) & (phases - 1));
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

// The whole numbers at or below and at or above a coordinate that may lie far outside any
// surface. The passes call these for every run, where the library's calls would cost more than
// the pixels.
inline int below(double value) {
    const double bounded = std::clamp(value, -1e9, 1e9);
    const int truncated = static_cast<int>(bounded);
    return truncated - (bounded < truncated);
}
inline int above(double value) {
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
inline Steps stepsWithin(std::int64_t start, std::int64_t step, int lowest, int highest) {
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
Area reach(const Geometry& g, int imageWidth, int imageHeight, const Surface& surface);

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
inline void sumDown(const std::int8_t* above, std::int8_t* row, int blocks) {
    for (int b = 0; b < blocks; b += 16) {
        const __m128i sum =
            _mm_add_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(above + b)),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + b)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + b), sum);
    }
}

// The first marked block from b on, or blocks when there is none: 16 empty blocks skipped at once.
// The row of marks is a multiple of 16 long, zero past blocks.
inline int firstMarked(const std::int8_t* marks, int b, int blocks) {
    while (b < blocks) {
        const int empty = _mm_movemask_epi8(_mm_cmpeq_epi8(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(marks + b)), _mm_setzero_si128()));
        if (empty != 0xFFFF) return std::min(blocks, b + __builtin_ctz(~empty));
        b += 16;
    }
    return blocks;
}

// One past the last marked block, where some block is marked: 16 blocks at a time from the end.
inline int lastMarked(const std::int8_t* marks, int markStride) {
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

// One copy as both passes take it: the image, where it lands, its footprints down and across in
// image pixels, its opacity, and the frame rows it reaches.
struct Copy {
    const PreparedImage& image;
    Geometry g;
    double down;
    double across;
    double amount;
    int top;
    int count;
};

// Both passes of one copy with one instruction set's kernels, over the surface; the SSE4.1 and
// AVX2 ones take footprints of at most three pixels each way, the SSE2 ones any the passes take.
Area passesSse2(Surface& surface, const Copy& copy, Workspace& work, Between& between);
Area passesSse41(Surface& surface, const Copy& copy, Workspace& work, Between& between);
Area passesAvx2(Surface& surface, const Copy& copy, Workspace& work, Between& between);

} // namespace wishwell::engine
