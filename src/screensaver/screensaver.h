#pragma once
// The process-wide state of the screensaver and the functions its source files call on each other.
// The program has one thread, its GUI thread, and everything here is touched only on it.

#include <windows.h>
#include <wtsapi32.h>

#include "collection.h"
#include "frameclock.h"
#include "standing.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace wishwell {
struct Page;
}

// ---- Process-wide globals (defined in main.cpp) ----------------------------------------------
extern HINSTANCE instance;
extern std::filesystem::path directory;        // the data folder
extern wishwell::Collection collection;        // the active collection
extern wishwell::Collection previewCollection; // the samples, refilled whenever views open
extern std::vector<HWND> views;                // open display windows, in creation order
extern bool reduced;                           // reduced motion
extern bool externalSaver;    // started with /s: closing the views ends the program
extern bool childPreview;     // started with /p: closing the views ends the program
extern std::uint64_t started; // GetTickCount64() when the views opened
extern std::chrono::steady_clock::time_point motionOrigin; // the steady clock at the same moment
extern HWND settings;                                      // the settings window while it exists
extern POINT initialMouse;                                 // the cursor when the views opened
extern bool showSample;  // draw previewCollection instead of collection
extern bool closing;     // closeViews is running
extern HFONT uiFont;     // the settings window's font
extern HWND statusLabel; // the settings window's status line

// ---- Text and messages (main.cpp) ----------------------------------------------------------
// UTF-8 to UTF-16; raises "Invalid UTF-8 text." for anything that is not well-formed UTF-8.
std::wstring widen(const std::string& text);
// What error shows: the message's well-formed UTF-8 as UTF-8 and every other byte decoded from
// the ANSI code page, in which the system reports its own failures. Never raises for undecodable
// input.
std::wstring messageText(const std::string& message, UINT ansiCodePage = CP_ACP);
// The one warning box, captioned "Wishwell Lumiary". Never raises.
void error(HWND owner, const std::string& message);
// The program's entry point, with the whole start-up, message loop and shut-down.
int runProgram(HINSTANCE module, const wchar_t* commandLine);
// The two window classes, "WishwellSaver" and "WishwellSettings", of the module in instance.
void registerClasses();

// ---- Monitor views (views.cpp) -----------------------------------------------------------
void startViews(bool sample);
BOOL CALLBACK createMonitor(HMONITOR monitor, HDC dc, LPRECT rect, LPARAM data);
void closeViews();

// ---- Display window (display.cpp) ----------------------------------------------------------
LRESULT CALLBACK saverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The clock of the input grace period: GetTickCount64, unless a test fixes it.
extern ULONGLONG (*tickCount)();
// The motion's time in seconds: the steady clock since motionOrigin, unless a test or a benchmark
// sets it. All display windows read it, so every monitor shows the same phase.
extern double (*motionClock)();

// ---- Settings window (settings.cpp) ---------------------------------------------------------
LRESULT CALLBACK settingsProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
HWND control(HWND parent, const wchar_t* className, const wchar_t* text, DWORD style, int x, int y,
             int width, int height, int id);
// The outer size of a settings window of that style whose client area is 586 x 475 units at dpi.
SIZE settingsFrame(DWORD style, UINT dpi);
void updateStatus();
// Which file a screensaver setting names, by the files' identity, not their paths' text: this
// program's, the installed copy, another (also one that does not exist), or none when empty.
wishwell::Choice chosenFile(const std::wstring& named, const std::filesystem::path& program,
                            const std::filesystem::path& installed);
// Reads afresh what decides whether and when Windows starts this screensaver (saverstate.cpp).
wishwell::SaverFacts readSaverFacts();
// The DPI a window is drawn at: GetDpiForWindow, unless a test stands in for another monitor.
extern UINT(WINAPI* windowDpi)(HWND window);

// ---- Storage (storage.cpp) -----------------------------------------------------------------
// The local application-data folder joined with "Wishwell Lumiary"; not created.
std::filesystem::path dataFolder();
// The file's bytes, at most maximumBackupBytes of them.
std::string readFile(const std::filesystem::path& file);
// Writes a temporary file beside the target, flushes it, and moves it over the target.
void atomicSave(const std::filesystem::path& target, const std::string& bytes);
// The stored reduced-motion preference, or fallback when the file is missing or unusable.
bool readReducedMotion(const std::filesystem::path& folder, bool fallback);
// Writes "preferences.json" in the folder; raises what atomicSave raises.
void saveReducedMotion(const std::filesystem::path& folder, bool value);

// ---- Intention rendering (rendering.cpp) ---------------------------------------------------
#include "compositor.h"
#include "looks.h"
#include "owners.h"

#include <map>
#include <memory>

// ---- The GPU path's objects, whose insides only gpu.cpp knows -------------------------------
struct GpuTexture; // an image's texture with its whole mip chain, on the device that made it
struct GpuWindow;  // a window's swap chain
struct GpuRelease {
    void operator()(GpuTexture* texture) const;
    void operator()(GpuWindow* window) const;
};
using GpuTextureOwner = std::unique_ptr<GpuTexture, GpuRelease>;
using GpuWindowOwner = std::unique_ptr<GpuWindow, GpuRelease>;

