// The compositor: images placed, turned, shrunk and faded onto a frame.

#include "compositor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

using wishwell::Area;
using wishwell::Pixel;
using wishwell::Placement;

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<Pixel> pixels;
    wishwell::Surface surface() { return {pixels.data(), width, height, width}; }
    Pixel at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

Picture blank(int width, int height, Pixel colour = 0) {
    return {width, height, std::vector<Pixel>(static_cast<std::size_t>(width) * height, colour)};
}

int channel(Pixel pixel, int k) {
    return static_cast<int>((pixel >> (8 * k)) & 0xFF);
}

// Fine detail of every kind: single-pixel lines across and down, a one-pixel checkerboard, rings
// that get closer towards the edge, and half-transparent colour; an odd number of columns.
Picture detailed() {
    Picture image = blank(65, 48);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            Pixel& p = image.pixels[static_cast<std::size_t>(y) * image.width + x];
            if (x < 16)
                p = x % 2 ? 0xFFFFFFFFu : 0;
            else if (x < 32)
                p = y % 3 == 0 ? 0xFFFFC000u : 0;
            else if (y < 24)
                p = (x + y) % 2 ? 0x80008080u : 0;
            else
                p = static_cast<int>(std::hypot(x - 48, y - 36) * std::hypot(x - 48, y - 36) / 6) %
                            2
                        ? 0xFF3060FFu
                        : 0;
        }
    return image;
}

// The truth a drawing should come close to: each frame pixel the average of the image over the
// square it covers. Across the square the average is exact: the square is cut into rows, and
// along each row the length inside every image pixel is measured. There are enough rows for
// several to fall on every image pixel. Only the pixels within are worked out, all where it is
// empty; the rest stay zero.
std::vector<double> truthOf(const Picture& image, const Placement& at, int width, int height,
                            Area within = {}) {
    if (wishwell::isEmpty(within)) within = {0, 0, width, height};
    const int rows = std::max(16, static_cast<int>(std::ceil(8 / at.scale)));
    const double turn = at.rotation * std::numbers::pi / 180;
    const double c = std::cos(turn), s = std::sin(turn);
    const double kx = at.scale * at.width / image.width, ky = at.scale * at.height / image.height;
    // Along a row of the frame, u and v move by du and dv for each frame pixel.
    const double du = c / kx, dv = -s / ky;
    std::vector<double> truth(static_cast<std::size_t>(width) * height * 4, 0.0);
    for (int Y = within.top; Y < within.bottom; ++Y)
        for (int row = 0; row < rows; ++row) {
            const double dy = Y + (row + 0.5) / rows - at.y;
            for (int X = within.left; X < within.right; ++X) {
                const double dx = X - at.x;
                double u = image.width / 2.0 + (c * dx + s * dy) / kx;
                double v = image.height / 2.0 + (c * dy - s * dx) / ky;
                double* sums = &truth[(static_cast<std::size_t>(Y) * width + X) * 4];
                // From one image pixel's edge to the next, the walk along the row sums each
                // pixel's value times the share of the row inside it.
                int iu = static_cast<int>(std::floor(u)), iv = static_cast<int>(std::floor(v));
                const auto edge = [](double from, int cell, double d) {
                    if (d == 0) return 2.0;
                    return ((d > 0 ? cell + 1 : cell) - from) / d;
                };
                double nextU = edge(u, iu, du), nextV = edge(v, iv, dv);
                for (double t = 0; t < 1;) {
                    const double until = std::min({nextU, nextV, 1.0});
                    if (iu >= 0 && iv >= 0 && iu < image.width && iv < image.height) {
                        const Pixel p = image.at(iu, iv);
                        for (int k = 0; k < 4; ++k)
                            sums[k] += channel(p, k) * (until - t) / rows;
                    }
                    t = until;
                    if (nextU <= nextV) {
                        iu += du > 0 ? 1 : -1;
                        nextU += std::abs(1 / du);
                    } else {
                        iv += dv > 0 ? 1 : -1;
                        nextV += std::abs(1 / dv);
                    }
                }
            }
        }
    return truth;
}

