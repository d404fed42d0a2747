#pragma once
// One owner type per GDI and GDI+ handle kind, each releasing its object with the matching call.

#include <windows.h>
#include <objbase.h> // CoTaskMemFree
#include <objidl.h> // gdiplus.h needs it with WIN32_LEAN_AND_MEAN
#include <gdiplus.h>

#include <memory>

namespace owners {

template <auto release>
struct Releaser {
    template <typename T>
    void operator()(T* object) const { release(object); }
};

template <typename T, auto release>
using Owner = std::unique_ptr<T, Releaser<release>>;

using namespace Gdiplus;
using Bitmap = Owner<GpBitmap, &DllExports::GdipDisposeImage>;
using Graphics = Owner<GpGraphics, &DllExports::GdipDeleteGraphics>;
using FontFamily = Owner<GpFontFamily, &DllExports::GdipDeleteFontFamily>;
using Font = Owner<GpFont, &DllExports::GdipDeleteFont>;
using StringFormat = Owner<GpStringFormat, &DllExports::GdipDeleteStringFormat>;
using Path = Owner<GpPath, &DllExports::GdipDeletePath>;
using Matrix = Owner<GpMatrix, &DllExports::GdipDeleteMatrix>;
using Brush = Owner<GpBrush, &DllExports::GdipDeleteBrush>;
using Pen = Owner<GpPen, &DllExports::GdipDeletePen>;
using ImageAttributes = Owner<GpImageAttributes, &DllExports::GdipDisposeImageAttributes>;

inline void deleteGdiObject(void* object) { DeleteObject(static_cast<HGDIOBJ>(object)); }
using GdiBitmap = Owner<std::remove_pointer_t<HBITMAP>, &deleteGdiObject>;
using GdiFont = Owner<std::remove_pointer_t<HFONT>, &deleteGdiObject>;
using GdiRegion = Owner<std::remove_pointer_t<HRGN>, &deleteGdiObject>;
inline void deleteDc(HDC dc) { DeleteDC(dc); }
using MemoryDc = Owner<std::remove_pointer_t<HDC>, &deleteDc>;

// A file handle from CreateFileW; never wrap INVALID_HANDLE_VALUE.
inline void closeFile(HANDLE file) { CloseHandle(file); }
using File = Owner<void, &closeFile>;
// A string the shell allocated for the caller, such as a known folder's path.
inline void freeTaskMemory(wchar_t* memory) { CoTaskMemFree(memory); }
using TaskString = Owner<wchar_t, &freeTaskMemory>;

// BeginPaint on construction, EndPaint on every way out.
class PaintScope {
public:
    explicit PaintScope(HWND window) : window_(window), dc_(BeginPaint(window, &paint_)) {}
    ~PaintScope() { EndPaint(window_, &paint_); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    HDC dc() const { return dc_; }
    const PAINTSTRUCT& paint() const { return paint_; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

// GdipBitmapLockBits of the whole bitmap as premultiplied ARGB on construction, for reading
// (ImageLockModeRead) or writing or both; GdipBitmapUnlockBits on every way out. bits() is null
// when the bitmap could not be locked.
class LockedBits {
public:
    explicit LockedBits(GpBitmap* bitmap, UINT mode = ImageLockModeRead) : bitmap_(bitmap) {
        UINT width = 0, height = 0;
        DllExports::GdipGetImageWidth(bitmap, &width);
        DllExports::GdipGetImageHeight(bitmap, &height);
        const Rect area(0, 0, static_cast<INT>(width), static_cast<INT>(height));
        locked_ = bitmap && DllExports::GdipBitmapLockBits(bitmap, &area, mode,
                                                           PixelFormat32bppPARGB, &data_) == Ok;
    }
    ~LockedBits() {
        if (locked_) DllExports::GdipBitmapUnlockBits(bitmap_, &data_);
    }
    LockedBits(const LockedBits&) = delete;
    LockedBits& operator=(const LockedBits&) = delete;
    BYTE* bits() const { return locked_ ? static_cast<BYTE*>(data_.Scan0) : nullptr; }
    int stride() const { return data_.Stride; }
    int width() const { return static_cast<int>(data_.Width); }
    int height() const { return static_cast<int>(data_.Height); }

private:
    GpBitmap* bitmap_;
    BitmapData data_{};
    bool locked_ = false;
};

} // namespace owners
