// The collection value type and the normalised collection document with its stored form.

#include "backup_texts.h"
#include "collection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using namespace backup_texts;
using nlohmann::json;

namespace {

wishwell::Collection twoIntentions() {
    return wishwell::parseBackup(backupText({entry("a"), entry("b", "echoes")}));
}

} // namespace

// Moving hands over the items and the document and leaves the source empty; start-up releases a
// collection by moving an empty one into it; a self-move keeps the contents.
TEST(Collection, Moves) {
    wishwell::Collection source = wishwell::samples();
    const std::string document = wishwell::dumpDocument(source.document);
    const auto expectEmpty = [](const wishwell::Collection& c) {
        EXPECT_TRUE(c.items.empty());
        EXPECT_FALSE(c.sample);
        EXPECT_TRUE(c.document.is_null());
    };

    wishwell::Collection moved(std::move(source));
    EXPECT_EQ(moved.items.size(), 8u);
    EXPECT_TRUE(moved.sample);
    EXPECT_EQ(wishwell::dumpDocument(moved.document), document);
    expectEmpty(source);

    wishwell::Collection target = twoIntentions();
    target = std::move(moved);
    EXPECT_EQ(target.items.size(), 8u);
    EXPECT_EQ(target.items[0].id, "sample-0");
    EXPECT_TRUE(target.sample);
    EXPECT_EQ(wishwell::dumpDocument(target.document), document);
    expectEmpty(moved);

    target = wishwell::Collection();
    expectEmpty(target);

    wishwell::Collection active = twoIntentions();
    wishwell::Collection& alias = active;
    active = std::move(alias);
    ASSERT_EQ(active.items.size(), 2u);
    EXPECT_EQ(active.items[1].id, "b");
    EXPECT_EQ(active.document["intentions"].size(), 2u);
}

TEST(Document, EmptyDocumentHoldsTheFourKeysInByteOrder) {
    EXPECT_EQ(wishwell::dumpDocument(wishwell::emptyDocument(true)),
              R"({"format":"wishwell-intentions","intentions":[],"sample":true,"version":1})");
    EXPECT_EQ(wishwell::dumpDocument(wishwell::emptyDocument(false)),
              R"({"format":"wishwell-intentions","intentions":[],"sample":false,"version":1})");
    EXPECT_TRUE(wishwell::emptyDocument(false)["version"].is_number_integer());
}

TEST(Document, NormalisedEntryKeepsTheThemeOnlyForWordArt) {
    EXPECT_EQ(
        wishwell::dumpDocument(wishwell::normalisedEntry({"a", "Hi.", "wordart", "purple"}, "d")),
        R"({"animation":"wordart","id":"a","sentAt":"d","text":"Hi.","wordartTheme":"purple"})");
    EXPECT_EQ(
        wishwell::dumpDocument(wishwell::normalisedEntry({"a", "Hi.", "legacy", "rainbow"}, "")),
        R"({"animation":"legacy","id":"a","sentAt":"","text":"Hi."})");
}

// The import rebuilds the document from the accepted entries only, to the exact stored text.
TEST(Document, ImportNormalisesTheDocument) {
    struct Case {
        const char* name;
        std::string input;
        std::string stored;
    };
    const std::string head = R"({"format":"wishwell-intentions","intentions":[)";
    const Case cases[] = {
        {"unknown keys are dropped at the root and in entries",
         R"({"format":"wishwell-intentions","version":1,"exportedBy":"widget","intentions":[
            {"id":"a","text":"I rest.","sentAt":"x","animation":"legacy","colour":"red"}]})",
         head + R"({"animation":"legacy","id":"a","sentAt":"x","text":"I rest."}],)"
                R"("sample":false,"version":1})"},
        {"a theme of another animation kind is dropped, whatever it holds",
         R"({"format":"wishwell-intentions","version":1,"intentions":[
            {"id":"a","text":"I rest.","sentAt":"","animation":"windows","wordartTheme":"neon"}]})",
         head + R"({"animation":"windows","id":"a","sentAt":"","text":"I rest."}],)"
                R"("sample":false,"version":1})"},
        {"WordArt without a theme gains rainbow",
         R"({"format":"wishwell-intentions","version":1,"intentions":[
            {"id":"a","text":"I rest.","sentAt":"s","animation":"wordart"}]})",
         head + R"({"animation":"wordart","id":"a","sentAt":"s","text":"I rest.",)"
                R"("wordartTheme":"rainbow"}],"sample":false,"version":1})"},
        {"a string sample flag means false",
         R"({"format":"wishwell-intentions","version":1,"sample":"true","intentions":[
            {"id":"a","text":"I rest.","sentAt":"s","animation":"echoes"}]})",
         head + R"({"animation":"echoes","id":"a","sentAt":"s","text":"I rest."}],)"
                R"("sample":false,"version":1})"},
        {"the boolean sample flag survives",
         R"({"sample":true,"intentions":[{"animation":"echoes","text":"I rest.","id":"a",
            "sentAt":"s"}],"version":1,"format":"wishwell-intentions"})",
         head + R"({"animation":"echoes","id":"a","sentAt":"s","text":"I rest."}],)"
                R"("sample":true,"version":1})"},
        {"escapes are read and only control characters are escaped again",
         R"({"format":"wishwell-intentions","version":1,"intentions":[{"id":"\u00e9\/","text":)"
         R"("Line\none\ttab \"q\" \\ \u001f \ud83c\udf3b \u2028","sentAt":"s",)"
         R"("animation":"echoes"}]})",
         head + "{\"animation\":\"echoes\",\"id\":\"\xC3\xA9/\",\"sentAt\":\"s\",\"text\":"
                "\"Line\\none\\ttab \\\"q\\\" \\\\ \\u001f \xF0\x9F\x8C\xBB \xE2\x80\xA8\"}],"
                "\"sample\":false,\"version\":1}"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const wishwell::Collection collection = wishwell::parseBackup(c.input);
        EXPECT_EQ(wishwell::dumpDocument(collection.document), c.stored);
    }
}

