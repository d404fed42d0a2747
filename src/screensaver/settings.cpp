// The settings window: its controls, the status line, and the commands behind its buttons (import,
// the two previews, reduced motion, installation for the current user).

#include "screensaver.h"

#include <commdlg.h>
#include <shellapi.h>

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace {

enum : int {
    importCommand = 101,
    previewCollectionCommand = 102,
    previewSampleCommand = 103,
    reducedMotionCommand = 104,
    installCommand = 105,
    closeCommand = 106,
    standingLine = 201, // not a command: a static control sends none
};

// Both the open-file dialog and the module path get the longest path Windows can hand out.
constexpr DWORD longPath = 32768;

// The window's controls in creation order, which is also the order of the focus, with their
// rectangles in units at 96 dpi: the first layout and every later one at another DPI use these.
struct ControlRow {
    const wchar_t* className;
    const wchar_t* text;
    DWORD style;
    int x, y, width, height;
    int id;
};
constexpr int statusRow = 1;
constexpr int clientWidth = 586;
constexpr int clientHeight = 475;
constexpr ControlRow rows[] = {
    {L"STATIC", L"Wishwell Lumiary \u00b7 Windows screensaver", 0, 22, 18, 550, 30, 0},
    {L"STATIC", L"", 0, 22, 57, 550, 50, 0}, // the status line
    {L"BUTTON", L"Import intention backup\u2026", WS_TABSTOP, 22, 122, 260, 38, importCommand},
    {L"BUTTON", L"Preview your collection", WS_TABSTOP, 302, 122, 260, 38,
     previewCollectionCommand},
    {L"BUTTON", L"Preview sample intentions", WS_TABSTOP, 22, 176, 260, 38, previewSampleCommand},
    {L"BUTTON", L"Reduced motion", WS_TABSTOP | BS_AUTOCHECKBOX, 302, 176, 260, 38,
     reducedMotionCommand},
    {L"STATIC",
     L"Download your backup from the widget\u2019s Your intentions view, then import it here. "
     L"Import again whenever you want to update the screensaver.",
     0, 22, 235, 540, 66, 0},
    {L"STATIC", L"", 0, 22, 308, 540, 44, standingLine}, // whether Windows starts the screensaver
    {L"BUTTON", L"Install for this Windows user", WS_TABSTOP, 22, 366, 260, 38, installCommand},
    {L"BUTTON", L"Close", WS_TABSTOP, 430, 366, 132, 38, closeCommand},
    {L"STATIC", L"Prototype 0.1 \u00b7 Offline \u00b7 No account required", 0, 22, 425, 540, 26, 0},
};

// The owner that this window disabled, while it is disabled, and the handlers that were in place
// before the ones that enable it again if the process dies.
HWND disabledOwner = nullptr;
LPTOP_LEVEL_EXCEPTION_FILTER earlierFilter = nullptr;
std::terminate_handler earlierTerminate = nullptr;

int scaled(int value, UINT dpi) {
    return MulDiv(value, static_cast<int>(dpi), 96);
}

int scaled(int value) {
    return scaled(value, GetDpiForSystem());
}

HFONT makeFont(UINT dpi) {
    return CreateFontW(-scaled(16, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, L"Segoe UI");
}

void buildContent(HWND window) {
    settings = window;
    uiFont = makeFont(GetDpiForSystem());
    for (const ControlRow& row : rows) {
        HWND made = control(window, row.className, row.text, row.style, row.x, row.y, row.width,
                            row.height, row.id);
        if (&row == &rows[statusRow]) {
            statusLabel = made;
            updateStatus();
        }
        if (row.id == reducedMotionCommand) {
            SendMessageW(made, BM_SETCHECK, reduced ? BST_CHECKED : BST_UNCHECKED, 0);
        }
    }
}

// Read afresh whenever the user may have changed something in Windows' settings: when the window
// opens, whenever it is activated again (back from Windows' Screen Saver Settings), and after an
// install. A fact Windows does not give is left out of the sentence; nothing here shows a box.
void showStanding(HWND window) {
    try {
        const std::string sentence = wishwell::standingSentence(readSaverFacts());
        SetDlgItemTextW(window, standingLine, widen(sentence).c_str());
    } catch (const std::exception&) {
        // Only an exhausted allocation gets here; the line keeps its last sentence.
    }
}

// Windows' own size for another DPI stretches the whole window by the ratio of the DPIs, caption
// and borders too, which grow by less: the client area would come out a few pixels off.
BOOL frameForDpi(HWND window, UINT dpi, SIZE& size) {
    size = settingsFrame(static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)), dpi);
    return TRUE;
}

