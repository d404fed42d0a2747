// An image's mip chain, for a GPU that shrinks it by trilinear sampling. Averaging 2 x 2
// premultiplied pixels keeps each level's ink where the level above has it, as the processor's
// area sampling does, so fine strokes neither shimmer nor flicker there either.

#include "compositor.h"

#include <algorithm>

namespace wishwell {

namespace {

int powerOfTwoFrom(int size) {
    int power = 1;
    while (power < size)
        power *= 2;
    return power;
}

// A pixel's four channels in four 16-bit lanes, where sums of four of them cannot overflow.
std::uint64_t lanes(Pixel p) {
    return (p & 0x00FF00FFu) | static_cast<std::uint64_t>(p >> 8 & 0x00FF00FFu) << 32;
}

Pixel pixelOf(std::uint64_t lanes) {
    return static_cast<Pixel>(lanes & 0x00FF00FFu) | static_cast<Pixel>(lanes >> 32 & 0x00FF00FFu)
                                                         << 8;
}

// Each pixel of level the rounded average of the 2 x 2 pixels of the level above it; a side of 1
// stays 1.
void halve(const std::vector<Pixel>& above, int width, int height, std::vector<Pixel>& level) {
    const int w = std::max(width / 2, 1), h = std::max(height / 2, 1);
    level.resize(static_cast<std::size_t>(w) * h);
    constexpr std::uint64_t half = 0x0002000200020002u, channels = 0x00FF00FF00FF00FFu;
    for (int y = 0; y < h; ++y) {
        const Pixel* top = above.data() + static_cast<std::size_t>(2 * y) * width;
        const Pixel* bottom =
            above.data() + static_cast<std::size_t>(std::min(2 * y + 1, height - 1)) * width;
        Pixel* row = level.data() + static_cast<std::size_t>(y) * w;
        for (int x = 0; x < w; ++x) {
            const int left = 2 * x, right = std::min(2 * x + 1, width - 1);
            const std::uint64_t sum = lanes(top[left]) + lanes(top[right]) + lanes(bottom[left]) +
                                      lanes(bottom[right]) + half;
            row[x] = pixelOf(sum >> 2 & channels);
        }
    }
}

} // namespace

MipChain mipChain(const PreparedImage& image) {
    MipChain chain;
    fillMipChain(image, chain);
    return chain;
}

void fillMipChain(const PreparedImage& image, MipChain& chain) {
    chain.width = chain.height = 0;
    if (image.width < 1 || image.height < 1) {
        chain.levels.clear();
        return;
    }
    int width = chain.width = powerOfTwoFrom(image.width);
    int height = chain.height = powerOfTwoFrom(image.height);
    std::size_t levels = 1;
    for (int w = width, h = height; w > 1 || h > 1; w = std::max(w / 2, 1), h = std::max(h / 2, 1))
        ++levels;
    chain.levels.resize(levels);
    std::vector<Pixel>& base = chain.levels[0];
    base.assign(static_cast<std::size_t>(width) * height, 0u);
    // A band of columns at a time, so that both the planes and the rows are read and written in
    // order.
    constexpr int band = 16;
    const std::ptrdiff_t length = image.planeLength;
    for (int left = 0; left < image.width; left += band) {
        const int right = std::min(left + band, image.width);
        for (int y = 0; y < image.height; ++y) {
            Pixel* row = base.data() + static_cast<std::size_t>(y) * width;
            for (int x = left; x < right; ++x) {
                const std::uint8_t* p = image.planes.data() + 4 * x * length + columnBorder + y;
                row[x] = p[0] | p[length] << 8 | p[2 * length] << 16 |
                         static_cast<Pixel>(p[3 * length]) << 24;
            }
        }
    }
    for (std::size_t i = 1; i < levels; ++i) {
        halve(chain.levels[i - 1], width, height, chain.levels[i]);
        width = std::max(width / 2, 1);
        height = std::max(height / 2, 1);
    }
}

} // namespace wishwell
