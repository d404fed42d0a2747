#pragma once
// The one preference, reduced motion, as stored in "preferences.json".

#include <string>
#include <string_view>

namespace wishwell {

// The reduced-motion value of a preferences document: the boolean member "reducedMotion" of a
// top-level object, false when the object has no such member. Raises for text that is not JSON,
// a top-level value that is not an object, and a member that is not a boolean.
bool reducedMotionFrom(std::string_view text);

// The exact document the settings window writes: {"reducedMotion":true} or {"reducedMotion":false}.
std::string preferencesDocument(bool reducedMotion);

} // namespace wishwell
