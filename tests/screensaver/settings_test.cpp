// The settings window in process: the status line, commands told apart by their id alone, what
// the window gives up when it is destroyed, what an import or a failed save leaves behind, the
// layout at another monitor's DPI, and the owner that a dying process enables again.

#include "screensaver.h"

#include "importpatch.h"

#include <gtest/gtest.h>

#include <commdlg.h>

#include <array>
#include <exception>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::wstring textOf(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::string bytesOf(const std::filesystem::path& file) {
    std::ifstream stream(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

bool quitPosted() {
    MSG message;
    bool quit = false;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message != WM_QUIT) DispatchMessageW(&message);
        quit = quit || message.message == WM_QUIT;
    }
    return quit;
}

void writeBytes(const fs::path& file, const std::string& bytes) {
    std::ofstream stream(file, std::ios::binary);
    stream << bytes;
}

std::string backupOf(int entries, const std::string& prefix) {
    std::string items;
    for (int i = 0; i < entries; ++i) {
        items += std::string(i ? "," : "") + R"({"id":")" + prefix + std::to_string(i) +
                 R"(","text":"I keep promise )" + std::to_string(i) +
                 R"(.","sentAt":"","animation":"windows"})";
    }
    return R"({"format":"wishwell-intentions","version":1,"intentions":[)" + items + "]}";
}

// The program's import entries for the open-file dialog and the message box, which the tests point
// at a stand-in for the user.
extern "C" void* importedGetOpenFileNameW __asm__("__imp_GetOpenFileNameW");
extern "C" void* importedMessageBoxW __asm__("__imp_MessageBoxW");

// The user picks `chosen` (or cancels when it is empty) after browsing to `browsed`, and answers
// Yes to every question and OK to every warning. The dialog does what Windows does: whatever the
// flags say, the process is left in the last folder the user browsed to.
struct User {
    fs::path browsed;
    fs::path chosen;
    std::vector<DWORD> flags;
    std::vector<std::wstring> boxes;
};
User user;

BOOL WINAPI chooseAsOnWindows(OPENFILENAMEW* dialog) {
    user.flags.push_back(dialog->Flags);
    SetCurrentDirectoryW(user.browsed.c_str());
    const std::wstring& name = user.chosen.native();
    if (name.empty() || name.size() >= dialog->nMaxFile) return FALSE;
    name.copy(dialog->lpstrFile, name.size());
    dialog->lpstrFile[name.size()] = L'\0';
    return TRUE;
}

int WINAPI answerBox(HWND, LPCWSTR text, LPCWSTR, UINT type) {
    user.boxes.emplace_back(text);
    return (type & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
}

fs::path currentFolder() {
    wchar_t folder[MAX_PATH] = {};
    return fs::path(std::wstring(folder, GetCurrentDirectoryW(MAX_PATH, folder)));
}

// Each control's x, y, width and height relative to the client area.
std::vector<std::array<int, 4>> controlBoxes(HWND window) {
    std::vector<std::array<int, 4>> boxes;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT box{};
        GetWindowRect(child, &box);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&box), 2);
        boxes.push_back({box.left, box.top, box.right - box.left, box.bottom - box.top});
    }
    return boxes;
}

// The stand-ins for the handlers that the process had before the settings window opened.
struct Earlier {
    LONG action = EXCEPTION_CONTINUE_SEARCH;
    std::vector<EXCEPTION_POINTERS*> filtered;
    int terminated = 0;
};
Earlier earlier;
struct Terminated {};

LONG WINAPI earlierFilter(EXCEPTION_POINTERS* exception) {
    earlier.filtered.push_back(exception);
    return earlier.action;
}

// A terminate handler must not return; this one leaves by a throw that the test catches.
void earlierTerminate() {
    ++earlier.terminated;
    throw Terminated();
}

