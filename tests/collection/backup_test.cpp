// The backup import before the entries: size bound, byte order mark, white space, container,
// parse and document checks.

#include "backup_texts.h"
#include "collection.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>

using namespace backup_texts;

namespace {

const std::string bom = "\xEF\xBB\xBF";

std::string validBackup() { return backupText({entry("a"), entry("b", "legacy")}); }

// A valid backup padded with trailing spaces to exactly the given size.
std::string paddedBackup(std::size_t size, const std::string& prefix = "") {
    std::string text = prefix + validBackup();
    text.resize(size, ' ');
    return text;
}

struct Case {
    const char* name;
    std::string text;
    const std::string& expected;
};

void expectOutcomes(std::initializer_list<Case> cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(outcome(c.text), c.expected);
    }
}

} // namespace

// The bound counts raw bytes, the byte order mark included, and comes before every other check.
TEST(Backup, SizeBound) {
    EXPECT_EQ(wishwell::maximumBackupBytes, 31457280u);
    EXPECT_EQ(outcome(paddedBackup(31457280)), accepted);
    EXPECT_EQ(outcome(paddedBackup(31457280, bom)), accepted);
    EXPECT_EQ(outcome(paddedBackup(31457281)), tooLarge);
    EXPECT_EQ(outcome(paddedBackup(31457281, bom)), tooLarge);
    EXPECT_EQ(outcome(std::string(31457281, ' ')), tooLarge);
    EXPECT_EQ(outcome(std::string(31457280, ' ')), emptyBackup);
    EXPECT_EQ(outcome(std::string(31457280, 'x')), notABackup);
}

TEST(Backup, ByteOrderMarkAndWhiteSpace) {
    const std::string valid = validBackup();
    expectOutcomes({
        {"nothing", "", emptyBackup},
        {"the four blanks", " \t\r\n \n", emptyBackup},
        {"a byte order mark alone", bom, emptyBackup},
        {"a byte order mark and blanks", bom + "\r\n\t ", emptyBackup},
        {"a byte order mark before a document", bom + valid, accepted},
        {"blanks before and after a document", " \r\n\t" + valid + "\r\n ", accepted},
        {"a byte order mark and blanks before a document", bom + "\n  " + valid, accepted},
        {"two byte order marks", bom + bom + valid, notABackup},
        {"a byte order mark after blanks", " " + bom + valid, notABackup},
        {"a form feed is not a blank here", "\f" + valid, notABackup},
        {"a vertical tab is not a blank here", "\v", notABackup},
        {"a no-break space is not a blank here", "\xC2\xA0" + valid, notABackup},
        {"a NUL byte", std::string(1, '\0'), notABackup},
    });
}

