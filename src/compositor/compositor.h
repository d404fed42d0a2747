#pragma once
// The display's pixel work, free of any platform call: premultiplied images placed on a
// premultiplied frame at any position, turn and size, their alpha scaled by an opacity.
//
// An image is shrunk by area sampling: every frame pixel shows the average of the image over the
// part of it that the pixel covers. So fine strokes neither shimmer as the image turns and moves
// nor flicker when its size changes, and no size is special. The work is done in two passes of
// one dimension each (image columns to frame rows, then across to frame columns), which is exact
// for scaling and a close approximation for the turns of the screensaver; and it visits only the
// runs of pixels that hold ink, which is a small part of a rendered text.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace wishwell {

// A premultiplied ARGB pixel: alpha in the top byte, then red, green and blue, each colour
// channel already multiplied by alpha (so never above it).
using Pixel = std::uint32_t;

// A rectangle of pixels: left and top included, right and bottom excluded.
struct Area {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool operator==(const Area&) const = default;
};
bool isEmpty(const Area& area);
// The smallest area holding both; an empty area adds nothing.
Area unite(const Area& a, const Area& b);
// The part of an area inside 0 <= x < width, 0 <= y < height.
Area clip(const Area& area, int width, int height);

// Pixels to draw on, in rows top to bottom; stride counts pixels from one row to the next.
struct Surface {
    Pixel* pixels = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0;
};

// Rows of ink in a pair of columns of an image, end excluded.
struct Run {
    std::int32_t begin;
    std::int32_t end;
};

// An image read once and kept ready to be drawn any number of times: its pixels stored column by
// column, each column as four planes of one channel each (blue, green, red, alpha) with
// transparent rows above and below, and the runs of rows that hold ink in each pair of adjacent
// columns, which are drawn together.
struct PreparedImage {
    int width = 0;
    int height = 0;
    // Plane c of column i starts at (4 i + c) * planeLength + columnBorder; an odd width is
    // followed by one transparent column, so that the columns make whole pairs.
    std::vector<std::uint8_t> planes;
    std::ptrdiff_t planeLength = 0;
    // The runs of columns 2 m and 2 m + 1 are runs[firstRun[m] .. firstRun[m + 1]).
    std::vector<std::uint32_t> firstRun;
    std::vector<Run> runs;
};
// Transparent rows above and below every column: room for the reach of the widest footprint,
// and of a group of eight footprints read whole.
inline constexpr int columnBorder = 48;

// Copies an image of width x height pixels whose rows lie stride pixels apart.
PreparedImage prepareImage(const Pixel* pixels, int width, int height, std::ptrdiff_t stride);

// The image's pixels row by row in the top left corner of a transparent image whose sides are
// powers of two, and every smaller level down to 1 x 1, each pixel the rounded average of the
// 2 x 2 above it: the levels of a texture that a GPU samples trilinearly, largest first.
struct MipChain {
    int width = 0; // of the largest level
    int height = 0;
    std::vector<std::vector<Pixel>> levels;
};
MipChain mipChain(const PreparedImage& image);
// The same into a chain whose levels' memory is kept from the image before: uploading one image
// after another then touches no fresh memory.
void fillMipChain(const PreparedImage& image, MipChain& chain);

// Where one copy of an image goes: scaled to width x height and then by scale, turned by
// rotation degrees (clockwise on screen) about its centre, with its centre at (x, y). Frame
// pixel (X, Y) covers the square from (X, Y) to (X + 1, Y + 1).
struct Placement {
    double x = 0;
    double y = 0;
    double scale = 1;
    double rotation = 0;
    double width = 0;
    double height = 0;
};

// Scratch memory that drawImage reuses from call to call, so that frames do not allocate.
struct Workspace {
    std::vector<Pixel> between;     // the first pass's result; all zero between calls
    std::vector<std::int8_t> marks; // which blocks of eight of its columns each row holds ink in
    std::vector<std::int32_t> downWeights; // the two passes' weights
    std::vector<std::int32_t> acrossWeights;
};

// Draws the image over the surface with its alpha multiplied by opacity (0 to 1), source over.
// Returns the pixels it may have changed; empty when it drew nothing.
Area drawImage(Surface& surface, const PreparedImage& image, const Placement& at, double opacity,
               Workspace& work);

// The instruction sets that drawImage has kernels for, slowest first: SSE2, which every 64-bit
// processor runs; SSE4.1 with SSSE3, which every processor that Windows 11 supports runs; AVX2.
enum class Kernel { sse2, sse41, avx2 };
// Whether the processor runs that kernel; for AVX2 the operating system must also save the wider
// registers, and a virtual machine may not.
bool processorRuns(Kernel set);
// The kernel drawImage uses: the fastest that the processor runs, unless a test or a benchmark
// sets another that it runs.
extern Kernel kernel;

// Lays an image of width x height pixels whose rows lie stride pixels apart over the surface,
// pixel for pixel with its top left corner at (left, top), source over; what lies off the surface
// is left out. Returns the pixels it may have changed.
Area layImage(Surface& surface, const Pixel* pixels, int width, int height, std::ptrdiff_t stride,
              int left, int top);

// Sets every pixel of the areas (clipped to the surface) to colour, each once however the areas
// overlap.
void fillAreas(Surface& surface, const std::vector<Area>& areas, Pixel colour);

} // namespace wishwell
