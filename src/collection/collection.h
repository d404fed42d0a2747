#pragma once
// Intentions in memory, the collection document they travel in, and the only two producers of
// collections: the backup import and the built-in samples.

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>
#include <vector>

namespace wishwell {

struct Item {
    std::string id;
    std::string text;
    std::string animation; // "wordart", "windows", "echoes" or "legacy"
    std::string theme;     // a WordArt theme; "rainbow" for every item that is not "wordart"
};

struct Collection {
    std::vector<Item> items;
    bool sample = false;
    nlohmann::json document; // the normalised collection document, saved as "intentions.json"

    Collection() = default;
    Collection(Collection&& other) noexcept;
    Collection& operator=(Collection&& other) noexcept;
    Collection(const Collection&) = delete;
    Collection& operator=(const Collection&) = delete;
    ~Collection();
};

// Backups and the stored collection are read only up to this size.
inline constexpr std::size_t maximumBackupBytes = 31457280;

// The closed sets of the format; membership is byte-exact.
bool isAnimation(std::string_view animation);
bool isTheme(std::string_view theme);

// The normalised document of a collection with the given sample flag and no entries yet.
nlohmann::json emptyDocument(bool sample);
// One normalised entry; "wordartTheme" is kept only for "wordart" entries.
nlohmann::json normalisedEntry(const Item& item, const std::string& sentAt);
// The stored form: compact, raw UTF-8, keys in ascending byte order, no line break.
// Raises the JSON library's error when a string is not valid UTF-8.
std::string dumpDocument(const nlohmann::json& document);

// Reads a JSON backup, an HTML page that carries one, or the stored collection. Raises
// std::runtime_error with a sentence for the user on any input it does not accept.
Collection parseBackup(std::string_view text);

// The eight built-in sample intentions, read through parseBackup like any backup.
Collection samples();

} // namespace wishwell
