// The settings window in process: the status line, commands told apart by their id alone, and
// what the window gives up when it is destroyed.

#include "screensaver.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

namespace {

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
    }
    void TearDown() override {
        if (settings) DestroyWindow(settings);
        quitPosted();
        settings = nullptr;
        statusLabel = nullptr;
        collection = wishwell::Collection();
        reduced = false;
        std::filesystem::remove_all(directory);
        directory.clear();
    }
    HWND open() {
        return CreateWindowExW(0, L"WishwellSettings", L"Wishwell Lumiary",
                               WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                               CW_USEDEFAULT, 600, 480, nullptr, nullptr, instance, nullptr);
    }
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

} // namespace
