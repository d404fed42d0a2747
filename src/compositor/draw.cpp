// drawImage: the choice of a way to draw each copy, and of the kernels that the processor runs.

#include "passes.h"

#include <cmath>
#include <numbers>

namespace wishwell {

using namespace engine;

namespace {

// An image neither scaled nor turned, with its top left corner on a pixel's corner, laid over
// the surface pixel for pixel, its alpha scaled by amount: a piece of a row at a time, so that a
// frame does not allocate.
Area layPrepared(Surface& surface, const PreparedImage& image, int left, int top, double amount) {
    const Area area =
        clip({left, top, left + image.width, top + image.height}, surface.width, surface.height);
    const int scale = static_cast<int>(amount * 256 + 0.5);
    constexpr int piece = 64;
    Pixel faded[piece];
    for (int Y = area.top; Y < area.bottom; ++Y)
        for (int X = area.left; X < area.right; X += piece) {
            const int count = std::min(piece, area.right - X);
            for (int k = 0; k < count; ++k) {
                const std::uint8_t* at = image.planes.data() +
                                         4 * (X + k - left) * image.planeLength + columnBorder +
                                         (Y - top);
                Pixel value = 0;
                for (int c = 0; c < 4; ++c)
                    value |= static_cast<Pixel>((at[c * image.planeLength] * scale + 128) >> 8)
                             << (8 * c);
                faded[k] = value;
            }
            layRow(surface.pixels + Y * surface.stride + X, faded, count);
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

bool processorRuns(Kernel set) {
    // Read once, before the first check: kernel's initialiser may run before the library's own.
    // GCC's check for AVX2 also asks whether the operating system saves the AVX state.
    __builtin_cpu_init();
    switch (set) {
    case Kernel::sse2: return true;
    case Kernel::sse41:
        return __builtin_cpu_supports("ssse3") != 0 && __builtin_cpu_supports("sse4.1") != 0;
    case Kernel::avx2: return __builtin_cpu_supports("avx2") != 0;
    }
    return false;
}

Kernel kernel = processorRuns(Kernel::avx2)    ? Kernel::avx2
                : processorRuns(Kernel::sse41) ? Kernel::sse41
                                               : Kernel::sse2;

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
        return layPrepared(surface, image, static_cast<int>(left), static_cast<int>(top), amount);

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

    const Copy copy{image, g, down, across, amount, area.top, count};
    // Footprints of up to four taps, which is all of them from a third of the size up, go through
    // the wider kernels; the SSE2 ones take any footprint.
    if (down <= 3 && across <= 3) {
        if (kernel == Kernel::avx2) return passesAvx2(surface, copy, work, between);
        if (kernel == Kernel::sse41) return passesSse41(surface, copy, work, between);
    }
    return passesSse2(surface, copy, work, between);
}

} // namespace wishwell