// Every kernel, named as a failure names it; the tests skip those the processor does not run.
const struct {
    wishwell::Kernel kernel;
    const char* name;
} kernels[] = {{wishwell::Kernel::sse2, "SSE2"},
               {wishwell::Kernel::sse41, "SSE4.1"},
               {wishwell::Kernel::avx2, "AVX2"}};

// drawImage's kernel for the scope of a test's case.
class KernelInUse {
public:
    explicit KernelInUse(wishwell::Kernel kernel) { wishwell::kernel = kernel; }
    ~KernelInUse() { wishwell::kernel = chosen; }
    KernelInUse(const KernelInUse&) = delete;
    KernelInUse& operator=(const KernelInUse&) = delete;

private:
    wishwell::Kernel chosen = wishwell::kernel;
};

bool inside(const Area& area, int x, int y) {
    return x >= area.left && x < area.right && y >= area.top && y < area.bottom;
}

TEST(Compositor, ShrinksCloseToTheTrueAverageAtEveryScaleAndTurn) {
    // The root-mean-square error over the frame, in levels of 255, must stay small at every scale
    // from a tenth to the full size, and change little from one scale to the next: no shimmer,
    // no step. Unfiltered sampling misses both by far (errors near 40 levels, steps near 12).
    // The screensaver turns its images by up to 12 degrees; a turn of 30 degrees strains the
    // two one-dimensional passes more, and one beyond 45 degrees is drawn another way.
    // Every kernel the processor runs is held to it.
    const struct {
        double turn;
        double most;
        double step;
    } cases[] = {{0, 5, 1.5}, {7, 5, 1.5}, {-12, 5, 1.5}, {30, 12, 2}, {100, 6, 1.5}};
    Picture image = detailed();
    const wishwell::PreparedImage prepared =
        wishwell::prepareImage(image.pixels.data(), image.width, image.height, image.width);
    wishwell::Workspace work;
    for (const auto& k : kernels)
        for (const auto& c : cases) {
            if (!wishwell::processorRuns(k.kernel)) continue;
            const KernelInUse use(k.kernel);
            SCOPED_TRACE(testing::Message() << k.name << ", turn " << c.turn);
            double last = -1;
            for (int percent = 10; percent <= 100; ++percent) {
                SCOPED_TRACE(testing::Message() << "scale " << percent << " %");
                const double scale = percent / 100.0;
                const int side = static_cast<int>(std::ceil(82 * scale)) + 6;
                Picture frame = blank(side, side);
                const Placement at = {side / 2.0 + 0.37, side / 2.0 - 0.21, scale, c.turn, 64, 48};
                wishwell::Surface surface = frame.surface();
                const Area drawn = wishwell::drawImage(surface, prepared, at, 1.0, work);
                const std::vector<double> truth = truthOf(image, at, side, side);
                double squares = 0;
                for (int y = 0; y < side; ++y)
                    for (int x = 0; x < side; ++x) {
                        const Pixel p = frame.at(x, y);
                        if (p != 0) {
                            ASSERT_TRUE(inside(drawn, x, y)) << x << ", " << y;
                        }
                        for (int k = 0; k < 4; ++k) {
                            const double d =
                                channel(p, k) -
                                truth[(static_cast<std::size_t>(y) * side + x) * 4 + k];
                            squares += d * d;
                        }
                    }
                const double error = std::sqrt(squares / (side * side * 4.0));
                EXPECT_LT(error, c.most);
                if (last >= 0) {
                    EXPECT_LT(std::abs(error - last), c.step);
                }
                last = error;
            }
        }
}

