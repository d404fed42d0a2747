// Finding the backup document inside an HTML page: the script element, its start tag and the
// two attributes it must carry.

#include "backup.h"
#include "backup_texts.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <regex>
#include <string>
#include <vector>

using namespace backup_texts;

namespace {

const std::string document = backupText({entry("a")});

// The document in a script element with the given start tag.
std::string element(const std::string& startTag) { return startTag + document + "</script>"; }

// The meaning the attribute matcher must keep: the patterns as regular expressions.
bool regexIdentity(const std::string& tag) {
    static const std::regex pattern(R"(\bid\s*=\s*["']intention-backup["'])",
                                    std::regex::ECMAScript | std::regex::icase);
    return std::regex_search(tag, pattern);
}

bool regexType(const std::string& tag) {
    static const std::regex pattern(R"(\btype\s*=\s*["']application/json["'])",
                                    std::regex::ECMAScript | std::regex::icase);
    return std::regex_search(tag, pattern);
}

// On a small stack, anything that recurses per byte of a start tag crashes here.
template <typename Work> void onSmallStack(Work work) {
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, 256 * 1024), 0);
    pthread_t thread;
    const auto run = [](void* argument) -> void* {
        (*static_cast<Work*>(argument))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, run, &work), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

// White space of every kind the patterns accept, in a run of the given length.
std::string spaceRun(std::size_t length) {
    static const char kinds[] = {' ', '\t', '\n', '\v', '\f', '\r'};
    std::string run;
    for (std::size_t i = 0; i < length; ++i) run += kinds[i % 6];
    return run;
}

} // namespace

// The letter case, the order of the attributes and the quotes do not matter.
TEST(Html, ExtractionCases) {
    struct Case {
        const char* name;
        std::string page;
        const std::string& expected;
    };
    const std::string lower = R"(<script id="intention-backup" type="application/json">)";
    const Case cases[] = {
        {"the exported shape", pageAround(document), accepted},
        {"all in capitals, type first in single quotes",
         "<HTML><SCRIPT TYPE='APPLICATION/JSON' ID=\"INTENTION-BACKUP\">" + document +
             "</SCRIPT></HTML>",
         accepted},
        {"mixed quotes on one value",
         element("<script id=\"intention-backup' type='application/json\">"), accepted},
        {"white space around the equals signs",
         element("<script id \t= \n'intention-backup' type\r\n=\f\"application/json\">"), accepted},
        {"other attributes around them",
         element("<script nonce=\"x1\" id=\"intention-backup\" defer type=\"application/json\" "
                 "data-v=\"2\">"),
         accepted},
        {"a hyphenated name ending in id",
         element("<script data-id=\"intention-backup\" type=\"application/json\">"), accepted},
        {"a name that merely ends in id",
         element("<script xid=\"intention-backup\" type=\"application/json\">"), notABackup},
        {"an unquoted value", element("<script id=intention-backup type=\"application/json\">"),
         notABackup},
        {"only the type attribute", element("<script type=\"application/json\">"), notABackup},
        {"only the identity attribute", element("<script id=\"intention-backup\">"), notABackup},
        {"another type", element("<script id=\"intention-backup\" type=\"text/json\">"),
         notABackup},
        {"the second element carries both",
         element("<script type=\"application/json\">{}</script><script id='intention-backup' "
                 "type='application/json'>"),
         accepted},
        {"a longer tag name starts a candidate too",
         "<scripts id=\"intention-backup\" type=\"application/json\">" + document + "</scripts>",
         accepted},
        {"a > inside a quoted value ends the start tag",
         element("<script title=\"a>b\" id=\"intention-backup\" type=\"application/json\">"),
         notABackup},
        {"the attributes after the start tag do not count",
         element("<script>id=\"intention-backup\" type=\"application/json\""), notABackup},
        {"no end of the start tag",
         "<script id=\"intention-backup\" type=\"application/json\"" + document, notABackup},
        {"no closing tag", lower + document, notABackup},
        {"the content runs to the next closing tag across another start tag",
         lower + document + lower + document + "</script>", invalidJson},
        {"the closing tag in capitals", lower + document + "</SCRIPT >", accepted},
        {"the closing tag without its >", lower + document + "</script", accepted},
        {"a closing tag inside a string cuts the document short",
         lower +
             backupText(
                 {{{"id", "a"}, {"text", "</Script>"}, {"sentAt", ""}, {"animation", "legacy"}}}) +
             "</script>",
         invalidJson},
        {"the content is taken unchanged, blanks included",
         lower + "\n  " + document + "\n</script>", accepted},
        {"an empty element", lower + "</script>", invalidJson},
        {"a blank element", lower + " \n\t</script>", invalidJson},
        {"a byte order mark before the page", "\xEF\xBB\xBF" + pageAround(document), accepted},
        {"text of any kind before the page",
         "\xCE\xB1<p>x > y</p><scrip><script src=a.js></script>" + pageAround(document), accepted},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(outcome(c.page), c.expected);
    }
}

TEST(Html, FindBackupScriptReturnsTheContentUnchanged) {
    const std::string page =
        "<p><SCRIPT id='intention-backup' Type='application/json'> {x} </sCrIpT>";
    const std::optional<std::string_view> found = wishwell::findBackupScript(page);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(*found, " {x} ");
    EXPECT_EQ(found->data(), page.data() + page.find(" {x}"));
    EXPECT_FALSE(wishwell::findBackupScript("<script id='intention-backup'>{}</script>"));
}