class SettingsWindow : public testing::Test {
protected:
    void SetUp() override {
        instance = GetModuleHandleW(nullptr);
        registerClasses();

        wchar_t temporary[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temporary);
        directory = std::filesystem::path(temporary) /
                    (L"settings-test-" + std::to_wstring(GetCurrentProcessId()));
        std::filesystem::remove_all(directory);
        collection = wishwell::Collection();
        collection.sample = true;
        collection.items.resize(8);
        reduced = false;
        startFolder = currentFolder();
        user = User();
    }
    void TearDown() override {
        windowDpi = GetDpiForWindow;
        SetCurrentDirectoryW(startFolder.c_str());
        if (settings) DestroyWindow(settings);
        quitPosted();
        settings = nullptr;
        statusLabel = nullptr;
        collection = wishwell::Collection();
        reduced = false;
        std::filesystem::remove_all(directory);
        directory.clear();
    }
    HWND open(HWND owner = nullptr) {
        return CreateWindowExW(0, L"WishwellSettings", L"Wishwell Lumiary",
                               WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                               CW_USEDEFAULT, 600, 480, owner, nullptr, instance, nullptr);
    }
    fs::path startFolder;
};

TEST_F(SettingsWindow, StatusLineNamesTheCollectionAndCountsItsEntriesInPlainDigits) {
    struct Case {
        const char* name;
        bool sample;
        std::size_t count;
        const wchar_t* firstLine;
    };
    const Case cases[] = {
        {"the samples", true, 8, L"Sample intentions \u00b7 8 entries"},
        {"one entry keeps the plural", false, 1, L"Your saved intentions \u00b7 1 entries"},
        {"no thousands separator", false, 1234, L"Your saved intentions \u00b7 1234 entries"},
        {"a backup marked as sample", true, 30, L"Sample intentions \u00b7 30 entries"},
        {"a million", false, 1000000, L"Your saved intentions \u00b7 1000000 entries"},
    };
    HWND window = open();
    ASSERT_NE(window, nullptr);
    ASSERT_NE(statusLabel, nullptr);
    EXPECT_EQ(
        textOf(statusLabel),
        L"Sample intentions \u00b7 8 entries\r\nBackups are copied locally. Nothing is uploaded.");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        collection.sample = c.sample;
        collection.items.resize(c.count);
        updateStatus();
        EXPECT_EQ(textOf(statusLabel), std::wstring(c.firstLine) +
                                           L"\r\nBackups are copied locally. Nothing is uploaded.");
    }
}

TEST_F(SettingsWindow, CommandsAreToldApartByTheirIdWhateverTheNotificationCode) {
    HWND window = open();
    ASSERT_NE(window, nullptr);
    HWND box = GetDlgItem(window, 104);
    ASSERT_NE(box, nullptr);
    const std::filesystem::path preferences = directory / "preferences.json";

    // Ids outside 101 to 106, among them the ones Escape and Return produce, do nothing.
    for (const WORD id : {0, 1, 2, 100, 107, 1104}) {
        SCOPED_TRACE(id);
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
        EXPECT_TRUE(IsWindow(window));
        EXPECT_FALSE(std::filesystem::exists(directory));
    }

    const WORD codes[] = {BN_CLICKED, BN_DOUBLECLICKED, 0xBEEF};
    bool checked = false;
    for (const WORD code : codes) {
        SCOPED_TRACE(code);
        checked = !checked;
        SendMessageW(box, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(104, code), reinterpret_cast<LPARAM>(box));
        EXPECT_EQ(reduced, checked);
        EXPECT_EQ(bytesOf(preferences),
                  checked ? R"({"reducedMotion":true})" : R"({"reducedMotion":false})");
    }

    SendMessageW(window, WM_COMMAND, MAKEWPARAM(106, 0x7777), 0);
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(SettingsWindow, TheCheckboxStartsFromThePreference) {
    for (const bool stored : {false, true}) {
        SCOPED_TRACE(stored);
        reduced = stored;
        HWND window = open();
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(SendDlgItemMessageW(window, 104, BM_GETCHECK, 0, 0),
                  stored ? BST_CHECKED : BST_UNCHECKED);
        DestroyWindow(window);
        quitPosted();
    }
}

TEST_F(SettingsWindow, DestructionClearsTheWindowFreesTheFontAndEndsTheLoop) {
    HWND window = open();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(settings, window);
    HFONT font = uiFont;
    ASSERT_NE(font, nullptr);
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0)), font);
    }
    LOGFONTW described{};
    ASSERT_EQ(GetObjectW(font, sizeof(described), &described), static_cast<int>(sizeof(described)));
    EXPECT_EQ(described.lfHeight, -MulDiv(16, static_cast<int>(GetDpiForSystem()), 96));
    EXPECT_STREQ(described.lfFaceName, L"Segoe UI");

    quitPosted();
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(settings, nullptr);
    EXPECT_EQ(uiFont, nullptr);
    EXPECT_EQ(GetObjectW(font, sizeof(described), &described), 0); // deleted
    EXPECT_TRUE(quitPosted());
}

