#include "motion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

using wishwell::Page;
using wishwell::Pose;

namespace {

// The seed written out from its definition, byte by byte.
std::uint32_t referenceSeed(const std::string& id) {
    std::uint32_t h = 2166136261u;
    for (unsigned char byte : id) h = (h ^ byte) * 16777619u;
    h = (h ^ (h >> 16)) * 0x85EBCA6Bu;
    h = (h ^ (h >> 13)) * 0xC2B2AE35u;
    return h ^ (h >> 16);
}

std::vector<std::uint64_t> indices(const Page& page) {
    return std::vector<std::uint64_t>(page.index, page.index + page.count);
}

std::vector<std::uint64_t> run(std::uint64_t start, std::uint64_t n) {
    std::vector<std::uint64_t> page;
    for (std::uint64_t i = 0; i < 12; ++i) page.push_back((start + i) % n);
    return page;
}

struct Fractions {
    double u;
    double v;
};

// u and v read back from a pose's centre, which runs from m + h_x to W - m - h_x.
Fractions fractionsOf(const Pose& pose, double W, double H, double w, double h) {
    const double theta = std::acos(-1.0) * pose.rotation / 180;
    const double margin = std::min(0.03 * W, 24.0);
    const double c = std::abs(std::cos(theta));
    const double s = std::abs(std::sin(theta));
    const double halfX = 0.5 * pose.scale * (w * c + h * s);
    const double halfY = 0.5 * pose.scale * (h * c + w * s);
    return {(pose.x - margin - halfX) / (W - 2 * (margin + halfX)),
            (pose.y - margin - halfY) / (H - 2 * (margin + halfY))};
}

} // namespace

TEST(Seed, FinalisedFnv1aOfTheIdBytes) {
    // Bytes above 0x7F hash unsigned; the id's length, not a NUL, bounds the hash.
    const struct {
        std::string id;
        std::uint32_t seed;
    } cases[] = {
        {"", 0xAB3E7C0Bu},
        {"a", 0x1A80B1B3u},
        {"I believe in myself.", 0x735D4DFCu},
        {"3f2b8c1e-6d4a-4e7b-9a1f-0c5d2e8b7a64", 0xB5B34350u},
        {"\xC3\xA9t\xC3\xA9", 0xA17D532Du},
        {std::string("a\0b", 3), referenceSeed(std::string("a\0b", 3))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(referenceSeed(c.id), c.seed);
        EXPECT_EQ(wishwell::seedOf(c.id), c.seed);
    }
    EXPECT_NE(wishwell::seedOf(std::string("a\0b", 3)), wishwell::seedOf("a"));
}

TEST(Page, WorkedExamplesAdvanceTwelveItemsEvery34Seconds) {
    const struct {
        std::uint64_t n;
        std::vector<std::uint64_t> starts; // of pages 0, 1, 2, ...
    } cases[] = {
        {13, {0, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0}},
        {30, {0, 12, 24, 6, 18, 0, 12}},
        {24, {0, 12, 0, 12}},
    };
    for (const auto& c : cases) {
        for (std::size_t p = 0; p < c.starts.size(); ++p) {
            SCOPED_TRACE(testing::Message() << c.n << " items, page " << p);
            const double middle = 34.0 * p + 10;
            EXPECT_EQ(indices(wishwell::pageAt(middle, c.n)), run(c.starts[p], c.n));
            // A page lasts from 34 p - 2 s up to just before 34 (p + 1) - 2 s.
            EXPECT_EQ(indices(wishwell::pageAt(34.0 * p - 2 + 1e-9, c.n)), run(c.starts[p], c.n));
            EXPECT_EQ(indices(wishwell::pageAt(34.0 * p + 31.999, c.n)), run(c.starts[p], c.n));
        }
    }
}

TEST(Page, TwentyItemsTurnAt32SecondsFadingOut) {
    EXPECT_EQ(indices(wishwell::pageAt(0, 20)), run(0, 20));
    EXPECT_EQ(wishwell::pageFade(0, 20), 1);
    EXPECT_EQ(indices(wishwell::pageAt(31.2, 20)), run(0, 20));
    EXPECT_NEAR(wishwell::pageFade(31.2, 20), 0.5, 1e-12);
    EXPECT_EQ(indices(wishwell::pageAt(32, 20)),
              (std::vector<std::uint64_t>{12, 13, 14, 15, 16, 17, 18, 19, 0, 1, 2, 3}));
    EXPECT_EQ(wishwell::pageFade(32, 20), 0);
}

TEST(Page, FadesInAndOutOverOnePointSixSeconds) {
    // Pairs of a time and the fade factor at that time.
    const double cases[] = {0,    1,    15,   1,    30.4,
                            1,    30.8, 0.75, 31.2, 0.5,
                            31.6, 0.25, 32,   0,    32.4,
                            0.25, 32.8, 0.5,  33.6, 1,
                            66,   0,    66.8, 0.5,  34.0 * 1000 + 15,
                            1};
    for (std::size_t i = 0; i < std::size(cases); i += 2) {
        SCOPED_TRACE(cases[i]);
        EXPECT_NEAR(wishwell::pageFade(cases[i], 13), cases[i + 1], 1e-9);
        EXPECT_NEAR(wishwell::pageFade(cases[i], 1000), cases[i + 1], 1e-9);
    }
}

TEST(Page, TwelveOrFewerNeverChangeOrFade) {
    for (std::uint64_t n = 1; n <= 12; ++n) {
        std::vector<std::uint64_t> all;
        for (std::uint64_t i = 0; i < n; ++i) all.push_back(i);
        for (double t : {0.0, 31.2, 32.0, 32.8, 1e6 + 32}) {
            SCOPED_TRACE(testing::Message() << n << " items at " << t << " s");
            EXPECT_EQ(indices(wishwell::pageAt(t, n)), all);
            EXPECT_EQ(wishwell::pageFade(t, n), 1);
        }
    }
    EXPECT_EQ(wishwell::pageAt(32, 0).count, 0u);
    EXPECT_EQ(wishwell::pageFade(32, 0), 1);
    // A clock outside its range shows the first page.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    for (double t : {-0.5, -5.0, -1e300, nan, infinity, -infinity}) {
        SCOPED_TRACE(t);
        EXPECT_EQ(indices(wishwell::pageAt(t, 20)), run(0, 20));
        EXPECT_EQ(wishwell::pageFade(t, 20), 1);
    }
}

