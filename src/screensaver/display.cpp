// The display window: its per-window record, the frame clock, the composition of each frame into
// an off-screen buffer, the hidden cursor, and the end of the screensaver on user input.
//
// Frames are composed by the program itself into a DIB section and shown with one BitBlt. Wine's
// GDI+ resamples every transformed image pixel by pixel through generic code (about 190 ms for
// the 36 images of a 1920 x 1080 frame, whatever the surface), so the images are placed here with
// the same world transform (translate, rotate, scale about the centre), the same fade of the
// alpha channel that the colour matrix applies, and bicubic interpolation, prefiltered by halving
// when an image is shrunk to less than half its size.

#include "screensaver.h"

#include "motion.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <exception>
#include <functional>
#include <numbers>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

constexpr UINT_PTR frameTimer = 1;
constexpr UINT framePeriod = 33;      // ms, about 30 frames a second
constexpr ULONGLONG inputGrace = 801; // ms in which a mouse move or deactivation is ignored
constexpr LONG mouseSlack = 5;        // pixels a mouse may drift without ending the run

// ---- Image placement ---------------------------------------------------------------------------

// An image's premultiplied ARGB pixels, read in place.
struct Image {
    const std::uint8_t* bits = nullptr;
    int stride = 0;
    int width = 0;
    int height = 0;
    double scale = 1; // its pixels per sprite pixel: 1, or 1/2 for each halving
};

// A halved copy of an image, for drawing it at less than half its size without aliasing.
struct Halved {
    std::vector<std::uint32_t> pixels;
    Image image;
};

Halved halve(const Image& from) {
    Halved result;
    const int width = (from.width + 1) / 2;
    const int height = (from.height + 1) / 2;
    result.pixels.resize(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        const int y0 = 2 * y;
        const int y1 = std::min(2 * y + 1, from.height - 1);
        const auto* row0 = reinterpret_cast<const std::uint32_t*>(from.bits + y0 * from.stride);
        const auto* row1 = reinterpret_cast<const std::uint32_t*>(from.bits + y1 * from.stride);
        for (int x = 0; x < width; ++x) {
            const int x0 = 2 * x;
            const int x1 = std::min(2 * x + 1, from.width - 1);
            const std::uint32_t p[4] = {row0[x0], row0[x1], row1[x0], row1[x1]};
            std::uint32_t out = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                std::uint32_t sum = 2;
                for (std::uint32_t c : p)
                    sum += (c >> shift) & 0xFF;
                out |= (sum / 4) << shift;
            }
            result.pixels[static_cast<std::size_t>(y) * width + x] = out;
        }
    }
    result.image = {reinterpret_cast<const std::uint8_t*>(result.pixels.data()), width * 4, width,
                    height, from.scale / 2};
    return result;
}

// Which 8 x 8 cells of an image may contribute ink to a sample: a cell is marked when it or one
// of its neighbours holds a pixel that is not fully transparent. Most of a sprite is empty, and
// its empty cells are skipped without sampling.
struct Occupancy {
    int columns = 0;
    int rows = 0;
    std::vector<std::uint8_t> cells;
    // The pixels between which the image holds any ink, to the nearest cell; empty when right is
    // below left.
    int left = 0, top = 0, right = -1, bottom = -1;
    bool inked(int x, int y, int width, int height) const {
        const int cx = std::clamp(x, 0, width - 1) >> 3;
        const int cy = std::clamp(y, 0, height - 1) >> 3;
        return cells[static_cast<std::size_t>(cy) * columns + cx] != 0;
    }
};

