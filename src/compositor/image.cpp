// Images read into the form the passes draw from, and the frame's clearing.

#include "passes.h"

namespace wishwell {

namespace {

// Transposes a 16 x 16 byte matrix held as 16 rows of 16 bytes: each round interleaves the
// rows pairwise, and four rounds put every byte in its transposed place.
void transposeBytes(__m128i rows[16]) {
    for (int round = 0; round < 4; ++round) {
        __m128i interleaved[16];
        for (int i = 0; i < 8; ++i) {
            interleaved[2 * i] = _mm_unpacklo_epi8(rows[i], rows[i + 8]);
            interleaved[2 * i + 1] = _mm_unpackhi_epi8(rows[i], rows[i + 8]);
        }
        std::copy_n(interleaved, 16, rows);
    }
}

} // namespace

PreparedImage prepareImage(const Pixel* pixels, int width, int height, std::ptrdiff_t stride) {
    PreparedImage image;
    if (!pixels || width < 1 || height < 1) return image;
    image.width = width;
    image.height = height;
    const std::ptrdiff_t plane = height + 2 * static_cast<std::ptrdiff_t>(columnBorder);
    image.planeLength = plane;
    // An odd width gets a transparent column, so that columns come in pairs.
    const int pairs = (width + 1) / 2;
    image.planes.assign(static_cast<std::size_t>(pairs) * 8 * plane, 0);
    const auto planeAt = [&](int i, int c) {
        return image.planes.data() + (4 * i + c) * plane + columnBorder;
    };
    // Sixteen rows of four pixels are a 16 x 16 matrix of bytes whose transpose is, row by row,
    // the four planes of each of the four columns.
    const int wholeColumns = width / 4 * 4;
    const int wholeRows = height / 16 * 16;
    for (int i = 0; i < wholeColumns; i += 4)
        for (int j = 0; j < wholeRows; j += 16) {
            __m128i block[16];
            for (int r = 0; r < 16; ++r)
                block[r] = _mm_loadu_si128(
                    reinterpret_cast<const __m128i*>(pixels + (j + r) * stride + i));
            transposeBytes(block);
            for (int k = 0; k < 16; ++k)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(planeAt(i + k / 4, k % 4) + j),
                                 block[k]);
        }
    for (int i = 0; i < width; ++i)
        for (int j = i < wholeColumns ? wholeRows : 0; j < height; ++j)
            for (int c = 0; c < 4; ++c)
                planeAt(i, c)[j] = static_cast<std::uint8_t>(pixels[j * stride + i] >> (8 * c));

    image.firstRun.reserve(static_cast<std::size_t>(pairs) + 1);
    for (int m = 0; m < pairs; ++m) {
        const std::uint32_t first = static_cast<std::uint32_t>(image.runs.size());
        image.firstRun.push_back(first);
        const std::uint8_t* blue = planeAt(2 * m, 0); // the pair's eight planes follow
        const auto inked = [&](int j) {
            std::uint8_t any = 0;
            for (int c = 0; c < 8; ++c)
                any |= blue[j + c * plane];
            return any != 0;
        };
        for (int j = 0; j < height;) {
            // Sixteen empty rows at a time; the border below the column reads as empty.
            if (j + 16 <= height + columnBorder) {
                __m128i any = _mm_setzero_si128();
                for (int c = 0; c < 8; ++c)
                    any = _mm_or_si128(any, _mm_loadu_si128(reinterpret_cast<const __m128i*>(
                                                blue + c * plane + j)));
                if (_mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) == 0xFFFF) {
                    j += 16;
                    continue;
                }
            }
            if (!inked(j)) {
                ++j;
                continue;
            }
            // Runs with fewer empty rows between them than a frame's ink takes are one run: the
            // passes skip empty footprints quickly, and every run costs some setting up.
            if (image.runs.size() > first && j - image.runs.back().end <= 64)
                image.runs.back().end = j + 1;
            else
                image.runs.push_back({j, j + 1});
            ++j;
        }
    }
    image.firstRun.push_back(static_cast<std::uint32_t>(image.runs.size()));
    return image;
}

Area layImage(Surface& surface, const Pixel* pixels, int width, int height, std::ptrdiff_t stride,
              int left, int top) {
    if (!surface.pixels || !pixels || width < 1 || height < 1) return {};
    const Area area = clip({left, top, left + width, top + height}, surface.width, surface.height);
    for (int Y = area.top; Y < area.bottom; ++Y)
        engine::layRow(surface.pixels + Y * surface.stride + area.left,
                       pixels + (Y - top) * stride + (area.left - left), area.right - area.left);
    return area;
}

void fillAreas(Surface& surface, const std::vector<Area>& areas, Pixel colour) {
    std::vector<Area> inside;
    int top = surface.height, bottom = 0;
    for (const Area& area : areas)
        if (const Area clipped = clip(area, surface.width, surface.height); !isEmpty(clipped)) {
            inside.push_back(clipped);
            top = std::min(top, clipped.top);
            bottom = std::max(bottom, clipped.bottom);
        }
    std::sort(inside.begin(), inside.end(),
              [](const Area& a, const Area& b) { return a.left < b.left; });
    for (int y = top; y < bottom; ++y) {
        Pixel* row = surface.pixels + y * surface.stride;
        int from = 0, to = 0; // the span being gathered
        for (const Area& area : inside) {
            if (y < area.top || y >= area.bottom) continue;
            if (area.left > to) {
                std::fill(row + from, row + to, colour);
                from = area.left;
            }
            to = std::max(to, area.right);
        }
        std::fill(row + from, row + to, colour);
    }
}

} // namespace wishwell