TEST(Page, HugePageNumbersAndCollectionsWrapExactly) {
    // Page 2^62 of 2^64 - 1 items starts at 12 * 2^62 = 3 * 2^64, which is 3 modulo 2^64 - 1.
    const std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(indices(wishwell::pageAt(34 * std::ldexp(1.0, 62), most)), run(3, most));
    // Pages beyond 2^64 stay on the last page number instead of an undefined conversion.
    const std::uint64_t last =
        static_cast<std::uint64_t>((static_cast<unsigned __int128>(12) * most) % 20);
    EXPECT_EQ(indices(wishwell::pageAt(1e300, 20)), run(last, 20));
    // A page that runs past index 2^64 - 1 wraps to the collection's start.
    const std::uint64_t n = most - 5;
    const Page page = wishwell::pageAt(34 * std::ldexp(1.0, 62), n);
    ASSERT_EQ(page.count, 12u);
    const std::uint64_t start = static_cast<std::uint64_t>(
        (static_cast<unsigned __int128>(12) * (std::uint64_t{1} << 62)) % n);
    for (std::uint64_t i = 0; i < 12; ++i)
        EXPECT_EQ(page.index[i],
                  static_cast<std::uint64_t>((static_cast<unsigned __int128>(start) + i) % n));
}

TEST(Page, EqualWhenLengthAndIndicesAgree) {
    EXPECT_EQ(wishwell::pageAt(0, 20), wishwell::pageAt(31.9, 20));
    EXPECT_FALSE(wishwell::pageAt(0, 20) == wishwell::pageAt(32, 20));
    EXPECT_FALSE(wishwell::pageAt(0, 5) == wishwell::pageAt(0, 6));
    Page a{};
    Page b{};
    a.count = b.count = 2;
    a.index[2] = 7; // beyond the page: not compared
    EXPECT_EQ(a, b);
    b.index[1] = 1;
    EXPECT_FALSE(a == b);
}

