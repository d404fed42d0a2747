// libFuzzer target for the backup import. Any byte string must give either a collection that keeps
// every promise the display and the settings window rely on, or one of the import's sentences.
// Anything else aborts. Also checks the bounded parse against the library's callback parse.
//   tools/fuzz 60       a short run on a copy of fuzz/corpus; tools/fuzz 1800 for a long one

#include "backup.h"
#include "collection.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>

namespace {

using nlohmann::json;

const std::set<std::string> sentences = {
    "Choose a backup under 30 MB.",
    "The backup is empty.",
    "Choose the HTML or JSON backup from Your intentions.",
    "Backup nesting is too deep.",
    "The backup contains invalid JSON data.",
    "This is not a supported intention collection.",
    "An intention entry is invalid.",
    "A required field is missing.",
    "An entry is too long or contains invalid characters.",
    "The backup contains an empty, repeated or unsupported entry.",
    "Unknown WordArt style.",
};

[[noreturn]] void broken(const char* promise) {
    std::fprintf(stderr, "broken promise: %s\n", promise);
    std::abort();
}

void require(bool kept, const char* promise) {
    if (!kept) broken(promise);
}

bool isBlankText(const std::string& text) {
    return text.find_first_not_of(" \t\n\r") == std::string::npos;
}

bool holdsString(const json& entry, const char* key, std::size_t limit) {
    const auto value = entry.find(key);
    if (value == entry.end() || !value->is_string()) return false;
    const std::string& text = value->get_ref<const std::string&>();
    return wishwell::countCodePoints(text) <= limit && text.find('\0') == std::string::npos;
}

void checkCollection(const wishwell::Collection& collection) {
    require(!collection.items.empty(), "a collection has items");
    const json& document = collection.document;
    require(document.is_object() && document.size() == 4, "the document has four keys");
    require(document["format"] == "wishwell-intentions", "the format");
    require(document["version"].is_number_integer() && document["version"] == 1, "the version");
    require(document["sample"].is_boolean() && document["sample"] == collection.sample,
            "the sample flag");
    const json& intentions = document["intentions"];
    require(intentions.is_array() && intentions.size() == collection.items.size(),
            "one entry per item");

    std::set<std::string> ids;
    for (std::size_t i = 0; i < collection.items.size(); ++i) {
        const wishwell::Item& item = collection.items[i];
        const std::size_t idLength = wishwell::countCodePoints(item.id);
        const std::size_t textLength = wishwell::countCodePoints(item.text);
        require(idLength >= 1 && idLength <= 150, "an id of 1 to 150 code points");
        require(item.id.find('\0') == std::string::npos, "no NUL in an id");
        require(ids.insert(item.id).second, "unique ids");
        require(textLength >= 1 && textLength <= 10000, "a text of 1 to 10000 code points");
        require(item.text.find('\0') == std::string::npos, "no NUL in a text");
        require(!isBlankText(item.text), "a text that is not blank");
        require(wishwell::isAnimation(item.animation), "a known animation");
        require(wishwell::isTheme(item.theme), "a known theme");
        require(item.animation == "wordart" || item.theme == "rainbow",
                "rainbow for every item that is not WordArt");

        const json& entry = intentions[i];
        require(entry.is_object() && holdsString(entry, "sentAt", 50), "a stored date");
        require(entry == wishwell::normalisedEntry(item, entry["sentAt"].get<std::string>()),
                "the stored entry is the normalised form of its item");
    }

    wishwell::Collection again;
    try {
        again = wishwell::parseBackup(wishwell::dumpDocument(document));
    } catch (...) {
        broken("the stored document can be read again");
    }
    require(again.document == document, "the stored document reads back unchanged");
    require(again.sample == collection.sample, "the sample flag reads back");
    require(again.items.size() == collection.items.size(), "the items read back");
    for (std::size_t i = 0; i < again.items.size(); ++i) {
        const wishwell::Item& a = again.items[i];
        const wishwell::Item& b = collection.items[i];
        require(a.id == b.id && a.text == b.text && a.animation == b.animation &&
                    a.theme == b.theme,
                "each item reads back");
    }
}

// The outcome of a parse: the sentence, or the compact value.
std::string boundedParse(std::string_view text) {
    try {
        return wishwell::parseDocument(text).dump();
    } catch (const std::runtime_error& failure) {
        return failure.what();
    }
}

std::string callbackParse(std::string_view text) {
    const json::parser_callback_t bound = [](int depth, json::parse_event_t, json&) {
        if (depth > wishwell::maximumNesting)
            throw std::runtime_error("Backup nesting is too deep.");
        return true;
    };
    try {
        return json::parse(text, bound, true, false).dump();
    } catch (const std::runtime_error& failure) {
        return failure.what();
    } catch (const std::exception&) {
        return "The backup contains invalid JSON data.";
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const wishwell::Collection collection = wishwell::parseBackup(text);
        checkCollection(collection);
    } catch (const std::runtime_error& failure) {
        if (sentences.count(failure.what()) == 0) {
            std::fprintf(stderr, "unexpected failure: %s\n", failure.what());
            std::abort();
        }
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "not a runtime_error: %s\n", failure.what());
        std::abort();
    } catch (...) {
        broken("only std::runtime_error leaves the import");
    }

    if (boundedParse(text) != callbackParse(text))
        broken("the bounded parse agrees with the callback");
    if (text.size() <= wishwell::maximumBackupBytes) {
        const std::optional<std::string_view> script = wishwell::findBackupScript(text);
        if (script && boundedParse(*script) != callbackParse(*script)) {
            broken("the bounded parse agrees with the callback inside a page");
        }
    }
    return 0;
}