// The window is laid out by the system DPI while it is made, but a per-monitor-v2 window takes the
// DPI of the monitor it opens on, which may differ (a second monitor of another scale, or a scale
// changed without signing out), and Windows sends no WM_DPICHANGED for it. Later, Windows tells the
// window of every move to a monitor of another DPI, with a rectangle of its size there, and
// stretches nothing itself. Wine gives every monitor the system DPI and never sends this.
void layOut(HWND window, UINT dpi, const RECT& frame) {
    SetWindowPos(window, nullptr, frame.left, frame.top, frame.right - frame.left,
                 frame.bottom - frame.top, SWP_NOZORDER | SWP_NOACTIVATE);
    owners::GdiFont font(makeFont(dpi));
    // A new child goes below its siblings, so they are met in creation order, as in rows.
    HWND child = GetWindow(window, GW_CHILD);
    for (const ControlRow& row : rows) {
        if (!child) break;
        SetWindowPos(child, nullptr, scaled(row.x, dpi), scaled(row.y, dpi), scaled(row.width, dpi),
                     scaled(row.height, dpi), SWP_NOZORDER | SWP_NOACTIVATE);
        if (font) SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
        child = GetWindow(child, GW_HWNDNEXT);
    }
    // Without a new font the controls keep the old one, at the old size but still readable.
    if (!font) return;
    const owners::GdiFont old(uiFont);
    uiFont = font.release();
}

// The caption and borders already have the window's own DPI (under Wine the system's): only the
// client area changes.
void followOwnDpi(HWND window) {
    const UINT dpi = windowDpi(window);
    if (dpi == 0 || dpi == GetDpiForSystem()) return;
    RECT frame{};
    RECT client{};
    GetWindowRect(window, &frame);
    GetClientRect(window, &client);
    frame.right += scaled(clientWidth, dpi) - client.right;
    frame.bottom += scaled(clientHeight, dpi) - client.bottom;
    layOut(window, dpi, frame);
}

// A process that dies leaves Windows' Screen Saver Settings dialog disabled for good: Windows
// does not enable a window of another process again by itself. So a fault that nothing handles
// enables it here, and a C++ exception that nothing catches in the terminate handler below: under
// Wine such a throw goes straight to std::terminate without passing this filter. What no process
// can cover is an end that runs none of its code: TerminateProcess from outside (Task Manager
// ending the process, taskkill /f) or a fail-fast exit. The dialog then takes no input until its
// own process is ended.
LONG WINAPI enableOwnerOnCrash(EXCEPTION_POINTERS* exception) {
    const LONG action = earlierFilter ? earlierFilter(exception) : EXCEPTION_CONTINUE_SEARCH;
    // On Windows a C++ throw may pass here; the C runtime's filter resumes it, and the throw then
    // ends in std::terminate, which enables the owner itself.
    if (action != EXCEPTION_CONTINUE_EXECUTION && disabledOwner) EnableWindow(disabledOwner, TRUE);
    return action;
}

[[noreturn]] void enableOwnerOnTerminate() {
    if (disabledOwner) EnableWindow(disabledOwner, TRUE);
    if (earlierTerminate) earlierTerminate();
    std::abort();
}

// With /c:HWND the owner is Windows' Screen Saver Settings dialog, in another process. Disabled, as
// a modal dialog's owner is, its "Settings..." button cannot open a second window, and closing it
// cannot destroy this one in the middle of an import.
void createContent(HWND window) {
    if (HWND owner = GetWindow(window, GW_OWNER)) {
        EnableWindow(owner, FALSE);
        disabledOwner = owner;
        earlierFilter = SetUnhandledExceptionFilter(enableOwnerOnCrash);
        earlierTerminate = std::set_terminate(enableOwnerOnTerminate);
    }
    try {
        buildContent(window);
        followOwnDpi(window);
        showStanding(window);
    } catch (const std::exception&) {
        // Only an exhausted allocation gets here; the window then lacks some of its content.
    }
}

