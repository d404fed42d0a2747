// The nesting bound of the parse, and its agreement with the JSON library's parser callback.

#include "backup.h"
#include "backup_texts.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace backup_texts;
using nlohmann::json;

namespace {

std::string nestedArrays(int count, const std::string& inside = "") {
    return std::string(count, '[') + inside + std::string(count, ']');
}

std::string nestedObjects(int count, const std::string& inside = "1") {
    std::string text;
    for (int i = 0; i < count; ++i) text += "{\"k\":";
    text += inside;
    return text + std::string(count, '}');
}

// A valid backup with the value under one more root key.
std::string backupWithExtra(const std::string& value) {
    std::string text = backupText({entry()});
    text.insert(1, "\"extra\":" + value + ",");
    return text;
}

// The outcome of the parse: the sentence raised, or the compact text of the value.
std::string parsed(const std::string& text) {
    try {
        return wishwell::parseDocument(text).dump();
    } catch (const std::runtime_error& failure) {
        return failure.what();
    }
}

// The same through the library's parser callback with the bound on its depth.
std::string parsedWithCallback(const std::string& text) {
    const json::parser_callback_t bound = [](int depth, json::parse_event_t, json&) {
        if (depth > wishwell::maximumNesting) throw std::runtime_error(tooDeep);
        return true;
    };
    try {
        return json::parse(text, bound, true, false).dump();
    } catch (const std::runtime_error& failure) {
        return failure.what();
    } catch (const std::exception&) {
        return invalidJson;
    }
}

} // namespace

// 32 levels inside the root pass; one more level, or a value inside the 32nd, is too deep.
TEST(Nesting, DepthBounds) {
    struct Case {
        const char* name;
        std::string text;
        const std::string& expected;
    };
    const Case cases[] = {
        {"32 empty arrays under a root key", backupWithExtra(nestedArrays(32)), accepted},
        {"33 empty arrays under a root key", backupWithExtra(nestedArrays(33)), tooDeep},
        {"32 arrays around a number", backupWithExtra(nestedArrays(32, "7")), tooDeep},
        {"31 arrays around a number", backupWithExtra(nestedArrays(31, "7")), accepted},
        {"32 arrays around an empty object", backupWithExtra(nestedArrays(32, "{}")), tooDeep},
        {"31 arrays around an empty object", backupWithExtra(nestedArrays(31, "{}")), accepted},
        {"32 objects under a root key", backupWithExtra(nestedObjects(31, "{}")), accepted},
        {"a key inside the 32nd object", backupWithExtra(nestedObjects(32, "{}")), tooDeep},
        {"deep inside an ignored key of an entry",
         backupText({{{"id", "a"},
                      {"text", "b"},
                      {"sentAt", ""},
                      {"animation", "legacy"},
                      {"more", json::parse(nestedArrays(30))}}}),
         accepted},
        {"too deep inside an ignored key of an entry",
         R"({"format":"wishwell-intentions","version":1,"intentions":[{"more":)" +
             nestedArrays(31) + "}]}",
         tooDeep},
        {"33 arrays as the root of a page", pageAround(nestedArrays(33)), unsupported},
        {"34 arrays as the root of a page", pageAround(nestedArrays(34)), tooDeep},
        {"far too deep", backupWithExtra(nestedArrays(100000)), tooDeep},
        {"too deep, then a syntax error", backupWithExtra(nestedArrays(33) + "}}}"), tooDeep},
        {"too deep and never closed", "{\"a\":" + std::string(40, '['), tooDeep},
        {"a syntax error, then too deep", "{\"a\":[1 2]," + nestedArrays(40) + "}", invalidJson},
        {"too deep, then text after the document", backupWithExtra(nestedArrays(33)) + "x",
         tooDeep},
        {"deep, then a document check fails", "{\"a\":" + nestedArrays(32) + "}", unsupported},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(outcome(c.text), c.expected);
    }
}