Occupancy occupancyOf(const Image& image) {
    Occupancy result;
    result.columns = (image.width + 7) / 8;
    result.rows = (image.height + 7) / 8;
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(result.columns) * result.rows);
    for (int y = 0; y < image.height; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(image.bits + y * image.stride);
        std::uint8_t* cellRow = raw.data() + static_cast<std::size_t>(y >> 3) * result.columns;
        for (int cx = 0; cx < result.columns; ++cx) {
            if (cellRow[cx]) continue;
            const int end = std::min(image.width, cx * 8 + 8);
            std::uint32_t alpha = 0;
            for (int x = cx * 8; x < end; ++x)
                alpha |= row[x];
            if (alpha >> 24) cellRow[cx] = 1;
        }
    }
    result.cells.assign(raw.size(), 0);
    int firstColumn = result.columns, lastColumn = -1, firstRow = result.rows, lastRow = -1;
    for (int cy = 0; cy < result.rows; ++cy)
        for (int cx = 0; cx < result.columns; ++cx) {
            if (!raw[static_cast<std::size_t>(cy) * result.columns + cx]) continue;
            firstColumn = std::min(firstColumn, cx);
            lastColumn = std::max(lastColumn, cx);
            firstRow = std::min(firstRow, cy);
            lastRow = std::max(lastRow, cy);
            for (int ny = std::max(cy - 1, 0); ny <= std::min(cy + 1, result.rows - 1); ++ny)
                for (int nx = std::max(cx - 1, 0); nx <= std::min(cx + 1, result.columns - 1); ++nx)
                    result.cells[static_cast<std::size_t>(ny) * result.columns + nx] = 1;
        }
    if (lastColumn >= 0) {
        result.left = firstColumn * 8;
        result.right = std::min(image.width, lastColumn * 8 + 8) - 1;
        result.top = firstRow * 8;
        result.bottom = std::min(image.height, lastRow * 8 + 8) - 1;
    }
    return result;
}

// Keys' cubic convolution (a = -0.5) at 256 sub-pixel phases: the weights of the taps at -1, 0,
// 1 and 2, in 1/4096, paired for _mm_madd_epi16 as (w0, w1) and (w2, w3).
struct CubicTable {
    std::int32_t pairs[256][2];
    std::int16_t weights[256][4];
};

const CubicTable& cubicTable() {
    static const CubicTable table = [] {
        CubicTable t{};
        const auto kernel = [](double d) {
            d = std::abs(d);
            if (d <= 1) return 1.5 * d * d * d - 2.5 * d * d + 1;
            if (d < 2) return -0.5 * d * d * d + 2.5 * d * d - 4 * d + 2;
            return 0.0;
        };
        for (int phase = 0; phase < 256; ++phase) {
            const double f = phase / 256.0;
            int w[4];
            int sum = 0;
            for (int i = 0; i < 4; ++i) {
                w[i] = static_cast<int>(std::lround(kernel(f - (i - 1)) * 4096));
                sum += w[i];
            }
            w[f < 0.5 ? 1 : 2] += 4096 - sum; // the weights of every phase add up to exactly 1
            for (int i = 0; i < 4; ++i)
                t.weights[phase][i] = static_cast<std::int16_t>(w[i]);
            t.pairs[phase][0] =
                static_cast<std::int32_t>((static_cast<std::uint32_t>(w[1]) << 16) |
                                          (static_cast<std::uint32_t>(w[0]) & 0xFFFF));
            t.pairs[phase][1] =
                static_cast<std::int32_t>((static_cast<std::uint32_t>(w[3]) << 16) |
                                          (static_cast<std::uint32_t>(w[2]) & 0xFFFF));
        }
        return t;
    }();
    return table;
}

// Four adjacent pixels weighted horizontally: four channel sums in 1/4096.
inline __m128i horizontal(const std::uint8_t* pixels, __m128i w01, __m128i w23) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels));
    const __m128i t = _mm_shuffle_epi32(v, _MM_SHUFFLE(3, 1, 2, 0));   // p0 p2 p1 p3
    const __m128i paired = _mm_unpacklo_epi8(t, _mm_srli_si128(t, 8)); // p0/p1, p2/p3 by channel
    const __m128i low = _mm_unpacklo_epi8(paired, zero);
    const __m128i high = _mm_unpackhi_epi8(paired, zero);
    return _mm_add_epi32(_mm_madd_epi16(low, w01), _mm_madd_epi16(high, w23));
}