TEST(Compositor, EveryKernelDrawsEveryPartOfAWideFrameAsTheOthersDo) {
    // Copies all over a frame wider than tall, and partly off each of its edges, at sizes that
    // take four and eight footprints from a window, turned both ways and faded: each close to
    // its true average, inside the area drawImage returns for it, and every kernel within a
    // level of the others. A frame as tall as wide would hide a width taken for a height.
    constexpr int width = 440, height = 196, across = 8, down = 5;
    Picture image = detailed();
    const wishwell::PreparedImage prepared =
        wishwell::prepareImage(image.pixels.data(), image.width, image.height, image.width);
    wishwell::Workspace work;
    struct Copy {
        Placement at;
        double opacity;
        Area around; // where it lies, apart from every other
    };
    std::vector<Copy> copies;
    for (int j = 0; j < down; ++j)
        for (int i = 0; i < across; ++i) {
            const int k = j * across + i;
            const double scale = 0.45 + 0.05 * ((i + j) % 8); // from 0.45 to 0.8
            const Placement at = {-8 + 64.0 * i + 0.1 * (k % 5),
                                  -6 + 52.0 * j + 0.13 * (k % 7),
                                  scale,
                                  -12 + 3.0 * (k % 9),
                                  64,
                                  48};
            const double opacity = 1 - 0.15 * (k % 5);
            copies.push_back({at, opacity,
                              wishwell::clip({-40 + 64 * i, -32 + 52 * j, 24 + 64 * i, 20 + 52 * j},
                                             width, height)});
        }
    std::vector<std::vector<Pixel>> frames;
    std::vector<const char*> names;
    for (const auto& k : kernels) {
        if (!wishwell::processorRuns(k.kernel)) continue;
        const KernelInUse use(k.kernel);
        SCOPED_TRACE(k.name);
        Picture frame = blank(width, height);
        wishwell::Surface surface = frame.surface();
        for (std::size_t n = 0; n < copies.size(); ++n) {
            SCOPED_TRACE(testing::Message()
                         << "copy " << n << " at " << copies[n].at.x << ", " << copies[n].at.y);
            const Copy& copy = copies[n];
            const Area drawn = wishwell::drawImage(surface, prepared, copy.at, copy.opacity, work);
            const std::vector<double> truth = truthOf(image, copy.at, width, height, copy.around);
            double squares = 0;
            for (int y = copy.around.top; y < copy.around.bottom; ++y)
                for (int x = copy.around.left; x < copy.around.right; ++x) {
                    const Pixel p = frame.at(x, y);
                    if (p != 0) {
                        ASSERT_TRUE(inside(drawn, x, y)) << x << ", " << y;
                    }
                    for (int c = 0; c < 4; ++c) {
                        const double d =
                            channel(p, c) -
                            copy.opacity * truth[(static_cast<std::size_t>(y) * width + x) * 4 + c];
                        squares += d * d;
                    }
                }
            const double pixels = (copy.around.right - copy.around.left) *
                                  (copy.around.bottom - copy.around.top) * 4.0;
            EXPECT_LT(std::sqrt(squares / pixels), 5);
        }
        frames.push_back(frame.pixels);
        names.push_back(k.name);
    }
    for (std::size_t f = 1; f < frames.size(); ++f) {
        double squares = 0;
        for (std::size_t n = 0; n < frames[0].size(); ++n)
            for (int c = 0; c < 4; ++c) {
                const int d = channel(frames[f][n], c) - channel(frames[0][n], c);
                squares += d * d;
            }
        EXPECT_LE(std::sqrt(squares / (frames[0].size() * 4.0)), 1.0)
            << names[f] << " against " << names[0];
    }
}

