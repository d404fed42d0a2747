// UTF-8 to UTF-16 at the Windows boundary, and the text the warning box shows.

#include "screensaver.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

std::string bytes(std::initializer_list<unsigned char> list) { return std::string(list.begin(), list.end()); }

TEST(Widen, ConvertsWellFormedUtf8) {
    struct Case {
        const char* name;
        std::string input;
        std::wstring expected;
    };
    const Case cases[] = {
        {"empty", "", L""},
        {"two-byte letter", bytes({0xC3, 0xA9}), L"\u00E9"},
        {"two-byte dot", bytes({0xC2, 0xB7}), L"\u00B7"},
        {"three-byte euro sign", bytes({0xE2, 0x82, 0xAC}), L"\u20AC"},
        {"four bytes become a surrogate pair", bytes({0xF0, 0x9F, 0x98, 0x80}),
         std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}},
        {"embedded zero byte", std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
        {"highest code point", bytes({0xF4, 0x8F, 0xBF, 0xBF}),
         std::wstring{wchar_t(0xDBFF), wchar_t(0xDFFF)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(widen(c.input), c.expected);
    }
}

TEST(Widen, RejectsAnythingThatIsNotUtf8) {
    struct Case {
        const char* name;
        std::string input;
    };
    const Case cases[] = {
        {"lone FF", bytes({0xFF})},
        {"stray continuation byte", bytes({'a', 0x80, 'b'})},
        {"truncated sequence", bytes({0xE2, 0x82})},
        {"overlong slash", bytes({0xC0, 0xAF})},
        {"overlong three-byte form", bytes({0xE0, 0x80, 0xAF})},
        {"encoded surrogate", bytes({0xED, 0xA0, 0x80})},
        {"above U+10FFFF", bytes({0xF4, 0x90, 0x80, 0x80})},
        {"one bad byte after good text", "I believe in myself." + bytes({0xFE})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            widen(c.input);
            ADD_FAILURE() << "accepted";
        } catch (const std::runtime_error& failure) {
            EXPECT_STREQ(failure.what(), "Invalid UTF-8 text.");
        }
    }
}

// A file-system failure's text: the path in UTF-8, then the system's sentence in the ANSI code
// page. Each part shows as it was meant, in the code page given, whatever this system's is.
TEST(MessageText, DecodesUtf8AndOnlyTheOtherBytesFromTheAnsiCodePage) {
    const std::string path = "C:\\Users\\Zoë Ελληνικά\\intentions.json: ";
    const std::wstring shownPath = L"C:\\Users\\Zoë Ελληνικά\\intentions.json: ";
    struct Case {
        const char* name;
        std::string message;
        UINT codePage;
        std::wstring expected;
    };
    const Case cases[] = {
        {"UTF-8", "Could not open the file in Zo" + bytes({0xC3, 0xAB}) + ".", 1252,
         L"Could not open the file in Zo\u00EB."},
        // "Accès refusé." as FormatMessageA gives it on a French Windows.
        {"code page 1252", "Acc" + bytes({0xE8}) + "s refus" + bytes({0xE9}) + ".", 1252,
         L"Acc\u00E8s refus\u00E9."},
        {"UTF-8 path, code page 1252 sentence",
         path + "Acc" + bytes({0xE8}) + "s refus" + bytes({0xE9}) + ".", 1252,
         shownPath + L"Acc\u00E8s refus\u00E9."},
        // "Δεν επιτρέπεται η πρόσβαση." on a Greek Windows.
        {"UTF-8 path, code page 1253 sentence",
         path + bytes({0xC4, 0xE5, 0xED, 0x20, 0xE5, 0xF0, 0xE9, 0xF4, 0xF1,
                       0xDD, 0xF0, 0xE5, 0xF4, 0xE1, 0xE9, 0x20, 0xE7, 0x20,
                       0xF0, 0xF1, 0xFC, 0xF3, 0xE2, 0xE1, 0xF3, 0xE7, 0x2E}),
         1253, shownPath + L"Δεν επιτρέπεται η πρόσβαση."},
        // "アクセスが拒否されました。" on a Japanese Windows: the second byte of "ア" is "A".
        {"UTF-8 path, code page 932 sentence",
         path +
             bytes({0x83, 0x41, 0x83, 0x4E, 0x83, 0x5A, 0x83, 0x58, 0x82, 0xAA, 0x8B, 0x91, 0x94,
                    0xDB, 0x82, 0xB3, 0x82, 0xEA, 0x82, 0xDC, 0x82, 0xB5, 0x82, 0xBD, 0x81, 0x42}),
         932, shownPath + L"アクセスが拒否されました。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::wstring shown;
        ASSERT_NO_THROW(shown = messageText(c.message, c.codePage));
        EXPECT_EQ(shown, c.expected);
    }
}

// What the warning box shows, read by a timer that the box's own message loop runs, and answered
// at once, so the test sees exactly what a person would.
struct ShownBox {
    std::wstring caption;
    std::wstring text;
    int boxes = 0;
};
ShownBox shown;

BOOL CALLBACK answerIfBox(HWND window, LPARAM) {
    wchar_t name[16] = {};
    if (!GetClassNameW(window, name, 16) || std::wstring(name) != L"#32770" || !IsWindowVisible(window)) return TRUE;
    wchar_t buffer[512] = {};
    GetWindowTextW(window, buffer, 512);
    shown.caption = buffer;
    GetDlgItemTextW(window, 0xFFFF, buffer, 512); // the message box's text control
    shown.text = buffer;
    ++shown.boxes;
    PostMessageW(window, WM_COMMAND, IDOK, 0);
    return FALSE;
}

void CALLBACK lookForTheBox(HWND, UINT, UINT_PTR, DWORD) {
    if (shown.boxes == 0) EnumThreadWindows(GetCurrentThreadId(), answerIfBox, 0);
}

TEST(Error, ShowsEveryTextItIsGivenAndNeverRaises) {
    struct Case {
        const char* name;
        std::string message;
        std::wstring expected;
    };
    const Case cases[] = {
        {"UTF-8", "Could not open the file in Zo" + bytes({0xC3, 0xAB}) + ".", L"Could not open the file in Zo\u00EB."},
        // A file-system message: its path in UTF-8, the system's part from FormatMessageA.
        {"UTF-8 path, ANSI sentence",
         "create_directories: Zoë Ελληνικά: Acc" + bytes({0xE8}) + "s refus" + bytes({0xE9}) + ".",
         L"create_directories: Zoë Ελληνικά: Accès refusé."},
    };
    if (GetACP() != 1252)
        GTEST_SKIP()
            << "The system sentence here is in code page 1252, the ANSI code page of an English "
               "or Western European Windows and of the test prefix; this system's is "
            << GetACP() << ".";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        shown = ShownBox();
        const UINT_PTR timer = SetTimer(nullptr, 0, 20, lookForTheBox);
        ASSERT_NE(timer, 0u);
        EXPECT_NO_THROW(error(nullptr, c.message));
        KillTimer(nullptr, timer);
        EXPECT_EQ(shown.boxes, 1);
        EXPECT_EQ(shown.caption, L"Wishwell Lumiary");
        EXPECT_EQ(shown.text, c.expected);
    }
}

} // namespace
