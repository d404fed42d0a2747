// The built-in sample collection, shown until the user imports a backup of their own.

#include "collection.h"

#include <array>
#include <string>

namespace wishwell {

namespace {

constexpr std::array<const char*, 8> sampleTexts = {
    "I have financial freedom.",
    "I am a famous potato farmer.",
    "I have enough money to adopt three dogs and give them a beautiful life.",
    "I will backpack across Europe next summer.",
    "I will meet my soulmate.",
    "I am in harmony with the universe.",
    "I believe in myself.",
    "I will harvest one million potatoes.",
};

// Entries 1 and 2 are not WordArt; their themes are written anyway and the import drops them.
constexpr std::array<const char*, 8> sampleThemes = {
    "rainbow", "blues", "purple", "superhero", "purple", "horizon", "italicOutline", "blues",
};

} // namespace

Collection samples() {
    nlohmann::json document = emptyDocument(true);
    nlohmann::json& intentions = document["intentions"];
    for (std::size_t i = 0; i < sampleTexts.size(); ++i) {
        const char* animation = i == 1 ? "windows" : i == 2 ? "echoes" : "wordart";
        intentions.push_back(nlohmann::json{{"id", "sample-" + std::to_string(i)},
                                            {"text", sampleTexts[i]},
                                            {"sentAt", "2026-10-01"},
                                            {"animation", animation},
                                            {"wordartTheme", sampleThemes[i]}});
    }
    // Read back like any backup, so the samples pass the same checks and carry a normalised
    // document.
    return parseBackup(dumpDocument(document));
}

} // namespace wishwell
