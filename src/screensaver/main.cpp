// Entry point and process-wide state: start-up in its fixed order, the one message loop, shut-down.

#include "screensaver.h"

#include "command.h"

#include <exception>
#include <stdexcept>

HINSTANCE instance = nullptr;
std::filesystem::path directory;
wishwell::Collection collection;
wishwell::Collection previewCollection;
std::vector<HWND> views;
bool reduced = false;
bool externalSaver = false;
bool childPreview = false;
std::uint64_t started = 0;
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

std::wstring convert(UINT codePage, DWORD flags, const std::string& text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(codePage, flags, text.data(), length, nullptr, 0);
    if (units == 0) throw std::runtime_error("Invalid UTF-8 text.");
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(codePage, flags, text.data(), length, wide.data(), units);
    return wide;
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
    const UINT dpi = GetDpiForSystem();
    RECT frame = {0, 0, MulDiv(586, static_cast<int>(dpi), 96), MulDiv(425, static_cast<int>(dpi), 96)};
    const DWORD style = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    AdjustWindowRectEx(&frame, style, FALSE, 0);

    HWND owner = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(ownerHandle));
    if (ownerHandle == 0 || !IsWindow(owner)) owner = nullptr;

    HWND window = CreateWindowExW(0, L"WishwellSettings", caption, style, CW_USEDEFAULT,
                                  CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                                  owner, nullptr, instance, nullptr);
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
    HWND child = CreateWindowExW(0, L"WishwellSaver", L"", WS_CHILD | WS_VISIBLE, 0, 0, area.right,
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
    case wishwell::Mode::configure:
        openSettings(command.handle, notice);
        break;
    case wishwell::Mode::run:
        externalSaver = true;
        startViews(false);
        break;
    case wishwell::Mode::preview:
        openPreview(command.handle);
        break;
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
    return convert(CP_UTF8, MB_ERR_INVALID_CHARS, text);
}

std::wstring messageText(const std::string& message) {
    // A text that is not UTF-8 comes from the system in the ANSI code page: the standard library's
    // file-system messages end in FormatMessageA's text ("Acc\xe8s refus\xe9." on a French Windows).
    try {
        return widen(message);
    } catch (const std::runtime_error&) {
        return convert(CP_ACP, 0, message);
    }
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