// The bounded parse gives what the callback parse gives, value or sentence, on the bounds, on
// mixed documents, and at every point where a document can break off.
TEST(Nesting, AgreesWithTheParserCallback) {
    std::vector<std::string> texts;
    for (int depth = 30; depth <= 35; ++depth) {
        texts.push_back(nestedArrays(depth));
        texts.push_back(nestedArrays(depth, "1"));
        texts.push_back(nestedArrays(depth, "{}"));
        texts.push_back(nestedArrays(depth, "{\"k\":null}"));
        texts.push_back(nestedObjects(depth));
        texts.push_back(nestedObjects(depth, "[]"));
        texts.push_back(nestedObjects(depth, "{}"));
        texts.push_back("{\"a\":" + nestedArrays(depth) + "}");
        texts.push_back("{\"a\":" + nestedArrays(depth, "\"s\"") + ",\"b\":2}");
        texts.push_back(nestedArrays(depth) + " x");
        texts.push_back(std::string(depth, '['));
    }
    const std::string mixed = R"({"format":"wishwell-intentions","version":1,"sample":false,
        "intentions":[{"id":"a","text":"\u00e9\ud83c\udf3b","sentAt":"","animation":"wordart",
        "extra":[1,-2,3.5,1e3,18446744073709551615,-9223372036854775808,true,false,null,{},[]]},
        {"id":"a","id":"b","nested":{"x":[{"y":[{"z":[[[[[[[[[[[[[[[[[[[[[[[[
        ]]]]]]]]]]]]]]]]]]]]]]]}]}]}}],
        "dup":1,"dup":{"d":[2]},"":"empty key","u":"\u0000"})";
    texts.push_back(mixed);
    texts.push_back(backupText({entry("a"), entry("b", "echoes"), entry("c", "legacy")}));
    texts.push_back("");
    texts.push_back(" ");
    texts.push_back("\xEF\xBB\xBF{}");
    texts.push_back("{}{}");
    texts.push_back("1");
    texts.push_back("\"\xFF\"");
    // Every prefix of two documents, so that each kind of event meets the end of the text.
    for (const std::string& whole :
         {mixed, "{\"k\":" + nestedObjects(33, nestedArrays(3, "1")) + "}"}) {
        for (std::size_t length = 0; length < whole.size(); ++length)
            texts.push_back(whole.substr(0, length));
    }
    // Documents that wander up and down around the bound, from a fixed seed.
    std::uint32_t state = 12345;
    const auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 24;
    };
    for (int document = 0; document < 400; ++document) {
        std::string text;
        std::vector<char> closers;
        std::vector<bool> filled; // whether each open container has an element yet
        const auto separate = [&] {
            if (filled.back()) text += ",";
            filled.back() = true;
            if (closers.back() == '}') text += "\"k\":";
        };
        const auto open = [&](bool object) {
            text += object ? "{" : "[";
            closers.push_back(object ? '}' : ']');
            filled.push_back(false);
        };
        for (int step = 0; step < 150 && (step == 0 || !closers.empty()); ++step) {
            const unsigned pick = next() % 100;
            if (closers.empty()) {
                open(pick % 2 == 0);
            } else if (pick < 30) {
                separate();
                open(pick % 2 == 0);
            } else if (pick < 50) {
                text += closers.back();
                closers.pop_back();
                filled.pop_back();
            } else if (pick < 99) {
                separate();
                text += pick % 3 == 0 ? "0" : pick % 3 == 1 ? "\"v\"" : "null";
            } else {
                text += ",:]}x"[next() % 5]; // now and then a break in the syntax
            }
        }
        while (!closers.empty()) {
            text += closers.back();
            closers.pop_back();
        }
        texts.push_back(text);
    }

    int deep = 0;
    int invalid = 0;
    int values = 0;
    for (const std::string& text : texts) {
        SCOPED_TRACE(text.substr(0, 200));
        const std::string expected = parsedWithCallback(text);
        EXPECT_EQ(parsed(text), expected);
        deep += expected == tooDeep;
        invalid += expected == invalidJson;
        values += expected != tooDeep && expected != invalidJson;
    }
    // The texts reach all three outcomes in numbers.
    EXPECT_GT(deep, 50);
    EXPECT_GT(invalid, 50);
    EXPECT_GT(values, 50);
}