// One intention rendered once per page into a transparent 420-pixel-wide image.
struct Sprite {
    owners::Bitmap bitmap; // premultiplied ARGB; the display keeps only prepared
    float width = 0;
    float height = 0;
    wishwell::PreparedImage prepared; // its pixels, read once, ready to be drawn every frame
    GpuTextureOwner texture;          // the same pixels on the GPU, uploaded when first drawn there
};

// The family and style a look is drawn in, after the fallbacks to "Arial" and to regular.
struct Typeface {
    owners::FontFamily family;
    int style = 0; // a Gdiplus::FontStyle
};
Typeface typefaceFor(const wishwell::Look& look);
// The same, unless the family lacks a glyph of the text: then the first of the Windows UI families
// for the text's scripts that holds them all, in the look's style where it has it.
Typeface typefaceFor(const wishwell::Look& look, const std::wstring& text);

// The em size in pixels that fitting starts from, for a text of that many UTF-16 code units.
float startingEmSize(std::size_t units);

// The em size a text is drawn at in the 340-pixel layout box, and the height of its block.
struct TextFit {
    float emSize = 0;
    float height = 0;
};
TextFit fitText(const std::wstring& text, const Typeface& face);
// Adds the outline of one line of text, from the box's top and centred on its middle, on one line
// however narrow the box; direction is 0 or StringFormatFlagsDirectionRightToLeft.
void addLineOutline(Gdiplus::GpPath* path, const wchar_t* line, std::size_t units,
                    const Typeface& face, float emSize, const Gdiplus::RectF& box,
                    int direction = 0);

// The sprite's height for an outline whose transformed bounds end at that y.
int spriteHeightFor(float outlineBottom);

Sprite buildSprite(const wishwell::Item& item);
Sprite buildSprite(const std::wstring& text, const wishwell::Look& look);
// The same drawn in memory that every build reuses, its bitmap valid until the next build there:
// each sprite a page change builds would otherwise take a megabyte or two of fresh pages, a
// fault for every 4 KB.
Sprite buildSprite(const wishwell::Item& item, std::vector<wishwell::Pixel>& memory);

// The banner's em size in pixels on a frame of that width.
float bannerEmSize(int width);
// Draws "SAMPLE INTENTIONS" in the lower left corner of a width x height frame.
void drawBanner(Gdiplus::GpGraphics* graphics, int width, int height);

// ---- Display window records (display.cpp) and frame composition (frame.cpp) ---------------
// The off-screen frame: a top-down 32-bit premultiplied ARGB DIB section selected into a memory
// DC, drawn into directly and copied to the window with BitBlt.
struct BackBuffer {
    owners::GdiBitmap bitmap;
    owners::MemoryDc dc; // after bitmap: destroyed first, so the bitmap is no longer selected
    std::uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
};

// One copy of an image in a frame, as both paths draw it: the GPU path's texture is made from the
// image when first needed and kept where texture points.
struct FrameCopy {
    const wishwell::PreparedImage* image = nullptr;
    GpuTextureOwner* texture = nullptr;
    wishwell::Placement at;
    double opacity = 1;
};

// The per-window record, from WM_CREATE to WM_NCDESTROY.
struct ViewState {
    bool embedded = false;         // the preview child inside the Display settings page
    GpuWindowOwner gpu;            // the window's swap chain, while the window draws on the GPU
    std::vector<FrameCopy> copies; // the last frame's copies in drawing order, the banner last
    GpuTextureOwner bannerTexture;
    wishwell::Pacing pacing; // for a swap chain that waits for the display's refresh
    unsigned presented = 0;  // how often the last frame has been presented
    std::unique_ptr<BackBuffer> backBuffer;
    std::map<std::uint64_t, Sprite> sprites; // the current page's images, by item index
    std::vector<std::uint64_t> shown;        // the page the sprites were last completely built for
    wishwell::Workspace work;                // the compositor's scratch memory
    // What the last frame drew on its black, an area for each intention and the banner: the next
    // frame clears only that. And what it changed against the frame before, the only part of it
    // that is copied to the screen.
    std::vector<wishwell::Area> drawn;
    std::vector<wishwell::Area> changed;
    bool wholeFrame = true; // copy the whole frame next time: it is new, or the screen lost it
    int framesSinceWhole = 0;
    double lastFrame = -HUGE_VAL;   // the motion's time of the last frame composed
    unsigned timerPeriod = 0;       // the frame timer's period in ms while it runs (frameclock.h)
    unsigned firings = 0;           // the timer's firings since the last frame
    wishwell::PreparedImage banner; // "SAMPLE INTENTIONS" for a frame bannerWidth wide
    int bannerWidth = 0;
    bool displayOff = false;   // Windows has switched the session's display off
    bool locked = false;       // the session is locked
    bool disconnected = false; // no console or remote client shows the session
    HPOWERNOTIFY displayState = nullptr;
    bool sessionNotices = false;
};

