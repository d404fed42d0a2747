// Entry point and process-wide state: start-up in its fixed order, the one message loop, shut-down.

#include "screensaver.h"

#include "command.h"

#include <exception>
#include <stdexcept>
#include <string_view>

HINSTANCE instance = nullptr;
std::filesystem::path directory;
wishwell::Collection collection;
wishwell::Collection previewCollection;
std::vector<HWND> views;
bool reduced = false;
bool externalSaver = false;
bool childPreview = false;
std::uint64_t started = 0;
std::chrono::steady_clock::time_point motionOrigin;
HWND settings = nullptr;
POINT initialMouse = {0, 0};
bool showSample = false;
bool closing = false;
HFONT uiFont = nullptr;
HWND statusLabel = nullptr;

namespace {

const wchar_t* const caption = L"Wishwell Lumiary";

const char* const unreadableCollection =
    "Your saved screensaver collection could not be read. It has not been changed. Import your "
    "backup again; the sample is shown meanwhile.";

// The text in UTF-16, or nothing when the code page cannot decode it.
std::wstring convert(UINT codePage, DWORD flags, std::string_view text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(codePage, flags, text.data(), length, nullptr, 0);
    if (units == 0) return {};
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(codePage, flags, text.data(), length, wide.data(), units);
    return wide;
}

// The length of the well-formed UTF-8 sequence that the bytes start with, or 0 when they start
// with none: a stray continuation byte, a truncated or overlong sequence, an encoded surrogate, a
// value above U+10FFFF.
std::size_t utf8SequenceAt(std::string_view bytes) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = at(0);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (bytes.size() < length || at(1) < low || at(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (at(i) < 0x80 || at(i) > 0xBF) return 0;
    return length;
}

// The stored collection replaces the samples only when it reads and parses in full.
std::string loadStoredCollection() {
    collection = wishwell::samples();
    const std::filesystem::path stored = directory / "intentions.json";
    if (!std::filesystem::exists(stored)) return {};
    try {
        collection = wishwell::parseBackup(readFile(stored));
        return {};
    } catch (...) {
        return unreadableCollection; // the file is left as it is for the user to replace
    }
}

void openSettings(std::uint64_t ownerHandle, const std::string& notice) {
    const DWORD style = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    const SIZE frame = settingsFrame(style, GetDpiForSystem());

    HWND owner = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(ownerHandle));
    if (ownerHandle == 0 || !IsWindow(owner)) owner = nullptr;

    HWND window =
        CreateWindowExW(0, L"WishwellSettings", caption, style, CW_USEDEFAULT, CW_USEDEFAULT,
                        frame.cx, frame.cy, owner, nullptr, instance, nullptr);
    if (!window) throw std::runtime_error("Could not open settings.");
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    if (!notice.empty()) error(window, notice);
}

void openPreview(std::uint64_t parentHandle) {
    childPreview = true;
    HWND parent = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(parentHandle));
    if (!IsWindow(parent)) throw std::runtime_error("Windows supplied an invalid preview window.");
    RECT area{};
    GetClientRect(parent, &area);
    started = GetTickCount64();
    motionOrigin = std::chrono::steady_clock::now();
    HWND child =
        CreateWindowExW(0, L"WishwellSaver", L"", WS_CHILD | WS_VISIBLE, 0, 0, area.right,
                        area.bottom, parent, nullptr, instance, reinterpret_cast<LPVOID>(1));
    if (!child) throw std::runtime_error("Could not create the preview.");
    views.push_back(child);
}

void runMessageLoop() {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (settings && IsDialogMessageW(settings, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void startAndRun(const wchar_t* commandLine) {
    // The manifest asks for the same awareness; Wine starts every process per-monitor aware
    // already and answers FALSE here, Windows answers FALSE when the manifest took effect.
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    directory = dataFolder();
    const std::string notice = loadStoredCollection();
    reduced = readReducedMotion(directory, false);
    registerClasses();

    const wishwell::Command command = wishwell::command(commandLine ? commandLine : L"");
    switch (command.mode) {
    case wishwell::Mode::configure: openSettings(command.handle, notice); break;
    case wishwell::Mode::run:
        externalSaver = true;
        startViews(false);
        break;
    case wishwell::Mode::preview: openPreview(command.handle); break;
    case wishwell::Mode::invalid:
        throw std::runtime_error(
            "Use /s to run, /c for settings, or /p with a Windows preview window handle.");
    }
    runMessageLoop();
}

} // namespace

void registerClasses() {
    WNDCLASSW saver{};
    saver.lpfnWndProc = saverProc;
    saver.hInstance = instance;
    saver.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    saver.lpszClassName = L"WishwellSaver";
    RegisterClassW(&saver);

    WNDCLASSW window{};
    window.lpfnWndProc = settingsProc;
    window.hInstance = instance;
    window.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    window.lpszClassName = L"WishwellSettings";
    RegisterClassW(&window);
}

std::wstring widen(const std::string& text) {
    std::wstring wide = convert(CP_UTF8, MB_ERR_INVALID_CHARS, text);
    if (wide.empty() && !text.empty()) throw std::runtime_error("Invalid UTF-8 text.");
    return wide;
}

std::wstring messageText(const std::string& message, UINT ansiCodePage) {
    // The standard library's file-system messages hold the path in UTF-8 and end in
    // FormatMessageA's sentence in the ANSI code page ("Acc\xe8s refus\xe9." on a French Windows).
    // So the well-formed UTF-8 runs are read as UTF-8 and only the bytes between them in the ANSI
    // code page, a double-byte code page's lead byte together with the byte after it.
    const std::string_view bytes(message);
    std::wstring text;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = start;
        while (end < bytes.size()) {
            const std::size_t length = utf8SequenceAt(bytes.substr(end));
            if (length == 0) break;
            end += length;
        }
        text += convert(CP_UTF8, 0, bytes.substr(start, end - start));
        start = end;
        while (end < bytes.size() && utf8SequenceAt(bytes.substr(end)) == 0) {
            const bool lead = IsDBCSLeadByteEx(ansiCodePage, static_cast<BYTE>(bytes[end]));
            end += lead && end + 1 < bytes.size() ? 2 : 1;
        }
        const std::string_view other = bytes.substr(start, end - start);
        const std::wstring decoded = convert(ansiCodePage, 0, other);
        text += decoded.empty() && !other.empty() ? std::wstring(other.size(), L'\uFFFD') : decoded;
        start = end;
    }
    return text;
}

void error(HWND owner, const std::string& message) {
    // Never raises: the callers are the failure handlers themselves.
    std::wstring text;
    try {
        text = messageText(message);
    } catch (...) {
        text = L"Something went wrong.";
    }
    MessageBoxW(owner, text.c_str(), caption, MB_ICONWARNING);
}

int runProgram(HINSTANCE module, const wchar_t* commandLine) {
    instance = module;
    Gdiplus::GdiplusStartupInput input; // version 1, background thread and codecs allowed
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return 1;

    int exitCode = 0;
    try {
        startAndRun(commandLine);
    } catch (const std::exception& failure) {
        if (!childPreview && !externalSaver) error(nullptr, failure.what());
        exitCode = 1;
    }

    collection = wishwell::Collection();
    previewCollection = wishwell::Collection();
    Gdiplus::GdiplusShutdown(token);
    return exitCode;
}

int WINAPI wWinMain(HINSTANCE module, HINSTANCE, PWSTR commandLine, int) {
    return runProgram(module, commandLine);
}