TEST(Compositor, PlacesTurnsStacksAndFadesEachCopy) {
    // A white bar with a red tip at its right end.
    Picture bar = blank(40, 10, 0xFFFFFFFFu);
    for (int y = 0; y < 10; ++y)
        for (int x = 30; x < 40; ++x)
            bar.pixels[y * 40 + x] = 0xFFFF0000u;
    const auto prepared = wishwell::prepareImage(bar.pixels.data(), 40, 10, 40);
    wishwell::Workspace work;

    // Where the red lands, as its centre, and how much of it.
    struct Red {
        double x = 0, y = 0, amount = 0;
    };
    const auto redOf = [](const Picture& frame) {
        Red red;
        for (int y = 0; y < frame.height; ++y)
            for (int x = 0; x < frame.width; ++x) {
                const Pixel p = frame.at(x, y);
                const double r = std::max(0, channel(p, 2) - channel(p, 1));
                red.x += r * (x + 0.5);
                red.y += r * (y + 0.5);
                red.amount += r;
            }
        red.x /= red.amount;
        red.y /= red.amount;
        return red;
    };

    // Every kernel the processor runs, each alike.
    for (const auto& k : kernels) {
        if (!wishwell::processorRuns(k.kernel)) continue;
        const KernelInUse use(k.kernel);
        SCOPED_TRACE(k.name);
        // Placed at its centre, and drawn at half its size.
        Picture frame = blank(100, 80);
        wishwell::Surface surface = frame.surface();
        const Area drawn =
            wishwell::drawImage(surface, prepared, {50.25, 40.25, 0.5, 0, 80, 20}, 1, work);
        EXPECT_LE(drawn.left, 30);
        EXPECT_GE(drawn.right, 71);
        int lit = 0;
        for (int x = 0; x < 100; ++x)
            lit += channel(frame.at(x, 40), 3) > 127;
        EXPECT_EQ(lit, 40);
        Red red = redOf(frame);
        EXPECT_NEAR(red.x, 50.25 + 15, 0.3); // the red's middle: 35 of the 40 pixels along
        EXPECT_NEAR(red.y, 40.25, 0.3);

        // A positive turn is clockwise on the screen: the right end goes down.
        for (const double turn : {30.0, -30.0, 120.0}) {
            SCOPED_TRACE(turn);
            frame = blank(100, 80);
            surface = frame.surface();
            wishwell::drawImage(surface, prepared, {50, 40, 1, turn, 40, 10}, 1, work);
            red = redOf(frame);
            const double angle = turn * std::numbers::pi / 180;
            EXPECT_NEAR(red.x, 50 + 15 * std::cos(angle), 0.5);
            EXPECT_NEAR(red.y, 40 + 15 * std::sin(angle), 0.5);
        }

        // Later copies lie over earlier ones, and a copy's alpha is scaled by its opacity.
        Picture green = blank(20, 20, 0xFF00FF00u);
        const auto greenImage = wishwell::prepareImage(green.pixels.data(), 20, 20, 20);
        frame = blank(60, 40, 0xFF000000u);
        surface = frame.surface();
        wishwell::drawImage(surface, greenImage, {20, 20, 1, 0, 20, 20}, 1, work);
        wishwell::drawImage(surface, prepared, {20, 20, 1, 0, 40, 10}, 1, work);
        EXPECT_EQ(frame.at(20, 20), 0xFFFFFFFFu);
        EXPECT_EQ(frame.at(20, 12), 0xFF00FF00u);
        // A quarter of green over grey, laid pixel for pixel and through the two passes: its colour
        // and its alpha both faded, so that three quarters of the grey remain.
        for (const double x : {45.0, 45.3}) {
            frame.pixels.assign(frame.pixels.size(), 0xFF808080u);
            wishwell::drawImage(surface, greenImage, {x, 20, 1, 0, 20, 20}, 0.25, work);
            EXPECT_EQ(frame.at(45, 20), 0xFF60A060u) << x;
        }
    }
}

TEST(Compositor, LaysAnImageOverPixelForPixelWhereverItLies) {
    // An image of every alpha, from none to full, laid at whole-pixel offsets inside and partly
    // off each edge of a surface wider than tall: each pixel it covers becomes source +
    // target (255 - alpha) / 255, rounded, and nothing else changes.
    Picture image = blank(7, 5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) {
            const int alpha = (x * 5 + y) * 255 / 34;
            image.pixels[y * 7 + x] = static_cast<Pixel>(alpha) << 24 |
                                      static_cast<Pixel>(alpha * x / 6) << 16 |
                                      static_cast<Pixel>(alpha / 2) << 8 | (y % 2 ? alpha : 0);
        }
    const struct {
        int left, top;
        Area area;
    } cases[] = {{3, 1, {3, 1, 10, 6}},  {-4, -2, {0, 0, 3, 3}}, {10, 3, {10, 3, 14, 8}},
                 {5, -3, {5, 0, 12, 2}}, {2, 6, {2, 6, 9, 8}},   {14, 0, {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.left << ", " << c.top);
        Picture frame = blank(14, 8);
        for (std::size_t n = 0; n < frame.pixels.size(); ++n)
            frame.pixels[n] = 0xFF000000u | static_cast<Pixel>(n * 0x030507u);
        const std::vector<Pixel> before = frame.pixels;
        wishwell::Surface surface = frame.surface();
        EXPECT_EQ(wishwell::layImage(surface, image.pixels.data(), 7, 5, 7, c.left, c.top), c.area);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 14; ++x) {
                const Pixel old = before[y * 14 + x];
                Pixel expected = old;
                if (x >= c.left && x < c.left + 7 && y >= c.top && y < c.top + 5) {
                    const Pixel s = image.at(x - c.left, y - c.top);
                    const int keep = 255 - static_cast<int>(s >> 24);
                    expected = 0;
                    for (int k = 0; k < 4; ++k)
                        expected |= static_cast<Pixel>(std::min(
                                        255, channel(s, k) + (channel(old, k) * keep + 127) / 255))
                                    << (8 * k);
                }
                EXPECT_EQ(frame.at(x, y), expected) << x << ", " << y;
            }
    }
}