// The entries the import keeps are exactly those its helper would build from the items.
TEST(Document, ImportedEntriesMatchTheNormalisedEntryOfTheirItems) {
    json intentions = json::array();
    for (const char* animation : {"wordart", "windows", "echoes", "legacy"}) {
        json e = entry(std::string("id-") + animation, animation);
        e["wordartTheme"] = "horizon";
        e["extra"] = {1, 2};
        intentions.push_back(e);
    }
    intentions.push_back({{"id", "bare"}, {"text", "x"}, {"sentAt", ""}, {"animation", "wordart"}});
    const wishwell::Collection collection = wishwell::parseBackup(backupText(intentions));
    ASSERT_EQ(collection.items.size(), 5u);
    for (std::size_t i = 0; i < collection.items.size(); ++i) {
        SCOPED_TRACE(collection.items[i].id);
        EXPECT_EQ(collection.document["intentions"][i],
                  wishwell::normalisedEntry(collection.items[i], intentions[i]["sentAt"]));
    }
}

TEST(Document, DumpIsCompactRawUtf8WithoutLineBreaks) {
    const std::string text = "Je crois en moi.\nIch glaube an mich. \xE7\xA7\x81\xE3\x81\xAF";
    const wishwell::Collection collection = wishwell::parseBackup(backupText(
        {{{"id", "\xCE\xB1"}, {"text", text}, {"sentAt", "s"}, {"animation", "legacy"}}}));
    const std::string stored = wishwell::dumpDocument(collection.document);
    EXPECT_EQ(stored.find('\n'), std::string::npos);
    EXPECT_EQ(stored.find('\r'), std::string::npos);
    EXPECT_EQ(std::count(stored.begin(), stored.end(), ' '),
              std::count(text.begin(), text.end(), ' '));
    EXPECT_NE(stored.find("\"id\":\"\xCE\xB1\""), std::string::npos);
    EXPECT_NE(stored.find("moi.\\nIch"), std::string::npos);
    EXPECT_NE(stored.find("\xE7\xA7\x81\xE3\x81\xAF"), std::string::npos);
    EXPECT_EQ(stored.find("\\u"), std::string::npos);
}

TEST(Document, DumpRefusesInvalidUtf8) {
    json document = wishwell::emptyDocument(false);
    document["intentions"].push_back({{"text", "\xC3"}});
    EXPECT_THROW(wishwell::dumpDocument(document), json::type_error);
}

// Reading the stored form again gives the same items and document, for text beyond ASCII too.
TEST(Document, StoredDocumentReadsBackUnchanged) {
    json intentions = json::array();
    intentions.push_back(entry("plain"));
    intentions.push_back(
        {{"id", "\xE6\x84\x9B"},
         {"text", "  \xE7\xA7\x81\xE3\x81\xAF\xE8\x87\xAA\xE5\x88\x86\xE3\x82\x92\r\n"},
         {"sentAt", ""},
         {"animation", "echoes"},
         {"wordartTheme", 7}});
    intentions.push_back(
        {{"id", "Plain"}, {"text", "\t\xC2\xA0x"}, {"sentAt", "2026"}, {"animation", "wordart"}});
    for (bool sample : {false, true}) {
        SCOPED_TRACE(sample);
        json backup = backupOf(intentions);
        backup["sample"] = sample;
        const wishwell::Collection first = wishwell::parseBackup(backup.dump(2));
        const std::string stored = wishwell::dumpDocument(first.document);
        const wishwell::Collection second = wishwell::parseBackup(stored);
        EXPECT_EQ(second.document, first.document);
        EXPECT_EQ(wishwell::dumpDocument(second.document), stored);
        EXPECT_EQ(second.sample, sample);
        ASSERT_EQ(second.items.size(), first.items.size());
        for (std::size_t i = 0; i < first.items.size(); ++i) {
            EXPECT_EQ(second.items[i].id, first.items[i].id);
            EXPECT_EQ(second.items[i].text, first.items[i].text);
            EXPECT_EQ(second.items[i].animation, first.items[i].animation);
            EXPECT_EQ(second.items[i].theme, first.items[i].theme);
        }
    }
}
