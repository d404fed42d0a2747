// The collection value type and the normalised collection document.

#include "collection.h"

#include <array>

namespace wishwell {

namespace {

constexpr std::array<std::string_view, 4> animations = {"wordart", "windows", "echoes", "legacy"};
constexpr std::array<std::string_view, 6> themes = {"rainbow", "blues",   "superhero",
                                                    "purple",  "horizon", "italicOutline"};

} // namespace

Collection::Collection(Collection&& other) noexcept
    : items(std::move(other.items)), sample(other.sample), document(std::move(other.document)) {
    other.items.clear();
    other.sample = false;
    other.document = nullptr;
}

Collection& Collection::operator=(Collection&& other) noexcept {
    if (this == &other) return *this;
    items.clear();
    items = std::move(other.items);
    sample = other.sample;
    document = std::move(other.document);
    other.items.clear();
    other.sample = false;
    other.document = nullptr;
    return *this;
}

Collection::~Collection() {
    document = nullptr;
    items.clear();
}

bool isAnimation(std::string_view animation) {
    for (std::string_view known : animations) {
        if (animation == known) return true;
    }
    return false;
}

bool isTheme(std::string_view theme) {
    for (std::string_view known : themes) {
        if (theme == known) return true;
    }
    return false;
}

nlohmann::json emptyDocument(bool sample) {
    return {{"format", "wishwell-intentions"},
            {"version", 1},
            {"sample", sample},
            {"intentions", nlohmann::json::array()}};
}

nlohmann::json normalisedEntry(const Item& item, const std::string& sentAt) {
    nlohmann::json entry = {
        {"id", item.id}, {"text", item.text}, {"sentAt", sentAt}, {"animation", item.animation}};
    if (item.animation == "wordart") entry["wordartTheme"] = item.theme;
    return entry;
}

std::string dumpDocument(const nlohmann::json& document) {
    return document.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
}

} // namespace wishwell
