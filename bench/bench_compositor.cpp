// The compositor alone, natively: frames of 12 text-like images, 3 copies each, moving as the
// display moves them on a 1920 x 1080 frame, with the images of sample-like intentions and of
// texts of about 380 bytes. Prints the processor time a frame, the nanoseconds per pixel drawn
// (of the turned images' areas), and the share of a frame that clearing the last frame's
// drawing takes; copying to the screen is measured under Wine by bench_frame.
//   build/bench/bench_compositor [frames]

#include "compositor.h"
#include "motion.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

namespace {

using wishwell::Pixel;

double processorMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

// An image like a rendered intention: lines of letters made of thick anti-aliased strokes,
// extruded six pixels down and right in a dark colour, filled with a vertical gradient, on
// transparency; about an eighth of it holds ink, as in the program's own images.
std::vector<Pixel> textLike(int height, int lines, unsigned seed) {
    constexpr int width = 420;
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<double> cover(static_cast<std::size_t>(width) * height, 0);
    const auto stroke = [&](double x0, double y0, double x1, double y1) {
        const double thick = 2.8;
        for (int y = static_cast<int>(std::min(y0, y1) - 4); y <= std::max(y0, y1) + 4; ++y)
            for (int x = static_cast<int>(std::min(x0, x1) - 4); x <= std::max(x0, x1) + 4; ++x) {
                if (x < 0 || y < 0 || x >= width || y >= height) continue;
                const double dx = x1 - x0, dy = y1 - y0;
                const double along = std::clamp(
                    ((x - x0) * dx + (y - y0) * dy) / std::max(dx * dx + dy * dy, 1e-9), 0.0, 1.0);
                const double d = std::hypot(x - (x0 + along * dx), y - (y0 + along * dy));
                double& c = cover[static_cast<std::size_t>(y) * width + x];
                c = std::max(c, std::clamp(thick - d, 0.0, 1.0));
            }
    };
    const double pitch = 44;
    for (int line = 0; line < lines; ++line) {
        const double top = 115 + line * pitch;
        for (double x = 50; x < 360; x += 26 + (unit(random) < 0.2 ? 14 : 0))
            for (int s = 0; s < 3; ++s)
                stroke(x + unit(random) * 18, top + unit(random) * 34, x + unit(random) * 18,
                       top + unit(random) * 34);
    }
    std::vector<Pixel> pixels(cover.size(), 0);
    const auto over = [](Pixel under, double alpha, int r, int g, int b) {
        const auto channel = [&](int k, int value) {
            return static_cast<Pixel>(
                       std::lround(value * alpha + ((under >> (8 * k)) & 0xFF) * (1 - alpha)))
                   << (8 * k);
        };
        return channel(3, 255) | channel(2, r) | channel(1, g) | channel(0, b);
    };
    for (int i = 6; i >= 1; --i)
        for (int y = i; y < height; ++y)
            for (int x = i; x < width; ++x) {
                const double c = cover[static_cast<std::size_t>(y - i) * width + x - i];
                if (c > 0)
                    pixels[static_cast<std::size_t>(y) * width + x] =
                        over(pixels[static_cast<std::size_t>(y) * width + x], c, 40, 30, 90);
            }
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double c = cover[static_cast<std::size_t>(y) * width + x];
            if (c > 0)
                pixels[static_cast<std::size_t>(y) * width + x] =
                    over(pixels[static_cast<std::size_t>(y) * width + x], c, 255,
                         static_cast<int>(255.0 * y / height), 60);
        }
    return pixels;
}

struct Page {
    std::vector<wishwell::PreparedImage> images;
    std::vector<int> heights;
};

Page pageOf(int lines) {
    Page page;
    for (int j = 0; j < 12; ++j) {
        const int count = lines + j % 3;
        const int height = std::min(1100, 140 + static_cast<int>(count * 44));
        const std::vector<Pixel> pixels = textLike(height, count, 7u + j);
        page.images.push_back(wishwell::prepareImage(pixels.data(), 420, height, 420));
        page.heights.push_back(height);
    }
    return page;
}

struct Figures {
    double frame;    // processor ms a frame
    double perPixel; // ns per pixel drawn
    double clearing; // share of a frame
};