// One bicubic sample from the 4 x 4 pixels at rows[0..3], the vertical weights already scaled by
// the copy's opacity. Returns a premultiplied pixel.
inline __m128i sample(const std::uint8_t* const rows[4], __m128i w01, __m128i w23, __m128i v01,
                      __m128i v23) {
    const __m128i r0 = _mm_srai_epi32(horizontal(rows[0], w01, w23), 6);
    const __m128i r1 = _mm_srai_epi32(horizontal(rows[1], w01, w23), 6);
    const __m128i r2 = _mm_srai_epi32(horizontal(rows[2], w01, w23), 6);
    const __m128i r3 = _mm_srai_epi32(horizontal(rows[3], w01, w23), 6);
    const __m128i a = _mm_packs_epi32(r0, r2);
    const __m128i b = _mm_packs_epi32(r1, r3);
    __m128i sum = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a, b), v01),
                                _mm_madd_epi16(_mm_unpackhi_epi16(a, b), v23));
    sum = _mm_srai_epi32(_mm_add_epi32(sum, _mm_set1_epi32(1 << 17)), 18);
    const __m128i words = _mm_packs_epi32(sum, sum);
    return _mm_packus_epi16(words, words);
}

// Source-over of a premultiplied pixel onto an opaque one.
inline void blend(std::uint32_t* target, __m128i source) {
    std::uint32_t s = static_cast<std::uint32_t>(_mm_cvtsi128_si32(source));
    const std::uint32_t alpha = s >> 24;
    if (alpha == 0) return;
    // Bicubic overshoot can leave a colour above its alpha; a premultiplied colour never is.
    source = _mm_min_epu8(source, _mm_set1_epi8(static_cast<char>(alpha)));
    if (alpha == 255) {
        *target = static_cast<std::uint32_t>(_mm_cvtsi128_si32(source));
        return;
    }
    const __m128i zero = _mm_setzero_si128();
    const __m128i d = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(*target)), zero);
    __m128i m = _mm_mullo_epi16(d, _mm_set1_epi16(static_cast<short>(255 - alpha)));
    m = _mm_add_epi16(m, _mm_set1_epi16(128));
    m = _mm_srli_epi16(_mm_add_epi16(m, _mm_srli_epi16(m, 8)), 8);
    const __m128i out = _mm_adds_epu8(source, _mm_packus_epi16(m, m));
    *target = static_cast<std::uint32_t>(_mm_cvtsi128_si32(out));
}

// Where one copy of an image goes: its rectangle of drawn size w x h, scaled by scale, turned by
// rotation degrees (clockwise on screen) about its centre, and centred on (x, y).
struct Placement {
    double x, y, scale, rotation, w, h;
};

// Where one copy of a sprite goes in a frame, with the level of halving to sample.
struct PlannedCopy {
    const Image* image;
    const Occupancy* occupancy;
    double spriteWidth;
    double spriteHeight;
    Placement at;
    double opacity;
};

// The device pixels a copy can touch: its turned rectangle with room for the kernel's reach,
// clipped to the target.
struct DeviceBounds {
    int left, top, right, bottom;
};

DeviceBounds deviceBounds(const Placement& at, int width, int height) {
    const double theta = at.rotation * std::numbers::pi / 180;
    const double c = std::abs(std::cos(theta));
    const double s = std::abs(std::sin(theta));
    const double hx = 0.5 * at.scale * (at.w * c + at.h * s) + 3;
    const double hy = 0.5 * at.scale * (at.h * c + at.w * s) + 3;
    return {std::max(0, static_cast<int>(std::floor(at.x - hx))),
            std::max(0, static_cast<int>(std::floor(at.y - hy))),
            std::min(width, static_cast<int>(std::ceil(at.x + hx))),
            std::min(height, static_cast<int>(std::ceil(at.y + hy)))};
}