// Readies the page's sprites and the banner for frame time t on a width x height frame and lists
// its copies in view.copies; false for an empty area. Raises what building a sprite raises.
bool planFrame(ViewState& view, int width, int height, double t);
// Composes the frame at frame time t (seconds) for a client area of width x height into the
// view's back buffer. False when there is nothing to show: an empty area or no back buffer.
bool composeFrame(ViewState& view, int width, int height, double t);
// Builds one sprite of the next page when a page change is near, as a frame does, for a frame
// clock tick whose frame waits for the GPU: the page change then finds the next page built.
void buildNextPage(ViewState& view, double t);
// Blackens the back buffer after a frame that failed, to be copied whole to the screen.
void blankFrame(ViewState& view);

// The display's frame timer: started when a window is made and whenever it can be seen again,
// then with a frame at once.
void startFrameClock(HWND window);
void stopFrameClock(HWND window);
// The frame-latency objects of the windows that present paced to their display, with the windows,
// for the message loop to wait on; and what it does when one of them is signalled.
void frameWaits(std::vector<HANDLE>& handles, std::vector<HWND>& windows);
void frameSignalled(HWND window);

// What makes a frame's back buffer and its banner, unless a test makes them fail.
extern HBITMAP (*createFrameBitmap)(const BITMAPINFO& info, void** pixels);
extern HDC (*createFrameDc)();
// "SAMPLE INTENTIONS" for a frame of that width; empty when it could not be drawn.
extern wishwell::PreparedImage (*renderBanner)(int width);

// ---- The GPU path (gpu.cpp) -------------------------------------------------------------------
// How display windows draw: with Direct3D 11 where a device can be made for them, or always on the
// processor. Windows of either path draw on the processor when the GPU path fails. Tests and
// benchmarks choose.
enum class DrawPath { gpu, processor };
extern DrawPath drawPath;
// LoadLibraryExA from the system folder, unless a test makes it fail.
extern HMODULE (*loadSystemLibrary)(const char* name);
// What a swap chain's Present reported, unless a test reports something else.
extern HRESULT (*presentReported)(HRESULT result);
// The swap chain's frame-latency waitable object, null where Windows gives none, unless a test
// gives one of its own; the window owns and closes what this returns.
extern HANDLE (*frameLatencyObject)(HANDLE given);
// The window's swap chain on the process's one device; null when it must draw on the processor.
GpuWindowOwner openGpuWindow(HWND window);
// Draws view.copies on a black frame and presents it with that sync interval. A lost device is
// made again once in a run; false when the window must draw on the processor from now on.
bool showOnGpu(HWND window, ViewState& view, unsigned interval);
// Uploads the sprite's texture, where the window draws on the GPU, ahead of the frame that first
// draws it: a page change then uploads nothing.
void uploadAhead(const ViewState& view, Sprite& sprite);
// Whether the GPU is still drawing the window's last frame, where no frame-latency object says
// so: its next frame then waits for a later tick instead of blocking the thread in Present. After
// eight ticks in a row, about a quarter of a second, the frame is drawn anyway.
bool gpuBehind(ViewState& view);
// The window's frame-latency waitable object, or null where its swap chain has none.
HANDLE frameWaitable(const ViewState& view);
// What the GPU draws for view.copies on a frame of the window's size, read back without being
// presented, as premultiplied ARGB from the top down; empty when it cannot be drawn.
std::vector<std::uint32_t> gpuFramePixels(HWND window, ViewState& view);

// ---- Who can see a display window (visibility.cpp) -----------------------------------------
bool visible(const ViewState& view);
// What the session is at the start: WTSQuerySessionInformationW and WTSFreeMemory, unless a test
// stands in for them.
extern BOOL(WINAPI* querySession)(HANDLE server, DWORD session, WTS_INFO_CLASS what, LPWSTR* buffer,
                                  DWORD* bytes);
extern void(WINAPI* freeSessionMemory)(PVOID memory);
// Whether the desktop that takes input is this thread's own, unless a test stands in for it: false
// when the session's lock has moved input to the secure desktop.
extern bool (*onInputDesktop)();
// Notes in the view whether the session is locked or disconnected already, as far as Windows says;
// the lock only from Windows 8 on, and only where it hides the window.
void readSession(ViewState& view, bool windows8OrLater);
// Asks Windows to tell the window when the display goes off and when the session is locked or
// disconnected, reads whether it is so already, and stops asking.
void listenForVisibility(HWND window, ViewState& view);
void stopListening(HWND window, ViewState& view);
// WM_POWERBROADCAST and WM_WTSSESSION_CHANGE.
void powerChanged(HWND window, ViewState& view, WPARAM event, LPARAM lParam);
void sessionChanged(HWND window, ViewState& view, WPARAM event);