TEST(DrawnSize, TargetWidthKeepsTheAspectUnderTheHeightLimit) {
    const struct {
        const char* name;
        double spriteHeight, W, H, w, h;
    } cases[] = {
        {"capped at 420", 300, 1920, 1080, 420, 300},
        {"0.3 of a narrow window", 300, 1000, 1080, 300, 300 * 300 / 420.0},
        {"0.53 of a low window", 300, 1920, 500, 265, 265 * 300 / 420.0},
        {"tall image within the limit", 1100, 600, 1080, 180, 180 * 1100 / 420.0},
        {"tall image down to 0.52 H", 1100, 1920, 1080, 420 * 561.6 / 1100, 561.6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const wishwell::Size size = wishwell::drawnSize(420, c.spriteHeight, c.W, c.H, false, 12);
        EXPECT_NEAR(size.width, c.w, 1e-9);
        EXPECT_NEAR(size.height, c.h, 1e-9);
    }
    const wishwell::Size tall = wishwell::drawnSize(420, 1100, 1920, 1080, false, 1);
    EXPECT_EQ(tall.height, 0.52 * 1080);
    EXPECT_DOUBLE_EQ(tall.width / tall.height, 420 / 1100.0);
}

TEST(DrawnSize, ReducedMotionShrinksToTheGridCellButNeverEnlarges) {
    // 1920 x 1080: one intention has a cell of 806.4 x 864, twelve 5 x 3 cells of 322.56 x 288.
    const struct {
        const char* name;
        std::uint64_t pageLength;
        double spriteHeight, w, h;
    } cases[] = {
        {"one intention keeps its size", 1, 300, 420, 300},
        {"twelve narrowed to the cell width", 12, 300, 322.56, 322.56 * 300 / 420},
        {"twelve tall ones lowered to the cell height", 12, 1100, 288 * 420 / 1100.0, 288},
        {"an empty page changes nothing", 0, 300, 420, 300},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const wishwell::Size size =
            wishwell::drawnSize(420, c.spriteHeight, 1920, 1080, true, c.pageLength);
        EXPECT_NEAR(size.width, c.w, 1e-9);
        EXPECT_NEAR(size.height, c.h, 1e-9);
        const wishwell::Size moving =
            wishwell::drawnSize(420, c.spriteHeight, 1920, 1080, false, c.pageLength);
        EXPECT_NEAR(moving.width / moving.height, size.width / size.height, 1e-12);
    }
}

TEST(Pose, DriftTurnAndBreathFollowTheSeed) {
    // Values computed separately from the motion's definition: seed, t, copy, W, H, w, h, then
    // the expected x, y, scale, rotation and opacity.
    const double cases[][12] = {
        {0, 0, 0, 1920, 1080, 420, 300, 960, 540, 0.82, 0, 0.88},
        {6282, 10, 0, 1920, 1080, 420, 300, 1391.0958973681777, 210.07822304089891,
         0.94663511262793854, 11.17930711301171, 0.98917480597399032},
        {0x9E3779B9, 123.456, 0, 1920, 1080, 420, 300, 1387.2820637874818, 208.5372528889377,
         0.76428332044974046, 7.5571112284947795, 0.85269630287445075},
        {0x9E3779B9, 123.456, 1, 1920, 1080, 420, 300, 1351.9500024614804, 200.77810683781053,
         0.74734253829468644, 8.6686039465680587, 0.2},
        {0x9E3779B9, 123.456, 2, 1920, 1080, 420, 300, 1315.1819332680345, 193.3375653530392,
         0.73156484491222218, 9.6426558869654251, 0.09},
        {12345, 3600.5, 0, 800, 600, 240, 240 * 300 / 420.0, 146.91397454198093, 402.43549398424523,
         0.90382066710511311, -11.898470036874578, 0.82736187715707521},
    };
    for (const auto& c : cases) {
        const auto seed = static_cast<std::uint32_t>(c[0]);
        const int copy = static_cast<int>(c[2]);
        SCOPED_TRACE(testing::Message()
                     << "seed " << seed << " at " << c[1] << " s, copy " << copy);
        const Pose p = wishwell::pose(seed, c[1], copy, false, 0, 12, c[3], c[4], c[5], c[6]);
        EXPECT_NEAR(p.x, c[7], 1e-9);
        EXPECT_NEAR(p.y, c[8], 1e-9);
        EXPECT_NEAR(p.scale, c[9], 1e-12);
        EXPECT_NEAR(p.rotation, c[10], 1e-12);
        EXPECT_NEAR(p.opacity, c[11], 1e-12);
    }
}

TEST(Pose, EchoesLagByOnePointZeroFiveSecondsSmallerAndFainter) {
    // The echoes are drawn first; reduced motion draws only the intention.
    const wishwell::Copies moving = wishwell::copiesToDraw(false);
    ASSERT_EQ(moving.count, 3);
    EXPECT_EQ(std::vector<int>(moving.copy, moving.copy + 3), (std::vector<int>{2, 1, 0}));
    const wishwell::Copies still = wishwell::copiesToDraw(true);
    ASSERT_EQ(still.count, 1);
    EXPECT_EQ(still.copy[0], 0);
    const double W = 1920, H = 1080, w = 420, h = 300;
    const double opacities[] = {0, 0.2, 0.09};
    for (std::uint32_t seed : {0u, 6282u, 0x9E3779B9u, wishwell::seedOf("I believe in myself.")}) {
        for (double t : {0.0, 1.5, 47.25, 5000.0}) {
            for (int copy : {1, 2}) {
                SCOPED_TRACE(testing::Message()
                             << "seed " << seed << " at " << t << " s, copy " << copy);
                const double lag = copy == 1 ? 1.05 : 2.1;
                const Pose echo = wishwell::pose(seed, t, copy, false, 3, 12, W, H, w, h);
                const Pose earlier = wishwell::pose(seed, t - lag, 0, false, 3, 12, W, H, w, h);
                const Fractions e = fractionsOf(echo, W, H, w, h);
                const Fractions o = fractionsOf(earlier, W, H, w, h);
                EXPECT_NEAR(e.u, o.u, 1e-9);
                EXPECT_NEAR(e.v, o.v, 1e-9);
                EXPECT_NEAR(echo.rotation, earlier.rotation, 1e-12);
                EXPECT_NEAR(echo.scale, earlier.scale - 0.04 * copy, 1e-12);
                EXPECT_EQ(echo.opacity, opacities[copy]);
            }
        }
    }
}

TEST(Pose, ReducedMotionStandsStillOnTheGrid) {
    const struct {
        const char* name;
        std::uint64_t count;
        double W, H;
        std::vector<double> places; // u and v of positions 0, 1, ...
    } cases[] = {
        {"one on 1920 x 1080: 2 columns, 1 row", 1, 1920, 1080, {0, 0.5}},
        {"two side by side", 2, 1920, 1080, {0, 0.5, 1, 0.5}},
        {"five in 3 columns, 2 rows", 5, 1920, 1080, {0, 0, 0.5, 0, 1, 0, 0, 1, 0.5, 1}},
        {"twelve in 5 columns, 3 rows", 12, 1920, 1080, {0,    0,   0.25, 0,   0.5,  0,   0.75, 0,
                                                         1,    0,   0,    0.5, 0.25, 0.5, 0.5,  0.5,
                                                         0.75, 0.5, 1,    0.5, 0,    1,   0.25, 1}},
        {"one on a portrait window: 1 column, centred", 1, 1080, 1920, {0.5, 0.5}},
        {"two on a tall window: 1 column, 2 rows", 2, 500, 1000, {0.5, 0, 0.5, 1}},
    };
    for (const auto& c : cases) {
        const wishwell::Size size = wishwell::drawnSize(420, 300, c.W, c.H, true, c.count);
        for (std::uint64_t j = 0; j < c.count; ++j) {
            SCOPED_TRACE(testing::Message() << c.name << ", position " << j);
            for (double t : {0.0, 31.2, 1234.5}) {
                const Pose p = wishwell::pose(0x9E3779B9, t, 0, true, j, c.count, c.W, c.H,
                                              size.width, size.height);
                EXPECT_EQ(p.rotation, 0);
                EXPECT_EQ(p.scale, 1);
                EXPECT_EQ(p.opacity, 1);
                const Fractions f = fractionsOf(p, c.W, c.H, size.width, size.height);
                EXPECT_NEAR(f.u, c.places[2 * j], 1e-12);
                EXPECT_NEAR(f.v, c.places[2 * j + 1], 1e-12);
            }
        }
    }
}

TEST(Pose, CentreKeepsTheMarginAndStaysThereWhenTooLarge) {
    // Unturned and unscaled (reduced motion); the margin is 0.03 W, at most 24, on both axes.
    const struct {
        const char* name;
        double W, H;
        std::uint64_t count, index;
        double w, h, x, y;
    } cases[] = {
        {"left margin, 24 on a wide window", 1920, 1080, 1, 0, 420, 300, 24 + 210, 540},
        {"right margin", 1920, 1080, 2, 1, 420, 300, 1920 - 24 - 210, 540},
        {"bottom margin, 0.03 W", 500, 1000, 2, 1, 420, 300, 250, 1000 - 15 - 150},
        {"0.03 W on a small window", 400, 300, 2, 0, 120, 90, 12 + 60, 150},
        {"too large: centre at the margin", 100, 80, 1, 0, 420, 300, 3 + 210, 3 + 150},
        {"too large at the right: still at the margin", 100, 80, 2, 1, 420, 300, 213, 153},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Pose p = wishwell::pose(7, 10, 0, true, c.index, c.count, c.W, c.H, c.w, c.h);
        EXPECT_NEAR(p.x, c.x, 1e-9);
        EXPECT_NEAR(p.y, c.y, 1e-9);
    }
    // Too large for its window: the turned bounding box's half extents from the margin.
    for (double t : {0.0, 7.0, 19.5, 33.0, 400.0}) {
        SCOPED_TRACE(t);
        const Pose p = wishwell::pose(6282, t, 0, false, 0, 12, 100, 80, 420, 300);
        const double theta = std::acos(-1.0) * p.rotation / 180;
        const double c = std::abs(std::cos(theta));
        const double s = std::abs(std::sin(theta));
        EXPECT_NEAR(p.x, 3 + 0.5 * p.scale * (420 * c + 300 * s), 1e-9);
        EXPECT_NEAR(p.y, 3 + 0.5 * p.scale * (300 * c + 420 * s), 1e-9);
    }
}

TEST(Pose, OddInputsGiveFiniteResults) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    const Pose atStart = wishwell::pose(6282, 0, 0, false, 0, 12, 1920, 1080, 420, 300);
    for (double t : {nan, infinity, -infinity}) {
        SCOPED_TRACE(t);
        const Pose p = wishwell::pose(6282, t, 0, false, 0, 12, 1920, 1080, 420, 300);
        EXPECT_EQ(p.x, atStart.x);
        EXPECT_EQ(p.y, atStart.y);
        EXPECT_EQ(p.opacity, atStart.opacity);
    }
    // There are only two echoes: any other copy number is invisible.
    EXPECT_EQ(wishwell::pose(1, 5, 3, false, 0, 12, 1920, 1080, 420, 300).opacity, 0);
    EXPECT_EQ(wishwell::pose(1, 5, -1, false, 0, 12, 1920, 1080, 420, 300).opacity, 0);
    // A window under a pixel high counts as one: 2 x 0.5 has 2 columns (not 3) for two.
    const Pose low = wishwell::pose(1, 5, 0, true, 1, 2, 2, 0.5, 0.1, 0.1);
    EXPECT_NEAR(low.x, 2 - 0.06 - 0.05, 1e-12);
    // An empty page has one cell, in the middle.
    const Pose alone = wishwell::pose(1, 5, 0, true, 0, 0, 1920, 1080, 420, 300);
    EXPECT_EQ(alone.x, 960);
    EXPECT_EQ(alone.y, 540);
    // A window of no height and a negative width still give a grid.
    for (const Pose& p : {wishwell::pose(1, 5, 0, true, 0, 1, 1920, 0, 420, 300),
                          wishwell::pose(1, 5, 0, true, 3, 12, -1920, 1080, 420, 300)}) {
        EXPECT_TRUE(std::isfinite(p.x));
        EXPECT_TRUE(std::isfinite(p.y));
    }
}