TEST_F(SettingsWindow, AnImportLeavesTheCurrentFolderWhereItWas) {
    const fs::path backups = directory / L"backups \u00e9";
    fs::create_directories(backups);
    writeBytes(backups / "good.json", backupOf(3, "g"));
    writeBytes(backups / "bad.json", "not a backup");
    const fs::path before = directory.parent_path();
    ASSERT_TRUE(SetCurrentDirectoryW(before.c_str()));
    const ImportPatch dialog(importedGetOpenFileNameW, reinterpret_cast<void*>(&chooseAsOnWindows));
    const ImportPatch boxes(importedMessageBoxW, reinterpret_cast<void*>(&answerBox));
    HWND window = open();
    ASSERT_NE(window, nullptr);

    struct Case {
        const char* name;
        const wchar_t* file; // empty: the user cancels
        std::size_t boxes;   // shown by the end of the case
        std::size_t entries;
    };
    const Case cases[] = {
        {"cancelled", L"", 0, 8},
        {"refused", L"bad.json", 1, 8},
        {"imported", L"good.json", 1, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        user.browsed = backups;
        user.chosen = *c.file ? backups / c.file : fs::path();
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(101, BN_CLICKED), 0);
        EXPECT_EQ(currentFolder(), before);
        EXPECT_EQ(user.boxes.size(), c.boxes);
        EXPECT_EQ(collection.items.size(), c.entries);
        ASSERT_FALSE(user.flags.empty());
        EXPECT_EQ(user.flags.back() & OFN_NOCHANGEDIR, static_cast<DWORD>(OFN_NOCHANGEDIR));
    }
}

