// The backup import: the size bound, the choice between a JSON file and an HTML page, the
// depth-bounded parse, and the checks of the document and of every intention entry.

#include "backup.h"
#include "collection.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <vector>

namespace wishwell {

namespace {

using Json = nlohmann::json;

constexpr const char* tooLarge = "Choose a backup under 30 MB.";
constexpr const char* emptyBackup = "The backup is empty.";
constexpr const char* notABackup = "Choose the HTML or JSON backup from Your intentions.";
constexpr const char* tooDeep = "Backup nesting is too deep.";
constexpr const char* invalidJson = "The backup contains invalid JSON data.";
constexpr const char* unsupportedDocument = "This is not a supported intention collection.";
constexpr const char* invalidEntry = "An intention entry is invalid.";
constexpr const char* missingField = "A required field is missing.";
constexpr const char* badField = "An entry is too long or contains invalid characters.";
constexpr const char* unusableEntry =
    "The backup contains an empty, repeated or unsupported entry.";
constexpr const char* unknownTheme = "Unknown WordArt style.";

constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
// The fewest bytes an entry that passes can take: {"id":"x","text":"x","sentAt":"","animation":
// "echoes"}.
constexpr std::size_t shortestEntry = 54;
// The white space that the format allows around a document and that does not make a text.
constexpr std::string_view blank = " \t\n\r";

// ---- HTML wrapper ------------------------------------------------------------------------------

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool isWordByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool isSpaceByte(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isQuote(char c) { return c == '"' || c == '\''; }

// Whether text holds the lower-case ASCII word at the position, in any letter case.
bool holdsFolded(std::string_view text, std::size_t at, std::string_view lower) {
    if (text.size() - at < lower.size()) return false;
    for (std::size_t i = 0; i < lower.size(); ++i) {
        if (lowerAscii(text[at + i]) != lower[i]) return false;
    }
    return true;
}

std::size_t skipSpace(std::string_view text, std::size_t at) {
    while (at < text.size() && isSpaceByte(text[at])) ++at;
    return at;
}

// name \s* = \s* quote value quote, the name at a word boundary. Each step has one way to go on,
// so a single forward scan per candidate decides it, with no backtracking and no recursion.
bool hasAttribute(std::string_view tag, std::string_view name, std::string_view value) {
    for (std::size_t start = 0; start + name.size() <= tag.size(); ++start) {
        // The name begins with a letter, so the boundary needs a non-word byte before it.
        if (start > 0 && isWordByte(tag[start - 1])) continue;
        if (!holdsFolded(tag, start, name)) continue;
        std::size_t at = skipSpace(tag, start + name.size());
        if (at == tag.size() || tag[at] != '=') continue;
        at = skipSpace(tag, at + 1);
        if (at == tag.size() || !isQuote(tag[at])) continue;
        ++at;
        if (!holdsFolded(tag, at, value)) continue;
        at += value.size();
        if (at < tag.size() && isQuote(tag[at])) return true;
    }
    return false;
}

// The first position at or after from where the lower-case marker stands in any letter case.
std::size_t findFolded(std::string_view text, std::string_view marker, std::size_t from) {
    // Every marker begins with "<", which has only one case.
    for (std::size_t at = text.find('<', from); at != std::string_view::npos;
         at = text.find('<', at + 1)) {
        if (text.size() - at < marker.size()) break;
        if (holdsFolded(text, at, marker)) return at;
    }
    return std::string_view::npos;
}

// ---- Depth-bounded parse -----------------------------------------------------------------------

// Builds the document from the parser's events and stops at the first event deeper than
// maximumNesting. The depth of an event is that of the library's parser callback: the open
// containers around a container's start or end, and every open container for a key or a value.
struct DocumentBuilder {
    Json& root;
    std::vector<Json*> open; // the containers being filled, innermost last
    Json* member = nullptr;  // the slot that the value after the latest key fills
    bool deep = false;

    bool admit() {
        deep = open.size() > static_cast<std::size_t>(maximumNesting);
        return !deep;
    }

    template <typename Value> Json* add(Value&& value) {
        if (open.empty()) {
            root = Json(std::forward<Value>(value));
            return &root;
        }
        if (open.back()->is_array()) {
            auto& elements = open.back()->get_ref<Json::array_t&>();
            elements.emplace_back(std::forward<Value>(value));
            return &elements.back();
        }
        *member = Json(std::forward<Value>(value));
        return member;
    }

    template <typename Value> bool scalar(Value&& value) {
        if (!admit()) return false;
        add(std::forward<Value>(value));
        return true;
    }

    bool null() { return scalar(nullptr); }
    bool boolean(bool value) { return scalar(value); }
    bool number_integer(Json::number_integer_t value) { return scalar(value); }
    bool number_unsigned(Json::number_unsigned_t value) { return scalar(value); }
    bool number_float(Json::number_float_t value, const Json::string_t&) { return scalar(value); }
    bool string(Json::string_t& value) { return scalar(value); }
    bool binary(Json::binary_t& value) { return scalar(std::move(value)); }

    bool start_object(std::size_t) {
        if (!admit()) return false;
        open.push_back(add(Json::value_t::object));
        return true;
    }

    bool key(Json::string_t& name) {
        if (!admit()) return false;
        member = &open.back()->get_ref<Json::object_t&>()[name];
        return true;
    }

    bool start_array(std::size_t) {
        if (!admit()) return false;
        open.push_back(add(Json::value_t::array));
        return true;
    }

    // An end has the depth of its start, which has already been admitted.
    bool end_object() {
        open.pop_back();
        return true;
    }

    bool end_array() {
        open.pop_back();
        return true;
    }

    bool parse_error(std::size_t, const std::string&, const Json::exception&) { return false; }
};

// ---- Document and entries ----------------------------------------------------------------------

bool isSupported(const Json& root) {
    if (!root.is_object()) return false;
    const auto format = root.find("format");
    if (format == root.end() || !format->is_string() ||
        format->get_ref<const std::string&>() != "wishwell-intentions") {
        return false;
    }
    const auto version = root.find("version");
    if (version == root.end() || !version->is_number_integer() || *version != 1) return false;
    const auto intentions = root.find("intentions");
    return intentions != root.end() && intentions->is_array() && !intentions->empty();
}

bool isSampleDocument(const Json& root) {
    const auto sample = root.find("sample");
    return sample != root.end() && sample->is_boolean() && sample->get<bool>();
}

// The ids of the entries accepted so far, in one open-addressed table: no allocation per id,
// nothing to walk when it goes, and an id's text is compared only when its hash matches, so that
// a probe does not reach into the far corners of a large document.
struct IdSet {
    struct Slot {
        std::size_t hash = 0;
        std::string_view id; // a null data pointer marks a free slot
    };
    std::vector<Slot> slots;
    std::size_t used = 0;

    // Sized for the expected number of ids up front: growing a table of a hundred thousand ids
    // step by step would churn through megabytes of short-lived blocks.
    explicit IdSet(std::size_t expected) {
        std::size_t size = 16;
        while (size < 2 * expected) size *= 2;
        slots.resize(size);
    }

    void place(const Slot& slot) {
        const std::size_t mask = slots.size() - 1;
        std::size_t at = slot.hash & mask;
        while (slots[at].id.data() != nullptr) at = (at + 1) & mask;
        slots[at] = slot;
    }

    // False when the id was there already.
    bool insert(std::string_view id) {
        const std::size_t hash = std::hash<std::string_view>{}(id);
        const std::size_t mask = slots.size() - 1;
        for (std::size_t at = hash & mask; slots[at].id.data() != nullptr; at = (at + 1) & mask) {
            if (slots[at].hash == hash && slots[at].id == id) return false;
        }
        if (2 * (used + 1) > slots.size()) {
            // Kept at most half full, so that probes stay short.
            std::vector<Slot> previous(slots.size() * 2);
            previous.swap(slots);
            for (const Slot& kept : previous) {
                if (kept.id.data() != nullptr) place(kept);
            }
        }
        place({hash, id});
        ++used;
        return true;
    }
};

bool isBlankText(std::string_view text) { return text.find_first_not_of(blank) == text.npos; }

bool isNormalisedKey(std::string_view key, bool wordart) {
    return key == "id" || key == "text" || key == "sentAt" || key == "animation" ||
           (wordart && key == "wordartTheme");
}

// Checks one element of "intentions" and turns it into its normalised entry in place, reusing the
// strings the parser made. Returns the item; seen collects the ids and points into the entries.
Item acceptEntry(Json& entry, IdSet& seen) {
    if (!entry.is_object()) throw std::runtime_error(invalidEntry);
    const std::string& id = readField(entry, "id", 150);
    const std::string& text = readField(entry, "text", 10000);
    readField(entry, "sentAt", 50);
    const std::string& animation = readField(entry, "animation", 20);
    if (id.empty() || !seen.insert(id) || isBlankText(text) || !isAnimation(animation)) {
        throw std::runtime_error(unusableEntry);
    }

    auto& fields = entry.get_ref<Json::object_t&>();
    const bool wordart = animation == "wordart";
    std::string theme = "rainbow";
    if (wordart) {
        if (fields.find("wordartTheme") != fields.end()) {
            theme = readField(entry, "wordartTheme", 30);
        } else {
            fields.emplace("wordartTheme", theme);
        }
        if (!isTheme(theme)) throw std::runtime_error(unknownTheme);
    }

    Item item{id, text, animation, std::move(theme)};
    for (auto field = fields.begin(); field != fields.end();) {
        field = isNormalisedKey(field->first, wordart) ? std::next(field) : fields.erase(field);
    }
    return item;
}

} // namespace

bool hasBackupIdentity(std::string_view startTag) {
    return hasAttribute(startTag, "id", "intention-backup");
}

bool hasBackupType(std::string_view startTag) {
    return hasAttribute(startTag, "type", "application/json");
}

std::optional<std::string_view> findBackupScript(std::string_view page) {
    std::size_t position = 0;
    for (;;) {
        const std::size_t open = findFolded(page, "<script", position);
        if (open == page.npos) return std::nullopt;
        const std::size_t close = page.find('>', open);
        if (close == page.npos) return std::nullopt;
        position = close + 1;
        if (close - open >= maximumStartTag) continue;
        const std::string_view tag = page.substr(open, close - open);
        if (!hasBackupIdentity(tag) || !hasBackupType(tag)) continue;
        const std::size_t end = findFolded(page, "</script", position);
        if (end == page.npos) return std::nullopt;
        return page.substr(position, end - position);
    }
}

Json parseDocument(std::string_view text) {
    Json root;
    DocumentBuilder builder{root, {}};
    builder.open.reserve(maximumNesting + 1);
    bool parsed = false;
    try {
        parsed = Json::sax_parse(text.begin(), text.end(), &builder,
                                 nlohmann::json::input_format_t::json, true, false);
    } catch (...) {
        // Whatever the library or the allocator raised, the user learns only that the data is bad.
        parsed = false;
    }
    if (builder.deep) throw std::runtime_error(tooDeep);
    if (!parsed) throw std::runtime_error(invalidJson);
    return root;
}

std::size_t countCodePoints(std::string_view text) {
    // Texts run to 10000 code points, so eight bytes are taken at a time: a continuation byte is
    // one whose top bit is set and whose next bit is clear.
    std::size_t continuations = 0;
    std::size_t at = 0;
    for (; at + 8 <= text.size(); at += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + at, 8);
        const std::uint64_t marks = (word & ~(word << 1) & 0x8080808080808080u) >> 7;
        continuations += (marks * 0x0101010101010101u) >> 56; // the sum of the eight marks
    }
    for (; at < text.size(); ++at)
        continuations += (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80;
    return text.size() - continuations;
}

std::string& readField(Json& entry, std::string_view key, std::size_t limit) {
    if (!entry.is_object()) throw std::runtime_error(missingField);
    auto& fields = entry.get_ref<Json::object_t&>();
    const auto field = fields.find(key);
    if (field == fields.end() || !field->second.is_string()) throw std::runtime_error(missingField);
    std::string& value = field->second.get_ref<std::string&>();
    if (countCodePoints(value) > limit || value.find('\0') != value.npos) {
        throw std::runtime_error(badField);
    }
    return value;
}

Collection parseBackup(std::string_view text) {
    if (text.size() > maximumBackupBytes) throw std::runtime_error(tooLarge);
    // Nothing below changes the text, so a view serves as the working copy.
    std::string_view copy = text;
    if (copy.starts_with(byteOrderMark)) copy.remove_prefix(byteOrderMark.size());
    const std::size_t first = copy.find_first_not_of(blank);
    if (first == copy.npos) throw std::runtime_error(emptyBackup);

    std::string_view documentText = copy;
    if (copy[first] != '{') {
        const std::optional<std::string_view> script = findBackupScript(copy);
        if (!script) throw std::runtime_error(notABackup);
        documentText = *script;
    }

    Json root = parseDocument(documentText);
    if (!isSupported(root)) throw std::runtime_error(unsupportedDocument);

    Collection collection;
    collection.sample = isSampleDocument(root);
    collection.document = emptyDocument(collection.sample);
    auto& entries = root.find("intentions")->get_ref<Json::array_t&>();
    auto& accepted = collection.document["intentions"].get_ref<Json::array_t&>();
    // Room for every entry that can pass, but no more than the text can hold: a crafted array of
    // millions of tiny elements must not reserve gigabytes before its first element fails.
    const std::size_t expected = std::min(entries.size(), documentText.size() / shortestEntry);
    accepted.reserve(expected);
    collection.items.reserve(expected);
    IdSet seen(expected);
    for (Json& entry : entries) {
        collection.items.push_back(acceptEntry(entry, seen));
        // The entry's strings, and so the ids in seen, stay where they are when it moves.
        accepted.push_back(std::move(entry));
    }
    return collection;
}

} // namespace wishwell
