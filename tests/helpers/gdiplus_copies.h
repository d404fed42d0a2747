#pragma once
// The copies of the active collection's page drawn by GDI+ alone, every copy through
// GdipDrawImageRectRect with the world transform and the colour-matrix fade: the reference the
// display tests compare the program's own composition with, and the path the frame benchmark
// measures it against.

#include "screensaver.h"

#include "motion.h"

inline void drawCopiesWithGdiplus(Gdiplus::GpGraphics* graphics, const ViewState& view, int width,
                                  int height, double t) {
    using namespace Gdiplus;
    using namespace Gdiplus::DllExports;
    GdipSetInterpolationMode(graphics, InterpolationModeHighQualityBicubic);
    const wishwell::Page page = wishwell::pageAt(t, collection.items.size());
    const wishwell::Copies copies = wishwell::copiesToDraw(reduced);
    const double fade = wishwell::pageFade(t, collection.items.size());
    for (std::size_t j = 0; j < page.count; ++j) {
        const Sprite& sprite = view.sprites.at(page.index[j]);
        // The display keeps only the prepared pixels, which the first mip level holds row by row.
        wishwell::MipChain pixels = wishwell::mipChain(sprite.prepared);
        if (pixels.levels.empty()) continue;
        GpBitmap* rawBitmap = nullptr;
        GdipCreateBitmapFromScan0(sprite.prepared.width, sprite.prepared.height, pixels.width * 4,
                                  PixelFormat32bppPARGB,
                                  reinterpret_cast<BYTE*>(pixels.levels[0].data()), &rawBitmap);
        const owners::Bitmap bitmap(rawBitmap);
        const std::uint32_t seed = wishwell::seedOf(collection.items[page.index[j]].id);
        const wishwell::Size size =
            wishwell::drawnSize(sprite.width, sprite.height, width, height, reduced, page.count);
        for (int c = 0; c < copies.count; ++c) {
            const wishwell::Pose pose = wishwell::pose(seed, t, copies.copy[c], reduced, j,
                                                       page.count, width, height, size.width,
                                                       size.height);
            GraphicsState state = 0;
            GdipSaveGraphics(graphics, &state);
            GdipTranslateWorldTransform(graphics, static_cast<REAL>(pose.x),
                                        static_cast<REAL>(pose.y), MatrixOrderPrepend);
            GdipRotateWorldTransform(graphics, static_cast<REAL>(pose.rotation),
                                     MatrixOrderPrepend);
            GdipScaleWorldTransform(graphics, static_cast<REAL>(pose.scale),
                                    static_cast<REAL>(pose.scale), MatrixOrderPrepend);
            GpImageAttributes* attributes = nullptr;
            GdipCreateImageAttributes(&attributes);
            const owners::ImageAttributes ownedAttributes(attributes);
            ColorMatrix matrix = {{{1, 0, 0, 0, 0},
                                   {0, 1, 0, 0, 0},
                                   {0, 0, 1, 0, 0},
                                   {0, 0, 0, static_cast<REAL>(pose.opacity * fade), 0},
                                   {0, 0, 0, 0, 1}}};
            GdipSetImageAttributesColorMatrix(attributes, ColorAdjustTypeDefault, TRUE, &matrix,
                                              nullptr, ColorMatrixFlagsDefault);
            const REAL w = static_cast<REAL>(size.width);
            const REAL h = static_cast<REAL>(size.height);
            GdipDrawImageRectRect(graphics, bitmap.get(), -w / 2, -h / 2, w, h, 0, 0, sprite.width,
                                  sprite.height, UnitPixel, attributes, nullptr, nullptr);
            GdipRestoreGraphics(graphics, state);
        }
    }
}