void enableOwner() {
    if (!disabledOwner) return;
    EnableWindow(disabledOwner, TRUE);
    disabledOwner = nullptr;
    SetUnhandledExceptionFilter(earlierFilter);
    if (earlierTerminate) std::set_terminate(earlierTerminate);
}

// The owner is enabled again before this window goes: while it is still disabled, Windows, and Wine
// alike, give the activation to some other program's window instead of to it.
void closeSettings(HWND window) {
    enableOwner();
    DestroyWindow(window);
}

std::wstring currentFolder() {
    const DWORD size = GetCurrentDirectoryW(0, nullptr);
    std::wstring folder(size, L'\0');
    const DWORD length = size ? GetCurrentDirectoryW(size, folder.data()) : 0;
    folder.resize(length < size ? length : 0);
    return folder;
}

// Windows ignores OFN_NOCHANGEDIR in this dialog, as its documentation says: the process is left in
// the chosen file's folder, and a USB stick or network share stays busy while settings is open.
// Wine honours the flag. Either way the folder is put back here.
BOOL chooseFile(OPENFILENAMEW& dialog) {
    const std::wstring folder = currentFolder();
    const BOOL chosen = GetOpenFileNameW(&dialog);
    if (!folder.empty()) SetCurrentDirectoryW(folder.c_str());
    return chosen;
}

// Validate, ask, write, replace: whatever fails, the collection on screen and the one the next
// start loads never disagree.
void importBackup() {
    std::vector<wchar_t> file(longPath, L'\0');
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = settings;
    // The literal's own terminator is the extra NUL that ends the list.
    dialog.lpstrFilter = L"Intention backups (*.html;*.json)\0*.html;*.json\0All files\0*.*\0";
    dialog.nFilterIndex = 0;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = longPath;
    dialog.lpstrTitle = L"Import your intention backup";
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    if (!chooseFile(dialog)) return; // cancelled: nothing to say

    try {
        wishwell::Collection candidate;
        {
            const std::string bytes = readFile(std::filesystem::path(file.data()));
            candidate = wishwell::parseBackup(bytes);
        } // a backup may be 30 MB: its bytes go before the question

        if (!collection.sample) {
            const int answer = MessageBoxW(
                settings,
                L"Replace the screensaver's current collection with this backup?\n\nYour widget "
                L"and the original backup file will stay unchanged.",
                L"Import intentions", MB_YESNO | MB_ICONQUESTION);
            if (answer != IDYES) return;
        }

        atomicSave(directory / "intentions.json", wishwell::dumpDocument(candidate.document));
        collection = std::move(candidate);
        updateStatus();
    } catch (const std::exception& failure) {
        error(settings, failure.what());
    }
}

// Windows has already toggled the check mark; the file, the mark and reduced must end up agreeing.
void storeReducedMotion(HWND window) {
    HWND box = GetDlgItem(window, reducedMotionCommand);
    const bool value = SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
    try {
        saveReducedMotion(directory, value);
    } catch (...) {
        SendMessageW(box, BM_SETCHECK, reduced ? BST_CHECKED : BST_UNCHECKED, 0);
        throw;
    }
    reduced = value;
}

// False as well when either file cannot be read: the copy that follows then reports the failure.
bool holdSameBytes(const std::filesystem::path& first, const std::filesystem::path& second) {
    std::error_code failure;
    const std::uintmax_t size = std::filesystem::file_size(second, failure);
    if (failure || std::filesystem::file_size(first, failure) != size || failure) return false;
    try {
        return readFile(first) == readFile(second);
    } catch (const std::exception&) {
        return false;
    }
}