Figures measure(const Page& page, int frames) {
    constexpr int W = 1920, H = 1080;
    std::vector<Pixel> buffer(static_cast<std::size_t>(W) * H, 0xFF000000u);
    wishwell::Surface surface{buffer.data(), W, H, W};
    wishwell::Workspace work;
    std::vector<wishwell::Area> drawn;
    double drawing = 0, clearing = 0, pixels = 0;
    for (int frame = 0; frame < frames + 10; ++frame) {
        const double t = 1.0 + frame / 30.0;
        const double clearStart = processorMilliseconds();
        wishwell::fillAreas(surface, drawn, 0xFF000000u);
        drawn.clear();
        const double start = processorMilliseconds();
        double area = 0;
        for (int j = 0; j < 12; ++j) {
            const wishwell::Size size = wishwell::drawnSize(420, page.heights[j], W, H, false, 12);
            const std::uint32_t seed = wishwell::seedOf("bench-" + std::to_string(j));
            for (const int copy : {2, 1, 0}) {
                const wishwell::Pose pose =
                    wishwell::pose(seed, t, copy, false, j, 12, W, H, size.width, size.height);
                drawn.push_back(wishwell::drawImage(
                    surface, page.images[j],
                    {pose.x, pose.y, pose.scale, pose.rotation, size.width, size.height},
                    pose.opacity, work));
                area += size.width * size.height * pose.scale * pose.scale;
            }
        }
        const double end = processorMilliseconds();
        if (frame < 10) continue; // the caches and the workspace settle first
        clearing += start - clearStart;
        drawing += end - start;
        pixels += area;
    }
    return {(drawing + clearing) / frames, drawing * 1e6 / pixels, clearing / (drawing + clearing)};
}

// A row of the table; ratio is the frame's time over the AVX2 kernel's, 0 for the AVX2 row.
void report(const std::string& page, const Figures& f, double target, double ratio) {
    std::printf("%-22s frame %6.2f ms of processor time (target <= %.0f ms, ratio %.2f), "
                "%5.2f ns per pixel drawn, clearing %4.1f %% of a frame",
                page.c_str(), f.frame, target, f.frame / target, f.perPixel, 100 * f.clearing);
    if (ratio > 0) std::printf(", %.2f x AVX2", ratio);
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv) {
    using wishwell::Kernel;
    const int frames = std::max(30, argc > 1 ? std::atoi(argv[1]) : 150);
    std::printf("Compositor at 1920 x 1080, 12 images x 3 copies, %d frames; the processor runs "
                "AVX2 %s, SSE4.1 %s\n",
                frames, wishwell::processorRuns(Kernel::avx2) ? "yes" : "no",
                wishwell::processorRuns(Kernel::sse41) ? "yes" : "no");
    // A frame's budget on one core: 15 % and 40 % of the 33 ms frame period, the shares the
    // whole screensaver is held to with each page, less a fifth left for the rest of a frame.
    const struct {
        const char* name;
        const char* shortName;
        int lines;
        double target;
    } pages[] = {{"sample-like page", "sample-like", 2, 4}, {"long texts", "long texts", 9, 10.7}};
    // Every kernel's rows, the AVX2 one unlabelled, each page's in one go so that they share the
    // machine's state.
    const struct {
        Kernel kernel;
        const char* label;
    } kernels[] = {{Kernel::avx2, ""}, {Kernel::sse41, "SSE4.1"}, {Kernel::sse2, "SSE2"}};
    for (const auto& page : pages) {
        const Page images = pageOf(page.lines);
        double avx2 = 0;
        for (const auto& k : kernels) {
            if (!wishwell::processorRuns(k.kernel)) continue;
            wishwell::kernel = k.kernel;
            const Figures figures = measure(images, frames);
            if (k.kernel == Kernel::avx2) {
                avx2 = figures.frame;
                report(page.name, figures, page.target, 0);
            } else {
                report(std::string(page.shortName) + ", " + k.label, figures, page.target,
                       avx2 > 0 ? figures.frame / avx2 : 0);
            }
        }
    }
    return 0;
}