// Only a text whose first non-blank byte is "{" is read as JSON; everything else must be a page.
TEST(Backup, ContainerChoice) {
    const std::string valid = validBackup();
    const std::string page = pageAround(valid);
    const std::string entries = entry().dump();
    expectOutcomes({
        {"an array root", "[]", notABackup},
        {"an array of entries", "[" + entries + "]", notABackup},
        {"a string root", R"("{")", notABackup},
        {"a number", "1", notABackup},
        {"text before the document", "backup: " + valid, notABackup},
        {"a page without script", "<html><body>" + valid + "</body></html>", notABackup},
        {"a document inside a page", page, accepted},
        {"a page that starts with a brace is read as JSON", "{" + page, invalidJson},
    });
}

// Everything the JSON parser refuses gives one sentence, whatever the library says.
TEST(Backup, InvalidJson) {
    const std::string valid = validBackup();
    struct Case {
        const char* name;
        std::string text;
    };
    const Case cases[] = {
        {"an open brace", "{"},
        {"a truncated document", valid.substr(0, valid.size() - 1)},
        {"text after the document", valid + "x"},
        {"a second document", valid + valid},
        {"a comment", "{/* note */" + valid.substr(1)},
        {"a line comment", "{\n// note\n" + valid.substr(1)},
        {"single quotes", R"({'format':'wishwell-intentions'})"},
        {"a trailing comma", R"({"format":"wishwell-intentions",})"},
        {"invalid UTF-8 in a string", "{\"format\":\"\xFF\"}"},
        {"an overlong encoding", "{\"format\":\"\xC0\xAF\"}"},
        {"an encoded surrogate", "{\"format\":\"\xED\xA0\x80\"}"},
        {"a lone surrogate escape", R"({"format":"\ud800"})"},
        {"a raw control character in a string", "{\"format\":\"a\tb\"}"},
        {"NaN", R"({"version":NaN})"},
        {"a number too large", R"({"version":1e400})"},
        {"a byte order mark inside", "{" + bom + "}"},
        {"an empty script element", pageAround("")},
        {"a blank script element", pageAround(" \r\n\t ")},
        {"an entity in the script", pageAround(R"({&quot;format&quot;:1})")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(outcome(c.text), invalidJson);
    }
}

// The document checks, in their order, before any entry is looked at.
TEST(Backup, DocumentChecks) {
    const std::string entries = nlohmann::json::array({entry()}).dump();
    const auto document = [&](const std::string& format, const std::string& version,
                              const std::string& intentions) {
        std::string text = "{";
        if (!format.empty()) text += "\"format\":" + format + ",";
        if (!version.empty()) text += "\"version\":" + version + ",";
        if (!intentions.empty()) text += "\"intentions\":" + intentions + ",";
        text += "\"end\":0}";
        return text;
    };
    const std::string format = "\"wishwell-intentions\"";
    expectOutcomes({
        {"a complete document", document(format, "1", entries), accepted},
        {"keys in another order with more around them",
         R"({"z":[],"intentions":)" + entries + R"(,"a":{},"version":1,"format":)" + format + "}",
         accepted},
        {"an array root inside a page", pageAround("[" + entries + "]"), unsupported},
        {"a string root inside a page", pageAround(format), unsupported},
        {"a null root inside a page", pageAround("null"), unsupported},
        {"no format", document("", "1", entries), unsupported},
        {"a null format", document("null", "1", entries), unsupported},
        {"another format", document("\"wishwell-intention\"", "1", entries), unsupported},
        {"the format in capitals", document("\"WISHWELL-INTENTIONS\"", "1", entries), unsupported},
        {"the format in an array", document("[" + format + "]", "1", entries), unsupported},
        {"no version", document(format, "", entries), unsupported},
        {"version 2", document(format, "2", entries), unsupported},
        {"version 0", document(format, "0", entries), unsupported},
        {"version -1", document(format, "-1", entries), unsupported},
        {"version 1.0", document(format, "1.0", entries), unsupported},
        {"version 1e0", document(format, "1e0", entries), unsupported},
        {"version as a string", document(format, "\"1\"", entries), unsupported},
        {"version true", document(format, "true", entries), unsupported},
        {"version 18446744073709551617", document(format, "18446744073709551617", entries),
         unsupported},
        {"no intentions", document(format, "1", ""), unsupported},
        {"no intention", document(format, "1", "[]"), unsupported},
        {"intentions as an object", document(format, "1", "{\"a\":" + entry().dump() + "}"),
         unsupported},
        {"intentions as a string", document(format, "1", "\"[]\""), unsupported},
        {"a document check comes before the entries", document(format, "2", "[1]"), unsupported},
        {"the entries come after the document checks", document(format, "1", "[1]"), invalidEntry},
    });
}

// Only the boolean true marks a sample collection.
TEST(Backup, SampleFlag) {
    struct Case {
        const char* value;
        bool sample;
    };
    const Case cases[] = {{"true", true},  {"false", false},  {"\"true\"", false}, {"1", false},
                          {"null", false}, {"[true]", false}, {nullptr, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "absent");
        std::string text = validBackup();
        if (c.value) text.insert(1, std::string("\"sample\":") + c.value + ",");
        const wishwell::Collection collection = wishwell::parseBackup(text);
        EXPECT_EQ(collection.sample, c.sample);
        EXPECT_EQ(collection.document["sample"], c.sample);
    }
}

#ifndef _WIN32
// The example backups that come with the program import, JSON and HTML alike.
TEST(Backup, ExamplesImport) {
    const std::filesystem::path examples =
        std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "examples";
    std::string documents[2];
    int index = 0;
    for (const char* name : {"intentions-backup.json", "intentions-backup.html"}) {
        SCOPED_TRACE(name);
        std::ifstream file(examples / name, std::ios::binary);
        ASSERT_TRUE(file) << (examples / name);
        const std::string text{std::istreambuf_iterator<char>(file), {}};
        const wishwell::Collection collection = wishwell::parseBackup(text);
        EXPECT_GE(collection.items.size(), 5u);
        EXPECT_FALSE(collection.sample);
        documents[index++] = wishwell::dumpDocument(collection.document);
    }
    EXPECT_EQ(documents[0], documents[1]);
}
#endif