// Draws one copy of a sprite of spriteWidth x spriteHeight, whose pixels at the chosen level of
// halving are image, with its alpha multiplied by opacity, into the target's rows from rowBegin
// to rowEnd.
void drawCopy(BackBuffer& target, const PlannedCopy& copy, int rowBegin, int rowEnd) {
    const Image& image = *copy.image;
    const Occupancy& occupancy = *copy.occupancy;
    const double spriteWidth = copy.spriteWidth;
    const double spriteHeight = copy.spriteHeight;
    const Placement& at = copy.at;
    const double opacity = copy.opacity;
    const int fade = static_cast<int>(std::lround(std::clamp(opacity, 0.0, 1.0) * 4096));
    if (fade == 0 || !(at.scale > 0) || !(at.w > 0) || !(at.h > 0)) return;
    if (image.width < 1 || image.height < 1 || occupancy.right < occupancy.left) return;

    const double theta = at.rotation * std::numbers::pi / 180;
    const double c = std::cos(theta);
    const double s = std::sin(theta);
    // The sample position in the level's pixels of the device pixel at (dx, dy) from the copy's
    // centre: the turn and scale undone, then the drawn rectangle mapped onto the sprite. It is
    // affine: fx = ax dx + bx dy + cx, fy = ay dx + by dy + cy. Pixels sit at whole coordinates
    // on both sides, as GDI+ places them when it draws a transformed image.
    const double acrossX = spriteWidth / (at.w * at.scale) * image.scale;
    const double acrossY = spriteHeight / (at.h * at.scale) * image.scale;
    const double ax = c * acrossX;
    const double bx = s * acrossX;
    const double ay = -s * acrossY;
    const double by = c * acrossY;
    // A halved pixel stands where the middle of the pixels it averages stood.
    const double cx = (spriteWidth * image.scale - (1 - image.scale)) / 2;
    const double cy = (spriteHeight * image.scale - (1 - image.scale)) / 2;

    const DeviceBounds bounds = deviceBounds(at, target.width, target.height);
    const int left = bounds.left, right = bounds.right;
    const int top = std::max(bounds.top, rowBegin);
    const int bottom = std::min(bounds.bottom, rowEnd);
    if (left >= right || top >= bottom) return;

    const CubicTable& table = cubicTable();
    std::int32_t vertical[256][2];
    for (int phase = 0; phase < 256; ++phase) {
        std::int16_t w[4];
        for (int i = 0; i < 4; ++i)
            w[i] = static_cast<std::int16_t>((table.weights[phase][i] * fade) >> 12);
        vertical[phase][0] = static_cast<std::int32_t>(
            (static_cast<std::uint32_t>(static_cast<std::uint16_t>(w[1])) << 16) |
            static_cast<std::uint16_t>(w[0]));
        vertical[phase][1] = static_cast<std::int32_t>(
            (static_cast<std::uint32_t>(static_cast<std::uint16_t>(w[3])) << 16) |
            static_cast<std::uint16_t>(w[2]));
    }

    // Positions in 16.16 fixed point, offset by 8 so that truncation floors them.
    constexpr double unit = 65536;
    constexpr double offset = 8;
    const std::int32_t stepX = static_cast<std::int32_t>(std::lround(ax * unit));
    const std::int32_t stepY = static_cast<std::int32_t>(std::lround(ay * unit));
    // Samples within the kernel's reach of the ink; the transparent rest is never visited.
    const double fromX = occupancy.left - 2, reachX = occupancy.right + 2;
    const double fromY = occupancy.top - 2, reachY = occupancy.bottom + 2;
    std::uint32_t window[16];
    const std::uint8_t* rows[4];

    for (int py = top; py < bottom; ++py) {
        const double dy = py - at.y;
        // fx and fy at device x = 0 of this row; along the row they change by ax and ay.
        const double fx0 = bx * dy + cx - ax * at.x;
        const double fy0 = by * dy + cy - ay * at.x;
        double from = left;
        double to = right;
        const auto limit = [&](double f0, double step, double least, double reach) {
            if (std::abs(step) < 1e-12) {
                if (f0 <= least || f0 >= reach) to = from;
                return;
            }
            double a = (least - f0) / step;
            double b = (reach - f0) / step;
            if (a > b) std::swap(a, b);
            from = std::max(from, std::floor(a));
            to = std::min(to, std::ceil(b) + 1);
        };
        limit(fx0, ax, fromX, reachX);
        limit(fy0, ay, fromY, reachY);
        if (from >= to) continue;
        const int first = static_cast<int>(from);
        const int last = static_cast<int>(to);
        std::int32_t fx =
            static_cast<std::int32_t>(std::lround((fx0 + ax * first + offset) * unit));
        std::int32_t fy =
            static_cast<std::int32_t>(std::lround((fy0 + ay * first + offset) * unit));
        std::uint32_t* out = target.pixels + static_cast<std::size_t>(py) * target.width;
        for (int px = first; px < last; ++px, fx += stepX, fy += stepY) {
            if (fx < 0 || fy < 0) continue;
            const int ix = (fx >> 16) - static_cast<int>(offset);
            const int iy = (fy >> 16) - static_cast<int>(offset);
            if (ix < -2 || ix > image.width || iy < -2 || iy > image.height) continue;
            if (!occupancy.inked(ix, iy, image.width, image.height)) continue;
            const int phaseX = (fx >> 8) & 0xFF;
            const int phaseY = (fy >> 8) & 0xFF;
            const __m128i w01 = _mm_set1_epi32(table.pairs[phaseX][0]);
            const __m128i w23 = _mm_set1_epi32(table.pairs[phaseX][1]);
            const __m128i v01 = _mm_set1_epi32(vertical[phaseY][0]);
            const __m128i v23 = _mm_set1_epi32(vertical[phaseY][1]);
            if (ix >= 1 && ix + 2 < image.width && iy >= 1 && iy + 2 < image.height) {
                const std::uint8_t* base = image.bits + (iy - 1) * image.stride + (ix - 1) * 4;
                for (int r = 0; r < 4; ++r)
                    rows[r] = base + r * image.stride;
            } else {
                // Near the border the pixels outside the image are transparent.
                for (int r = 0; r < 4; ++r) {
                    const int y = iy - 1 + r;
                    for (int i = 0; i < 4; ++i) {
                        const int x = ix - 1 + i;
                        window[r * 4 + i] = x < 0 || y < 0 || x >= image.width || y >= image.height
                                                ? 0
                                                : reinterpret_cast<const std::uint32_t*>(
                                                      image.bits + y * image.stride)[x];
                    }
                    rows[r] = reinterpret_cast<const std::uint8_t*>(window + r * 4);
                }
            }
            blend(out + px, sample(rows, w01, w23, v01, v23));
        }
    }
}

