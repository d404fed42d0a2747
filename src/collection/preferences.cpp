#include "preferences.h"

#include <nlohmann/json.hpp>

#include <stdexcept>

namespace wishwell {

bool reducedMotionFrom(std::string_view text) {
    const nlohmann::json document = nlohmann::json::parse(text, nullptr, true, false);
    if (!document.is_object()) throw std::runtime_error("The preferences are not an object.");
    const auto member = document.find("reducedMotion");
    if (member == document.end()) return false;
    if (!member->is_boolean()) throw std::runtime_error("The reduced-motion preference is not a boolean.");
    return member->get<bool>();
}

std::string preferencesDocument(bool reducedMotion) {
    const nlohmann::json document = {{"reducedMotion", reducedMotion}};
    return document.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
}

} // namespace wishwell