TEST_F(SettingsWindow, AFailedSaveLeavesTheCollectionAndTheSwitchAsTheyWere) {
    const ImportPatch dialog(importedGetOpenFileNameW, reinterpret_cast<void*>(&chooseAsOnWindows));
    const ImportPatch boxes(importedMessageBoxW, reinterpret_cast<void*>(&answerBox));
    const std::wstring pid = std::to_wstring(GetCurrentProcessId());
    fs::create_directories(directory);
    writeBytes(directory / "new.json", backupOf(5, "new"));
    user.browsed = directory;
    user.chosen = directory / "new.json";
    const std::string saveFailed = "Could not save your screensaver settings.";

    // Over the samples no question is asked; over a user collection the save fails after Yes.
    struct Case {
        const char* name;
        bool sample;
        std::size_t boxes;
    };
    for (const Case& c :
         {Case{"over the samples", true, 1}, Case{"over a user collection", false, 2}}) {
        SCOPED_TRACE(c.name);
        collection = c.sample ? wishwell::samples() : wishwell::parseBackup(backupOf(2, "old"));
        const std::string shown = wishwell::dumpDocument(collection.document);
        HWND window = open();
        ASSERT_NE(window, nullptr);
        const std::wstring status = textOf(statusLabel);
        // A folder in the way of the temporary file stops the save before anything is written.
        fs::create_directory(directory / (L"intentions.json.tmp-" + pid));
        user.boxes.clear();

        SendMessageW(window, WM_COMMAND, MAKEWPARAM(101, BN_CLICKED), 0);
        ASSERT_EQ(user.boxes.size(), c.boxes);
        EXPECT_EQ(user.boxes.back(), std::wstring(saveFailed.begin(), saveFailed.end()));
        // The previews draw collection: it must still be the one shown before.
        EXPECT_EQ(collection.sample, c.sample);
        EXPECT_EQ(wishwell::dumpDocument(collection.document), shown);
        EXPECT_EQ(collection.items.size(), c.sample ? 8u : 2u);
        EXPECT_EQ(textOf(statusLabel), status);
        EXPECT_FALSE(fs::exists(directory / "intentions.json"));
        fs::remove(directory / (L"intentions.json.tmp-" + pid));
        DestroyWindow(window);
        quitPosted();
    }

    // The switch: the check mark and reduced keep the old value, whichever it was.
    for (const bool old : {false, true}) {
        SCOPED_TRACE(old);
        reduced = old;
        HWND window = open();
        ASSERT_NE(window, nullptr);
        fs::create_directory(directory / (L"preferences.json.tmp-" + pid));
        user.boxes.clear();
        HWND box = GetDlgItem(window, 104);
        SendMessageW(box, BM_SETCHECK, old ? BST_UNCHECKED : BST_CHECKED, 0); // the user's click
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(104, BN_CLICKED),
                     reinterpret_cast<LPARAM>(box));
        ASSERT_EQ(user.boxes.size(), 1u);
        EXPECT_EQ(user.boxes.back(), std::wstring(saveFailed.begin(), saveFailed.end()));
        EXPECT_EQ(reduced, old);
        EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), old ? BST_CHECKED : BST_UNCHECKED);
        EXPECT_FALSE(fs::exists(directory / "preferences.json"));
        fs::remove(directory / (L"preferences.json.tmp-" + pid));
        DestroyWindow(window);
        quitPosted();
    }
}