// One sprite's pixels for a frame, and the halved copies its copies need.
struct SpritePixels {
    owners::LockedBits lock;
    Image full;
    Occupancy fullOccupancy;
    std::vector<Halved> levels;
    std::vector<Occupancy> levelOccupancy;

    explicit SpritePixels(GpBitmap* bitmap) : lock(bitmap) {
        // The planned copies point at the levels, so the vectors must never move them.
        levels.reserve(32);
        levelOccupancy.reserve(32);
        if (!lock.bits()) return;
        full = {lock.bits(), lock.stride(), lock.width(), lock.height(), 1};
        fullOccupancy = occupancyOf(full);
    }
    // The image to sample when the sprite is drawn at that fraction of its size.
    std::pair<const Image*, const Occupancy*> at(double fraction) {
        const Image* image = &full;
        const Occupancy* occupancy = &fullOccupancy;
        for (std::size_t level = 0; fraction < 0.5 && image->width > 1 && image->height > 1 &&
                                    level < levels.capacity();
             ++level, fraction *= 2) {
            if (level == levels.size()) {
                levels.push_back(halve(*image));
                levelOccupancy.push_back(occupancyOf(levels.back().image));
            }
            image = &levels[level].image;
            occupancy = &levelOccupancy[level];
        }
        return {image, occupancy};
    }
};

