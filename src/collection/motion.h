#pragma once
// Where each intention stands in a frame: the page on screen, its fade, the drawn size, and the
// pose of the intention and its two echoes. Pure functions of the frame time and sizes.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace wishwell {

inline constexpr std::size_t pageCapacity = 12;

struct Pose {
    double x;        // centre, client pixels
    double y;
    double scale;
    double rotation; // degrees, clockwise on screen
    double opacity;  // before the page fade
};

struct Size {
    double width;
    double height;
};

// A fixed-capacity page, so the frame path never allocates.
struct Page {
    std::uint64_t index[pageCapacity];
    std::size_t count = 0;
    bool operator==(const Page& other) const;
};

// FNV-1a of the id's bytes, passed through the MurmurHash3 finaliser.
std::uint32_t seedOf(std::string_view id);

// The item indices on screen at frame time t for a collection of n items.
Page pageAt(double t, std::uint64_t n);

// The opacity factor of the whole page at frame time t: 1 for collections of 12 or fewer.
double pageFade(double t, std::uint64_t n);

// The drawn size of an image of spriteWidth x spriteHeight on a W x H window, fitted to the
// reduced-motion grid of a page of pageLength when reduced is set.
Size drawnSize(double spriteWidth, double spriteHeight, double W, double H, bool reduced,
               std::uint64_t pageLength);

// The copies to draw per intention, in drawing order: echoes first, the intention itself last.
struct Copies {
    int copy[3];
    int count;
};
Copies copiesToDraw(bool reduced);

Pose pose(std::uint32_t seed, double t, int copy, bool reduced, std::uint64_t index,
          std::uint64_t count, double W, double H, double w, double h);

} // namespace wishwell
