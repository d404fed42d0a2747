#include "standing.h"

#include <gtest/gtest.h>

namespace {

using wishwell::Choice;

// Each sentence where it applies, each one winning over every later one, whole minutes rounded
// up, and each fact that could not be read left out.
TEST(Standing, OneSentenceInItsOrder) {
    const std::string policy =
        "The screensaver on this PC is chosen by your organisation's policy.";
    const std::string notChosen = "Windows is not set to start Wishwell Lumiary. Press Install for "
                                  "this Windows user to choose it.";
    const std::string older =
        "An older version is installed. Press Install for this Windows user to update it.";
    const auto off = [](std::string n) {
        return "The display turns off after " + n +
               ", before the screensaver starts. Change it in Windows' power settings.";
    };
    const auto starts = [](std::string n) {
        return "Windows starts Wishwell Lumiary after " + n + " without input.";
    };
    const Choice copy = Choice::installedCopy;
    struct Case {
        const char* name;
        wishwell::SaverFacts facts; // policy off, policy's choice, user's choice, versions, times
        std::string sentence;
    };
    const Case cases[] = {
        {"policy off", {true, {}, copy, 1, 2, 600, 60}, policy},
        {"policy names another", {false, Choice::another, copy, 2, 2, 600, 0}, policy},
        {"policy names this", {false, copy, Choice::none, 2, 2, 600, 0}, starts("10 minutes")},
        {"not chosen", {false, {}, Choice::none, 1, 2, 600, 60}, notChosen},
        {"another chosen", {false, {}, Choice::another, 1, 2, 600, 60}, notChosen},
        {"older copy", {false, {}, copy, 1, 2, 600, 60}, older},
        {"this, not the copy",
         {false, {}, Choice::thisProgram, 1, 2, 600, 0},
         starts("10 minutes")},
        {"display off as it starts", {false, {}, copy, 2, 2, 600, 600}, off("10 minutes")},
        {"display off later", {false, {}, copy, 2, 2, 600, 601}, starts("10 minutes")},
        {"display never off", {false, {}, copy, 2, 2, 60, 0}, starts("1 minute")},
        {"a second", {false, {}, copy, 2, 2, 61, 1}, off("1 minute")},
        {"a minute and a second", {false, {}, copy, 2, 2, 61, 0}, starts("2 minutes")},
        {"no choice read", {false, {}, {}, 1, 2, 600, 0}, starts("10 minutes")},
        {"no copy's version", {false, {}, copy, {}, 2, 600, 0}, starts("10 minutes")},
        {"no own version", {false, {}, copy, 1, {}, 600, 0}, starts("10 minutes")},
        {"no display time-out", {false, {}, copy, 2, 2, 600, {}}, starts("10 minutes")},
        {"no time-out", {false, {}, copy, 2, 2, {}, 60}, starts("a while")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(wishwell::standingSentence(c.facts), c.sentence);
    }
}

} // namespace