// ---- Frame composition -------------------------------------------------------------------------

std::unique_ptr<BackBuffer> makeBackBuffer(int width, int height) {
    auto buffer = std::make_unique<BackBuffer>();
    buffer->width = width;
    buffer->height = height;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    buffer->bitmap.reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0));
    if (!buffer->bitmap) return buffer;
    buffer->dc.reset(CreateCompatibleDC(nullptr));
    if (!buffer->dc) return buffer;
    SelectObject(buffer->dc.get(), buffer->bitmap.get());
    buffer->pixels = static_cast<std::uint32_t*>(pixels);
    return buffer;
}

bool samePage(const wishwell::Page& page, const std::vector<std::uint64_t>& shown) {
    if (page.count != shown.size()) return false;
    return std::equal(shown.begin(), shown.end(), page.index);
}

void rebuildSprites(ViewState& view, const wishwell::Collection& from, const wishwell::Page& page) {
    view.sprites.clear();
    std::vector<Sprite> built = buildPageSprites(from, page);
    for (std::size_t j = 0; j < page.count; ++j)
        view.sprites.insert_or_assign(page.index[j], std::move(built[j]));
    view.shown.assign(page.index, page.index + page.count);
}

// One side of alongside's work, run in the thread pool, and what it raised.
struct Alongside {
    const std::function<void()>* there;
    std::exception_ptr failure;
};

VOID CALLBACK runThere(PTP_CALLBACK_INSTANCE, PVOID context, PTP_WORK) {
    Alongside& job = *static_cast<Alongside*>(context);
    try {
        (*job.there)();
    } catch (...) {
        job.failure = std::current_exception();
    }
}

// Runs there in the thread pool while here runs on this thread, and returns when both are done;
// a failure on either side is raised here. Without a work object both run here, in turn.
void alongside(const std::function<void()>& there, const std::function<void()>& here) {
    Alongside job{&there, nullptr};
    {
        // The owner waits for the pool's side before it closes the work object, on every way out.
        owners::ThreadpoolWork work(CreateThreadpoolWork(runThere, &job, nullptr));
        if (!work) {
            there();
            here();
            return;
        }
        SubmitThreadpoolWork(work.get());
        here();
    }
    if (job.failure) std::rethrow_exception(job.failure);
}

// Draws the copies into the target's rows from rowBegin to rowEnd.
void drawBand(BackBuffer& target, const std::vector<PlannedCopy>& copies, int rowBegin,
              int rowEnd) {
    for (const PlannedCopy& copy : copies)
        drawCopy(target, copy, rowBegin, rowEnd);
}

// The row that halves the frame's work, counted as the pixels of the copies' bounds in each row.
// Two bands of whole rows keep each sprite row that neighbouring target rows share in one core's
// cache, which rows taken in turn would not.
int middleOfTheWork(const std::vector<PlannedCopy>& copies, int width, int height) {
    std::vector<long long> change(static_cast<std::size_t>(height) + 1, 0);
    long long total = 0;
    for (const PlannedCopy& copy : copies) {
        const DeviceBounds bounds = deviceBounds(copy.at, width, height);
        if (bounds.left >= bounds.right || bounds.top >= bounds.bottom) continue;
        const long long across = bounds.right - bounds.left;
        change[static_cast<std::size_t>(bounds.top)] += across;
        change[static_cast<std::size_t>(bounds.bottom)] -= across;
        total += across * (bounds.bottom - bounds.top);
    }
    long long perRow = 0, done = 0;
    for (int row = 0; row < height; ++row) {
        perRow += change[static_cast<std::size_t>(row)];
        done += perRow;
        if (2 * done >= total) return row + 1;
    }
    return height;
}

