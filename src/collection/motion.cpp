#include "motion.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace wishwell {

namespace {

constexpr double pagePeriod = 34; // seconds a page stays on screen
constexpr double pageOffset = 2;  // so the first page starts fully opaque
constexpr double fadeSeconds = 1.6;
constexpr double echoLag = 1.05; // seconds of motion between an intention and each echo
constexpr double pi = 3.14159265358979323846;

// The clock never runs backwards in practice; a negative, NaN or infinite frame time is read as
// the start, so it shows the first page fully opaque instead of an undefined conversion.
double clockTime(double t) { return (t >= 0 && std::isfinite(t)) ? t : 0; }

// (a + b) mod n for a, b < n, without the wrap-around of 64-bit addition.
std::uint64_t addModulo(std::uint64_t a, std::uint64_t b, std::uint64_t n) {
    return a >= n - b ? a - (n - b) : a + b;
}

// A double that is already a whole number, as a count of at least 1; the upper bound only keeps
// absurd window sizes from an undefined conversion.
std::uint64_t wholeCount(double value) {
    constexpr double largest = 9007199254740992.0; // 2^53
    if (!(value >= 1)) return 1;
    return static_cast<std::uint64_t>(std::min(value, largest));
}

struct Grid {
    std::uint64_t cols;
    std::uint64_t rows;
};

// The still grid of reduced motion; a height below one pixel counts as one so the grid stays
// finite, and an empty page still has one row.
Grid gridFor(std::uint64_t count, double W, double H) {
    Grid grid;
    grid.cols = wholeCount(std::ceil(std::sqrt(W * static_cast<double>(count) / std::max(H, 1.0))));
    grid.rows = count / grid.cols + (count % grid.cols != 0 ? 1 : 0);
    if (grid.rows < 1) grid.rows = 1;
    return grid;
}

} // namespace

bool Page::operator==(const Page& other) const {
    return count == other.count && std::equal(index, index + count, other.index);
}

std::uint32_t seedOf(std::string_view id) {
    std::uint32_t h = 0x811C9DC5u;
    for (char c : id) {
        h ^= static_cast<unsigned char>(c);
        h *= 0x01000193u;
    }
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    h ^= h >> 16;
    return h;
}

Page pageAt(double t, std::uint64_t n) {
    Page page{};
    if (n <= pageCapacity) {
        for (std::uint64_t i = 0; i < n; ++i) page.index[i] = i;
        page.count = static_cast<std::size_t>(n);
        return page;
    }
    const double whole = std::floor((clockTime(t) + pageOffset) / pagePeriod);
    constexpr double beyond = 18446744073709551616.0; // 2^64
    const std::uint64_t p = whole >= beyond ? std::numeric_limits<std::uint64_t>::max()
                                            : static_cast<std::uint64_t>(whole);
    // 12 p mod n by repeated modular addition, exact for every p and n.
    const std::uint64_t step = p % n;
    std::uint64_t start = 0;
    for (std::size_t i = 0; i < pageCapacity; ++i) start = addModulo(start, step, n);
    for (std::size_t i = 0; i < pageCapacity; ++i) page.index[i] = addModulo(start, i, n);
    page.count = pageCapacity;
    return page;
}

double pageFade(double t, std::uint64_t n) {
    if (n <= pageCapacity) return 1;
    const double r = std::fmod(clockTime(t) + pageOffset, pagePeriod);
    return std::clamp(std::min((pagePeriod - r) / fadeSeconds, r / fadeSeconds), 0.0, 1.0);
}

Size drawnSize(double spriteWidth, double spriteHeight, double W, double H, bool reduced,
               std::uint64_t pageLength) {
    const double target = std::min({420.0, 0.3 * W, 0.53 * H});
    const double natural = target * spriteHeight / spriteWidth;
    const double limit = 0.52 * H;
    Size size = natural > limit ? Size{target * limit / natural, limit} : Size{target, natural};
    if (reduced) {
        const Grid grid = gridFor(pageLength, W, H);
        const double s = std::min({1.0, (0.84 * W / static_cast<double>(grid.cols)) / size.width,
                                   (0.8 * H / static_cast<double>(grid.rows)) / size.height});
        size.width *= s;
        size.height *= s;
    }
    return size;
}

Copies copiesToDraw(bool reduced) {
    if (reduced) return Copies{{0, 0, 0}, 1};
    return Copies{{2, 1, 0}, 3};
}

Pose pose(std::uint32_t seed, double t, int copy, bool reduced, std::uint64_t index,
          std::uint64_t count, double W, double H, double w, double h) {
    if (!std::isfinite(t)) t = 0;
    const double phase = static_cast<double>(seed % 6283) / 1000;
    const double speed = 0.045 + static_cast<double>(seed % 31) / 1000;
    const double tau = t - echoLag * copy;

    Pose result;
    double u;
    double v;
    if (reduced) {
        const Grid grid = gridFor(count, W, H);
        u = grid.cols == 1
                ? 0.5
                : static_cast<double>(index % grid.cols) / static_cast<double>(grid.cols - 1);
        v = grid.rows == 1
                ? 0.5
                : static_cast<double>(index / grid.cols) / static_cast<double>(grid.rows - 1);
        result.scale = 1;
        result.rotation = 0;
        result.opacity = 1;
    } else {
        u = 0.5 + 0.5 * std::sin(speed * tau + phase);
        v = 0.5 + 0.5 * std::sin(0.73 * speed * tau + 1.71 * phase);
        result.scale = 0.82 + 0.13 * std::sin(0.18 * tau + phase) - 0.04 * copy;
        result.rotation = 12 * std::sin(0.12 * tau + phase);
        switch (copy) {
        case 0:
            result.opacity = 0.88 + 0.12 * std::sin(0.2 * tau + phase);
            break;
        case 1:
            result.opacity = 0.2;
            break;
        case 2:
            result.opacity = 0.09;
            break;
        default:
            result.opacity = 0;
            break; // there are only two echoes
        }
    }

    // Keep the turned image's bounding box inside the window, a small margin from each edge.
    const double theta = pi * result.rotation / 180;
    const double margin = std::min(0.03 * W, 24.0);
    const double c = std::abs(std::cos(theta));
    const double s = std::abs(std::sin(theta));
    const double halfX = 0.5 * result.scale * (w * c + h * s);
    const double halfY = 0.5 * result.scale * (h * c + w * s);
    result.x = (margin + halfX) + std::max(0.0, W - 2 * (margin + halfX)) * u;
    result.y = (margin + halfY) + std::max(0.0, H - 2 * (margin + halfY)) * v;
    return result;
}

} // namespace wishwell
