// The reduced-motion preference: the documents that carry a value, and the exact bytes stored.

#include "preferences.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ReducedMotionFrom, ReadsTheBooleanMemberOfATopLevelObject) {
    const struct {
        const char* text;
        bool expected;
    } cases[] = {
        {R"({"reducedMotion":true})", true},
        {R"({"reducedMotion":false})", false},
        {R"({"theme":"blues","reducedMotion":true,"count":3,"list":[1,{}]})", true},
        {" \r\n\t{ \"reducedMotion\" : true }\n", true},
        {R"({})", false},
        {R"({"motion":true})", false},
        {R"({"settings":{"reducedMotion":true}})", false}, // only the top level counts
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(wishwell::reducedMotionFrom(c.text), c.expected);
    }
}

TEST(ReducedMotionFrom, RefusesEverythingElse) {
    const char* const texts[] = {
        "",                            // empty file
        "true",                        // a boolean alone
        "[true]",                      // an array
        R"([{"reducedMotion":true}])", // the object inside an array
        R"({"reducedMotion":"true"})", // a string, not a boolean
        R"({"reducedMotion":1})",      // a number
        R"({"reducedMotion":null})",   // null
        "1",
        "null",
        "{\"reducedMotion\":true} // on", // comments are not JSON
        "/* on */ {\"reducedMotion\":true}",
        R"({"reducedMotion":true)",    // cut short
        R"({"reducedMotion":true}{})", // two documents
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        EXPECT_ANY_THROW(wishwell::reducedMotionFrom(text));
    }
}

TEST(PreferencesDocument, IsTheCompactOneMemberObject) {
    EXPECT_EQ(wishwell::preferencesDocument(true), R"({"reducedMotion":true})");
    EXPECT_EQ(wishwell::preferencesDocument(false), R"({"reducedMotion":false})");
    for (const bool value : {true, false})
        EXPECT_EQ(wishwell::reducedMotionFrom(wishwell::preferencesDocument(value)), value);
}

} // namespace