// With split, the upper band is blended in the thread pool and the lower one here. Every pixel
// is blended by one thread, in the copies' order, so the frame is the same on one thread or two.
void drawCopies(BackBuffer& target, const std::vector<PlannedCopy>& copies, bool split) {
    if (!split) return drawBand(target, copies, 0, target.height);
    const int middle = middleOfTheWork(copies, target.width, target.height);
    alongside([&] { drawBand(target, copies, 0, middle); },
              [&] { drawBand(target, copies, middle, target.height); });
}

double millisecondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - start.QuadPart) * 1000.0 /
           static_cast<double>(frequency.QuadPart);
}

void drawPage(ViewState& view, const wishwell::Collection& from, const wishwell::Page& page,
              double t) {
    BackBuffer& target = *view.backBuffer;
    const double W = target.width;
    const double H = target.height;
    const double fade = wishwell::pageFade(t, from.items.size());
    const wishwell::Copies copies = wishwell::copiesToDraw(reduced);
    std::deque<SpritePixels> pixels; // locked until the frame is drawn
    std::vector<PlannedCopy> planned;
    planned.reserve(page.count * static_cast<std::size_t>(copies.count));
    for (std::size_t j = 0; j < page.count; ++j) {
        const std::uint64_t index = page.index[j];
        const Sprite& sprite = view.sprites.at(index);
        const std::uint32_t seed = wishwell::seedOf(from.items.at(index).id);
        const wishwell::Size size =
            wishwell::drawnSize(sprite.width, sprite.height, W, H, reduced, page.count);
        SpritePixels& spritePixels = pixels.emplace_back(sprite.bitmap.get());
        if (!spritePixels.full.bits) continue;
        for (int c = 0; c < copies.count; ++c) {
            const wishwell::Pose pose = wishwell::pose(seed, t, copies.copy[c], reduced, j,
                                                       page.count, W, H, size.width, size.height);
            const double fraction = size.width * pose.scale / sprite.width;
            const auto [image, occupancy] = spritePixels.at(fraction);
            planned.push_back({image, occupancy, sprite.width, sprite.height,
                               {pose.x, pose.y, pose.scale, pose.rotation, size.width, size.height},
                               pose.opacity * fade});
        }
    }
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    drawCopies(target, planned, view.splitRows);
    // A second core is worth its wake-ups only when one thread takes a third of the 33 ms frame;
    // two threads take a little over half the time of one, and the gap keeps the choice steady.
    const double took = millisecondsSince(start);
    view.splitRows = view.splitRows ? took >= 5 : took > 11;
}

void drawSampleBanner(BackBuffer& target) {
    GpGraphics* raw = nullptr;
    GdipCreateFromHDC(target.dc.get(), &raw);
    const owners::Graphics graphics(raw);
    if (!graphics) return;
    GdipSetInterpolationMode(graphics.get(), InterpolationModeHighQualityBicubic);
    GdipSetSmoothingMode(graphics.get(), SmoothingModeAntiAlias);
    drawBanner(graphics.get(), target.width, target.height);
}

// ---- Window messages ---------------------------------------------------------------------------

ViewState* viewOf(HWND window) {
    return reinterpret_cast<ViewState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

LRESULT createView(HWND window, LPARAM lParam) {
    try {
        auto view = std::make_unique<ViewState>();
        view->embedded = reinterpret_cast<const CREATESTRUCTW*>(lParam)->lpCreateParams != nullptr;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(view.release()));
        SetTimer(window, frameTimer, framePeriod, nullptr);
        return 0;
    } catch (...) {
        return -1; // no record, no window
    }
}