TEST_F(SettingsWindow, ADpiChangeResizesTheWindowAndScalesEveryControlAndTheFont) {
    // x, y, width and height at 96 dpi, in creation order.
    const std::array<int, 4> at96[] = {
        {22, 18, 550, 30},  {22, 57, 550, 50},   {22, 122, 260, 38}, {302, 122, 260, 38},
        {22, 176, 260, 38}, {302, 176, 260, 38}, {22, 235, 540, 66}, {22, 308, 540, 44},
        {22, 366, 260, 38}, {430, 366, 132, 38}, {22, 425, 540, 26},
    };
    const auto expectLayout = [&](HWND window, UINT dpi) {
        const std::vector<std::array<int, 4>> boxes = controlBoxes(window);
        ASSERT_EQ(boxes.size(), std::size(at96));
        for (std::size_t i = 0; i < boxes.size(); ++i) {
            SCOPED_TRACE(i);
            std::array<int, 4> expected{};
            for (std::size_t k = 0; k < 4; ++k)
                expected[k] = MulDiv(at96[i][k], static_cast<int>(dpi), 96);
            EXPECT_EQ(boxes[i], expected);
        }
        LOGFONTW described{};
        ASSERT_EQ(GetObjectW(uiFont, sizeof(described), &described),
                  static_cast<int>(sizeof(described)));
        EXPECT_EQ(described.lfHeight, -MulDiv(16, static_cast<int>(dpi), 96));
        EXPECT_STREQ(described.lfFaceName, L"Segoe UI");
        for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0)), uiFont);
    };
    // Opened on a monitor whose DPI is not the system's, the window is laid out again at once.
    static UINT monitorDpi;
    monitorDpi = GetDpiForSystem() == 144 ? 192 : 144;
    windowDpi = [](HWND) { return monitorDpi; };
    HWND window = open();
    windowDpi = GetDpiForWindow;
    ASSERT_NE(window, nullptr);
    expectLayout(window, monitorDpi);
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, MulDiv(586, static_cast<int>(monitorDpi), 96));
    EXPECT_EQ(client.bottom, MulDiv(475, static_cast<int>(monitorDpi), 96));
    DestroyWindow(window);
    quitPosted();
    window = open();
    ASSERT_NE(window, nullptr);
    {
        SCOPED_TRACE("the first layout, by the system DPI");
        expectLayout(window, GetDpiForSystem());
    }

    // The rectangle Windows suggests on a monitor of that DPI; Wine never sends one.
    HFONT before = uiFont;
    for (const UINT dpi : {144u, 96u}) {
        SCOPED_TRACE(dpi);
        RECT suggested = {70, 40, 70 + MulDiv(600, static_cast<int>(dpi), 96),
                          40 + MulDiv(480, static_cast<int>(dpi), 96)};
        EXPECT_EQ(SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                               reinterpret_cast<LPARAM>(&suggested)),
                  0);
        RECT frame{};
        GetWindowRect(window, &frame);
        EXPECT_TRUE(EqualRect(&frame, &suggested));
        expectLayout(window, dpi);
        EXPECT_NE(uiFont, before);
        LOGFONTW described{};
        EXPECT_EQ(GetObjectW(before, sizeof(described), &described), 0); // the old font is deleted
        before = uiFont;
    }

    // The size Windows is to suggest: a client area of 586 x 475 units at that DPI, whatever the
    // caption and the borders take there.
    struct Scaled {
        UINT dpi;
        int width, height;
    };
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
    for (const Scaled& c : {Scaled{96, 586, 475}, Scaled{120, 733, 594}, Scaled{144, 879, 713},
                            Scaled{192, 1172, 950}}) {
        SCOPED_TRACE(c.dpi);
        SIZE size{};
        EXPECT_TRUE(
            SendMessageW(window, WM_GETDPISCALEDSIZE, c.dpi, reinterpret_cast<LPARAM>(&size)));
        RECT frame{};
        ASSERT_TRUE(AdjustWindowRectExForDpi(&frame, style, FALSE, 0, c.dpi));
        EXPECT_EQ(size.cx - (frame.right - frame.left), c.width);
        EXPECT_EQ(size.cy - (frame.bottom - frame.top), c.height);
    }
    // Wine draws every frame at the system DPI: there the suggested size gives that client area.
    const int system = static_cast<int>(GetDpiForSystem());
    SIZE size{};
    SendMessageW(window, WM_GETDPISCALEDSIZE, system, reinterpret_cast<LPARAM>(&size));
    RECT suggested = {70, 40, 70 + size.cx, 40 + size.cy};
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(system, system),
                 reinterpret_cast<LPARAM>(&suggested));
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, MulDiv(586, system, 96));
    EXPECT_EQ(client.bottom, MulDiv(475, system, 96));

    DestroyWindow(window);
    quitPosted();
    EXPECT_EQ(uiFont, nullptr);
    LOGFONTW described{};
    EXPECT_EQ(GetObjectW(before, sizeof(described), &described), 0);
}