TEST(Compositor, DrawsNothingWhereThereIsNothingToDraw) {
    Picture image = detailed();
    const auto prepared = wishwell::prepareImage(image.pixels.data(), 64, 48, 64);
    const auto empty = wishwell::prepareImage(nullptr, 0, 0, 0);
    wishwell::Workspace work;
    const double nan = std::nan("");
    const struct {
        const char* name;
        const wishwell::PreparedImage& image;
        Placement at;
        double opacity;
    } cases[] = {{"no image", empty, {20, 20, 1, 0, 64, 48}, 1},
                 {"no opacity", prepared, {20, 20, 1, 0, 64, 48}, 0},
                 {"opacity not a number", prepared, {20, 20, 1, 0, 64, 48}, nan},
                 {"no size", prepared, {20, 20, 0, 0, 64, 48}, 1},
                 {"negative size", prepared, {20, 20, -1, 0, 64, 48}, 1},
                 {"place not a number", prepared, {nan, 20, 1, 0, 64, 48}, 1},
                 {"turn not a number", prepared, {20, 20, 1, nan, 64, 48}, 1},
                 {"off the frame", prepared, {-100, 20, 1, 0, 64, 48}, 1},
                 {"far off the frame", prepared, {1e300, -1e300, 1, 0, 64, 48}, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Picture frame = blank(50, 40, 0xFF000000u);
        wishwell::Surface surface = frame.surface();
        EXPECT_EQ(wishwell::drawImage(surface, c.image, c.at, c.opacity, work), Area{});
        EXPECT_TRUE(std::all_of(frame.pixels.begin(), frame.pixels.end(),
                                [](Pixel p) { return p == 0xFF000000u; }));
    }
}

// A GPU's levels: the image as it is, padded with transparency to powers of two, and each smaller
// level keeping the average ink of the one above it, down to 1 x 1.
TEST(Compositor, EveryMipLevelKeepsTheInkOfTheOneAbove) {
    const Picture image = detailed();
    const auto chain =
        wishwell::mipChain(wishwell::prepareImage(image.pixels.data(), 65, 48, image.width));
    ASSERT_EQ(chain.width, 128);
    ASSERT_EQ(chain.height, 64);
    ASSERT_EQ(chain.levels.size(), 8u);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 128; ++x)
            ASSERT_EQ(chain.levels[0][static_cast<std::size_t>(y) * 128 + x],
                      x < 65 && y < 48 ? image.at(x, y) : 0u)
                << x << ", " << y;
    for (std::size_t level = 1; level < chain.levels.size(); ++level)
        for (int k = 0; k < 4; ++k) {
            const auto meanOf = [&](std::size_t i) {
                double sum = 0;
                for (const Pixel p : chain.levels[i])
                    sum += channel(p, k);
                return sum / static_cast<double>(chain.levels[i].size());
            };
            // Each pixel rounds its average by at most half a level.
            EXPECT_NEAR(meanOf(level), meanOf(level - 1), 0.5)
                << "level " << level << ", channel " << k;
        }
    // A chain whose memory held a larger, opaque image, as every upload reuses it, holds the same.
    wishwell::MipChain reused{1, 1, std::vector(12, std::vector<Pixel>(9000, 0xFFFFFFFFu))};
    wishwell::fillMipChain(wishwell::prepareImage(image.pixels.data(), 65, 48, image.width),
                           reused);
    EXPECT_EQ(reused.levels, chain.levels);
}

} // namespace
