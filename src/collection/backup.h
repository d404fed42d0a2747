#pragma once
// The stages of the backup import, visible to their tests. Everything else calls parseBackup.

#include <nlohmann/json.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace wishwell {

// Containers nested deeper than this are refused before they can exhaust memory or stack.
inline constexpr int maximumNesting = 32;
// Longer script start tags are never examined.
inline constexpr std::size_t maximumStartTag = 4096;

// Whether the start tag (from "<" up to, not including, ">") carries id="intention-backup" and
// type="application/json": letter case ignored, either quote, white space around "=", and the
// attribute name starting at a word boundary.
bool hasBackupIdentity(std::string_view startTag);
bool hasBackupType(std::string_view startTag);

// The text inside the first script element that carries both attributes, up to the next
// "</script", or nothing when the page holds no such element.
std::optional<std::string_view> findBackupScript(std::string_view page);

// Parses a JSON text with nesting bounded by maximumNesting. Raises "Backup nesting is too deep."
// or "The backup contains invalid JSON data.".
nlohmann::json parseDocument(std::string_view text);

// Number of Unicode code points of valid UTF-8 text.
std::size_t countCodePoints(std::string_view text);

// The string held by the key of an intention entry, checked against its limit in code points and
// for U+0000. Raises "A required field is missing." or "An entry is too long or contains invalid
// characters.".
std::string& readField(nlohmann::json& entry, std::string_view key, std::size_t limit);

} // namespace wishwell