TEST_F(SettingsWindow, TheChosenScreensaverIsToldByItsFileNotByTheTextOfItsPath) {
    using wishwell::Choice;
    fs::create_directories(directory);
    const fs::path copy = directory / L"Wishwell Lumiary.scr";
    const fs::path program = directory / L"Downloaded Lumiary.scr";
    for (const fs::path& file : {copy, program, directory / L"Another.scr"})
        writeBytes(file, "the same bytes");
    wchar_t name[MAX_PATH] = {};
    const std::wstring shortCopy(name, GetShortPathNameW(copy.c_str(), name, MAX_PATH));
    ASSERT_NE(shortCopy, copy.native()); // this drive gives short names, as Windows keeps them
    std::wstring upperCopy = copy.native();
    CharUpperBuffW(upperCopy.data(), static_cast<DWORD>(upperCopy.size()));
    const std::pair<std::wstring, Choice> cases[] = {
        {copy.native(), Choice::installedCopy},
        {shortCopy, Choice::installedCopy},
        {upperCopy, Choice::installedCopy},
        {program.native(), Choice::thisProgram},
        {(directory / L"Another.scr").native(), Choice::another},
        {(directory / L"Gone.scr").native(), Choice::another},
        {L"", Choice::none},
    };
    for (const auto& [named, choice] : cases) {
        SCOPED_TRACE(testing::Message() << &named - &cases[0].first);
        EXPECT_EQ(chosenFile(named, program, copy), choice);
    }
}

TEST_F(SettingsWindow, ADyingProcessEnablesTheOwnerItDisabled) {
    const LPTOP_LEVEL_EXCEPTION_FILTER original = SetUnhandledExceptionFilter(earlierFilter);
    const std::terminate_handler originalTerminate = std::set_terminate(earlierTerminate);
    earlier = Earlier();
    const auto currentFilter = [] {
        const LPTOP_LEVEL_EXCEPTION_FILTER current = SetUnhandledExceptionFilter(nullptr);
        SetUnhandledExceptionFilter(current);
        return current;
    };
    HWND owner = CreateWindowExW(0, L"STATIC", L"Screen Saver Settings", WS_OVERLAPPED, 0, 0, 200,
                                 100, nullptr, nullptr, instance, nullptr);
    ASSERT_NE(owner, nullptr);

    // Without an owner nothing needs enabling, and the process's handlers stay as they were.
    HWND window = open();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(currentFilter(), &earlierFilter);
    EXPECT_EQ(std::get_terminate(), &earlierTerminate);
    DestroyWindow(window);
    quitPosted();

    window = open(owner);
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(IsWindowEnabled(owner));
    const LPTOP_LEVEL_EXCEPTION_FILTER filter = currentFilter();
    ASSERT_NE(filter, nullptr);
    ASSERT_NE(filter, &earlierFilter);

    // A fault: the earlier filter decides what becomes of it, and only where the process goes on
    // after it (a C++ throw that the C runtime resumes) does the owner stay disabled.
    EXCEPTION_RECORD record{};
    record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
    CONTEXT context{};
    EXCEPTION_POINTERS fault = {&record, &context};
    struct Case {
        const char* name;
        LONG action;
        bool enabled;
    };
    const Case cases[] = {
        {"Windows' crash handling goes on", EXCEPTION_CONTINUE_SEARCH, true},
        {"the process ends at once", EXCEPTION_EXECUTE_HANDLER, true},
        {"the process goes on", EXCEPTION_CONTINUE_EXECUTION, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EnableWindow(owner, FALSE);
        earlier.action = c.action;
        earlier.filtered.clear();
        EXPECT_EQ(filter(&fault), c.action);
        EXPECT_EQ(earlier.filtered, std::vector<EXCEPTION_POINTERS*>{&fault});
        EXPECT_EQ(IsWindowEnabled(owner) != FALSE, c.enabled);
    }

    // A C++ exception that nothing catches: the owner first, then the earlier handler.
    EnableWindow(owner, FALSE);
    EXPECT_THROW(std::get_terminate()(), Terminated);
    EXPECT_EQ(earlier.terminated, 1);
    EXPECT_TRUE(IsWindowEnabled(owner));

    // Closed normally, the window enables the owner itself and hands the handlers back.
    EnableWindow(owner, FALSE);
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(IsWindowEnabled(owner));
    EXPECT_EQ(currentFilter(), &earlierFilter);
    EXPECT_EQ(std::get_terminate(), &earlierTerminate);

    DestroyWindow(owner);
    quitPosted();
    SetUnhandledExceptionFilter(original);
    std::set_terminate(originalTerminate);
}

} // namespace