void paintFrame(HWND window) {
    owners::PaintScope paint(window);
    ViewState* view = viewOf(window);
    if (!view) return;
    try {
        RECT area{};
        GetClientRect(window, &area);
        const auto elapsed = static_cast<std::int64_t>(GetTickCount64() - started);
        const double t = static_cast<double>(elapsed) / 1000.0;
        if (composeFrame(*view, area.right, area.bottom, t))
            BitBlt(paint.dc(), 0, 0, area.right, area.bottom, view->backBuffer->dc.get(), 0, 0,
                   SRCCOPY);
    } catch (...) {
        // Black for this frame; the next one tries again, rebuilding the sprites if need be.
        FillRect(paint.dc(), &paint.paint().rcPaint,
                 static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    }
}

bool afterGrace() {
    return GetTickCount64() >= started + inputGrace;
}

void mouseMoved(HWND window) {
    const ViewState* view = viewOf(window);
    if (!view || view->embedded || !afterGrace()) return;
    POINT cursor{};
    GetCursorPos(&cursor);
    if (std::abs(cursor.x - initialMouse.x) > mouseSlack ||
        std::abs(cursor.y - initialMouse.y) > mouseSlack)
        closeViews();
}

void releaseView(HWND window) {
    std::unique_ptr<ViewState> view(viewOf(window));
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    const bool embedded = view && view->embedded;
    view.reset();
    if (embedded) PostQuitMessage(0);
}

} // namespace

std::vector<Sprite> buildPageSprites(const wishwell::Collection& from, const wishwell::Page& page) {
    std::vector<Sprite> built(page.count);
    const auto build = [&](std::size_t first) {
        for (std::size_t j = first; j < page.count; j += 2)
            built[j] = buildSprite(from.items.at(page.index[j]));
    };
    if (page.count == 0) return built;
    // The first sprite is built here before the worker starts, so the first use of the system's
    // fonts in the process (GDI+ fills its installed font list then) never happens on two threads.
    built[0] = buildSprite(from.items.at(page.index[0]));
    if (page.count > 1) alongside([&] { build(1); }, [&] { build(2); });
    return built;
}

bool composeFrame(ViewState& view, int width, int height, double t) {
    if (width < 1 || height < 1) return false;
    GdiFlush(); // the last frame's drawing through the DC must be done before the pixels change
    if (!view.backBuffer || view.backBuffer->width != width || view.backBuffer->height != height) {
        view.backBuffer.reset();
        view.backBuffer = makeBackBuffer(width, height);
    }
    BackBuffer& target = *view.backBuffer;
    if (target.pixels)
        std::fill_n(target.pixels, static_cast<std::size_t>(width) * height, 0xFF000000u);

    const wishwell::Collection& from = showSample ? previewCollection : collection;
    const wishwell::Page page = wishwell::pageAt(t, from.items.size());
    // A rebuild cut short by a failure leaves shown as it was, so the next frame starts over.
    if (!samePage(page, view.shown) || view.sprites.size() != page.count)
        rebuildSprites(view, from, page);
    if (!target.pixels) return false;

    drawPage(view, from, page, t);
    if (width > 200 && from.sample) drawSampleBanner(target);
    return true;
}

LRESULT CALLBACK saverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: return createView(window, lParam);
    case WM_TIMER: InvalidateRect(window, nullptr, FALSE); return 0;
    case WM_PAINT: paintFrame(window); return 0;
    case WM_ERASEBKGND: return 1; // every frame covers the whole client area
    case WM_SETCURSOR:
        if (const ViewState* view = viewOf(window); view && !view->embedded) {
            SetCursor(nullptr);
            return TRUE;
        }
        break;
    case WM_MOUSEMOVE: mouseMoved(window); return 0;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_MOUSEWHEEL:
    case WM_POINTERDOWN:
    case WM_DISPLAYCHANGE:
        if (const ViewState* view = viewOf(window); view && !view->embedded) closeViews();
        return 0;
    case WM_ACTIVATEAPP:
        if (wParam == FALSE && externalSaver && afterGrace()) closeViews();
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_SCREENSAVE) return 0; // no screensaver over this one
        break;
    case WM_CLOSE:
        if (const ViewState* view = viewOf(window); view && view->embedded)
            DestroyWindow(window);
        else
            closeViews();
        return 0;
    case WM_DESTROY: KillTimer(window, frameTimer); break;
    case WM_NCDESTROY: releaseView(window); break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