void installForThisUser() {
    try {
        std::vector<wchar_t> module(longPath, L'\0');
        const DWORD length = GetModuleFileNameW(nullptr, module.data(), longPath);
        if (length == 0 || length >= longPath) {
            throw std::runtime_error("Could not locate this screensaver.");
        }
        const std::filesystem::path source(std::wstring(module.data(), length));

        std::filesystem::create_directories(directory);
        const std::filesystem::path destination = directory / L"Wishwell Lumiary.scr";

        // The installed copy cannot be copied onto itself while it runs; it is already in place.
        // So is an earlier copy of these very bytes, which Windows' screensaver settings run as
        // their preview as soon as the installer has opened them: a running executable cannot be
        // overwritten, on Windows and under Wine alike.
        std::error_code unknown;
        if (!std::filesystem::equivalent(source, destination, unknown) &&
            !holdSameBytes(source, destination)) {
            if (!CopyFileW(source.c_str(), destination.c_str(), FALSE)) {
                throw std::runtime_error(
                    "Could not copy the screensaver. Close any running preview and try again.");
            }
        }

        const char* const notOpened =
            "The screensaver was copied, but Windows settings could not open.";
        wchar_t system[MAX_PATH] = {};
        const UINT systemLength = GetSystemDirectoryW(system, MAX_PATH);
        if (systemLength == 0 || systemLength >= MAX_PATH) throw std::runtime_error(notOpened);
        const std::filesystem::path program =
            std::filesystem::path(std::wstring(system, systemLength)) / L"rundll32.exe";

        // The quotes keep a path with spaces together as the installer's one argument.
        const std::wstring parameters =
            L"desk.cpl,InstallScreenSaver \"" + destination.native() + L"\"";
        const auto opened = reinterpret_cast<INT_PTR>(ShellExecuteW(
            settings, L"open", program.c_str(), parameters.c_str(), nullptr, SW_SHOWNORMAL));
        if (opened <= 32) throw std::runtime_error(notOpened);
    } catch (const std::exception& failure) {
        error(settings, failure.what());
    }
}

void runCommand(HWND window, int id) {
    // No failure of a command may end the program or leave the window unusable.
    try {
        switch (id) {
        case importCommand: importBackup(); break;
        case previewCollectionCommand: startViews(false); break;
        case previewSampleCommand: startViews(true); break;
        case reducedMotionCommand: storeReducedMotion(window); break;
        case installCommand:
            installForThisUser();
            showStanding(window);
            break;
        case closeCommand: closeSettings(window); break;
        default: break; // Escape and Return arrive as IDCANCEL and IDOK: not commands here
        }
    } catch (const std::exception& failure) {
        error(window, failure.what());
    }
}

} // namespace

UINT(WINAPI* windowDpi)(HWND window) = GetDpiForWindow;

HWND control(HWND parent, const wchar_t* className, const wchar_t* text, DWORD style, int x, int y,
             int width, int height, int id) {
    x = scaled(x);
    y = scaled(y);
    width = scaled(width);
    height = scaled(height);
    HWND child = CreateWindowExW(
        0, className, text, style | WS_CHILD | WS_VISIBLE, x, y, width, height, parent,
        reinterpret_cast<HMENU>(static_cast<std::uintptr_t>(static_cast<std::uint32_t>(id))),
        instance, nullptr);
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(uiFont), TRUE);
    return child;
}

SIZE settingsFrame(DWORD style, UINT dpi) {
    RECT frame = {0, 0, scaled(clientWidth, dpi), scaled(clientHeight, dpi)};
    AdjustWindowRectExForDpi(&frame, style, FALSE, 0, dpi);
    return {frame.right - frame.left, frame.bottom - frame.top};
}

void updateStatus() {
    if (!statusLabel) return;
    const std::wstring text =
        std::wstring(collection.sample ? L"Sample intentions" : L"Your saved intentions") +
        L" \u00b7 " + std::to_wstring(collection.items.size()) +
        L" entries\r\nBackups are copied locally. Nothing is uploaded.";
    SetWindowTextW(statusLabel, text.c_str());
}

LRESULT CALLBACK settingsProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: createContent(window); return 0;
    case WM_COMMAND: runCommand(window, LOWORD(wParam)); return 0;
    case WM_CLOSE: closeSettings(window); return 0;
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE) showStanding(window);
        break; // Windows still gives the focus back to the control that had it
    case WM_GETDPISCALEDSIZE:
        return frameForDpi(window, static_cast<UINT>(wParam), *reinterpret_cast<SIZE*>(lParam));
    case WM_DPICHANGED:
        layOut(window, HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_DESTROY:
        enableOwner(); // destroyed without a close as well
        settings = nullptr;
        if (uiFont) {
            DeleteObject(uiFont);
            uiFont = nullptr;
        }
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