// A start tag of 4096 bytes or more is never taken; one byte less is.
TEST(Html, StartTagLengthBound) {
    const std::string attributes = R"( id="intention-backup" type="application/json")";
    for (std::size_t length : {4094u, 4095u, 4096u, 4097u, 10000u}) {
        SCOPED_TRACE(length);
        std::string tag = "<script" + attributes;
        tag += std::string(length - tag.size(), ' ');
        ASSERT_EQ(tag.size(), length);
        const std::string page = tag + ">" + document + "</script>";
        EXPECT_EQ(outcome(page), length < 4096 ? accepted : notABackup);
        // A long element does not hide a later one.
        EXPECT_EQ(outcome(page + pageAround(document)), accepted);
    }
}

// The matcher means what the two regular expressions mean: word boundary, letter case, every
// white-space byte, both quotes, near misses.
TEST(Html, AttributeMatchingAgreesWithTheRegularExpressions) {
    std::vector<std::string> tags = {
        "<script id=\"intention-backup\"",
        "<script ID = 'INTENTION-BACKUP'",
        "<script\tid\v=\f\"intention-backup'",
        "<script data-id=\"intention-backup\"",
        "<script _id=\"intention-backup\"",
        "<script 9id=\"intention-backup\"",
        "<script \xC3\xA9id=\"intention-backup\"",
        "<script id=\"intention-backup",
        "<script id=\"intention-backups\"",
        "<script id=\"intention_backup\"",
        "<script id=\"\"intention-backup\"",
        "<script id==\"intention-backup\"",
        "<script id=\xC2\xA0\"intention-backup\"",
        "<script idd=\"intention-backup\"",
        "<script i d=\"intention-backup\"",
        "<script id=`intention-backup`",
        "<script id=\"intention-backup\"\"",
        "<script id=\"x\" id=\"intention-backup\"",
        "<script id=\"id=\"intention-backup\"\"",
        "id=\"intention-backup\"",
        "<script type=\"application/json\"",
        "<script TYPE='Application/JSON'",
        "<script type = \"application/json'",
        "<script subtype=\"application/json\"",
        "<script sub-type=\"application/json\"",
        "<script type=\"application/json5\"",
        "<script type=\"application/jsonx\"",
        "<script type=\"application\\/json\"",
        "<script type=\"text/json\"",
        "<script type=\"application/ json\"",
        "<script ty\npe=\"application/json\"",
        "<script type=\"application/json",
        std::string("<script id=\"intention-backup\"") + '\0' + " type='application/json'",
        "<script id\x0B=\x0C'intention-backup' type\r=\n\"application/json\""};
    // Every single-byte change of a matching tag that the patterns care about.
    const std::string base = "<s id='intention-backup' type=\"application/json\"";
    for (std::size_t at = 0; at <= base.size(); ++at) {
        for (char inserted : {' ', '\v', '\x1c', '\xA0', 'x', '_', '-', '\'', '"', '='})
            tags.push_back(base.substr(0, at) + inserted + base.substr(at));
        if (at < base.size()) tags.push_back(base.substr(0, at) + base.substr(at + 1));
    }
    for (const std::string& tag : tags) {
        SCOPED_TRACE(tag);
        EXPECT_EQ(wishwell::hasBackupIdentity(tag), regexIdentity(tag));
        EXPECT_EQ(wishwell::hasBackupType(tag), regexType(tag));
    }
}

// 4095-byte start tags of white-space runs wherever a quantifier consumes them, and near misses:
// they finish on a small stack with the patterns' result.
TEST(Html, LongWhiteSpaceRunsInEveryQuantifier) {
    struct Case {
        const char* name;
        std::string before; // up to the run
        std::string after;  // after the run
        bool identity;
        bool type;
    };
    const std::string identity = "id='intention-backup'";
    const std::string type = "type=\"application/json\"";
    const Case cases[] = {
        {"before the identity's equals sign", "<script " + type + " id", "='intention-backup'",
         true, true},
        {"after the identity's equals sign", "<script " + type + " id=", "'intention-backup'", true,
         true},
        {"before the type's equals sign", "<script " + identity + " type", "=\"application/json\"",
         true, true},
        {"after the type's equals sign", "<script " + identity + " type=", "\"application/json\"",
         true, true},
        {"between the attributes", "<script " + identity, type, true, true},
        {"before a missing equals sign", "<script " + type + " id", "'intention-backup'", false,
         true},
        {"after the equals sign before a missing quote",
         "<script " + identity + " type=", "application/json", true, false},
        {"before the end of the tag", "<script " + identity + " type=", "", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string tag = c.before + spaceRun(4095 - c.before.size() - c.after.size()) + c.after;
        ASSERT_EQ(tag.size(), 4095u);
        const std::string page = tag + ">" + document + "</script>";
        bool identityFound = false;
        bool typeFound = false;
        std::string result;
        onSmallStack([&] {
            identityFound = wishwell::hasBackupIdentity(tag);
            typeFound = wishwell::hasBackupType(tag);
            result = outcome(page);
        });
        EXPECT_EQ(identityFound, c.identity);
        EXPECT_EQ(typeFound, c.type);
        EXPECT_EQ(result, c.identity && c.type ? accepted : notABackup);
    }
}

// Candidates that fail, long or short, only move the search on.
TEST(Html, BackupAfterManyCandidates) {
    std::string page;
    for (int i = 0; i < 20000; ++i)
        page += "<script type=\"application/json\" id=\"x\">{}</script>";
    page += "<script<script<script" + std::string(5000, ' ') + ">";
    EXPECT_EQ(outcome(page + pageAround(document)), accepted);
}
