// The launch mode and window handle read from the text after the program name.

#include "command.h"

#include <gtest/gtest.h>

namespace {

using wishwell::Mode;

struct Case {
    const wchar_t* line;
    Mode mode;
    std::uint64_t handle;
};

const char* name(Mode mode) {
    switch (mode) {
    case Mode::configure: return "configure";
    case Mode::run: return "run";
    case Mode::preview: return "preview";
    case Mode::invalid: return "invalid";
    }
    return "?";
}

void expectAll(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        std::wstring shown(c.line);
        SCOPED_TRACE(std::string(shown.begin(), shown.end()));
        const wishwell::Command result = wishwell::command(c.line);
        EXPECT_STREQ(name(result.mode), name(c.mode));
        EXPECT_EQ(result.handle, c.handle);
    }
}

TEST(Command, NoArgumentsOpensSettings) {
    expectAll({{L"", Mode::configure, 0}, {L"   ", Mode::configure, 0}, {L"\t \t", Mode::configure, 0}});
}

TEST(Command, RunSwitchInAnySpellingButWithoutANumber) {
    expectAll({{L"/s", Mode::run, 0},
               {L"/S", Mode::run, 0},
               {L"-s", Mode::run, 0},
               {L"/s:", Mode::run, 0},
               {L"  /s", Mode::run, 0},
               {L"/s   ", Mode::run, 0},
               {L"\t/s\t", Mode::run, 0},
               {L"/s 5", Mode::invalid, 0},
               {L"/s5", Mode::invalid, 0},
               {L"/sx", Mode::invalid, 0}});
}

TEST(Command, PreviewNeedsANonZeroDecimalHandle) {
    expectAll({{L"/p 1234", Mode::preview, 1234},
               {L"/p:1234", Mode::preview, 1234},
               {L"/P1234", Mode::preview, 1234},
               {L"-p : 1234", Mode::preview, 1234},
               {L"/p 1234   ", Mode::preview, 1234},
               {L"/p +12", Mode::preview, 12},
               {L"/p 18446744073709551615", Mode::preview, 18446744073709551615ull},
               {L"/p", Mode::invalid, 0},
               {L"/p 0", Mode::invalid, 0},
               {L"/p -5", Mode::invalid, 0},
               {L"/p 12ab", Mode::invalid, 0},
               {L"/p 0x10", Mode::invalid, 0},
               {L"/p 1234 x", Mode::invalid, 0},
               {L"/p 18446744073709551616", Mode::invalid, 0},
               {L"/p 99999999999999999999999", Mode::invalid, 0}});
}

TEST(Command, SettingsTakeAnOptionalOwnerHandle) {
    expectAll({{L"/c", Mode::configure, 0},
               {L"/C", Mode::configure, 0},
               {L"/c:8454", Mode::configure, 8454},
               {L"/c 8454 ", Mode::configure, 8454},
               {L"/c foo", Mode::invalid, 0},
               {L"/c:-1", Mode::invalid, 0}});
}

TEST(Command, AnythingElseIsInvalid) {
    expectAll({{L"s", Mode::invalid, 0},
               {L"/", Mode::invalid, 0},
               {L"//s", Mode::invalid, 0},
               {L"/x", Mode::invalid, 0},
               {L"/é", Mode::invalid, 0},
               {L"/ s", Mode::invalid, 0}});
}

} // namespace
