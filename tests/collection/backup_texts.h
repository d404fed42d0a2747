#pragma once
// Backup texts and the import's sentences, shared by the tests of the import.

#include "collection.h"

#include <nlohmann/json.hpp>

#include <stdexcept>
#include <string>
#include <string_view>

namespace backup_texts {

inline const std::string tooLarge = "Choose a backup under 30 MB.";
inline const std::string emptyBackup = "The backup is empty.";
inline const std::string notABackup = "Choose the HTML or JSON backup from Your intentions.";
inline const std::string tooDeep = "Backup nesting is too deep.";
inline const std::string invalidJson = "The backup contains invalid JSON data.";
inline const std::string unsupported = "This is not a supported intention collection.";
inline const std::string invalidEntry = "An intention entry is invalid.";
inline const std::string missingField = "A required field is missing.";
inline const std::string badField = "An entry is too long or contains invalid characters.";
inline const std::string unusable = "The backup contains an empty, repeated or unsupported entry.";
inline const std::string unknownTheme = "Unknown WordArt style.";
// What outcome() reports for a text that parseBackup accepts.
inline const std::string accepted = "accepted";

// An entry that passes every check.
inline nlohmann::json entry(const std::string& id = "calm",
                            const std::string& animation = "wordart") {
    nlohmann::json result = {{"id", id},
                             {"text", "I am calm and kind."},
                             {"sentAt", "2026-03-14"},
                             {"animation", animation}};
    if (animation == "wordart") result["wordartTheme"] = "blues";
    return result;
}

inline nlohmann::json backupOf(nlohmann::json intentions) {
    return {
        {"format", "wishwell-intentions"}, {"version", 1}, {"intentions", std::move(intentions)}};
}

inline std::string backupText(nlohmann::json intentions) {
    return backupOf(std::move(intentions)).dump();
}

// The document inside a page of the shape the widget exports.
inline std::string pageAround(
    std::string_view document,
    std::string_view startTag = R"(<script id="intention-backup" type="application/json">)") {
    std::string page = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                       "<title>Your intentions</title></head>\n<body>\n";
    page += startTag;
    page += document;
    page += "</script>\n</body></html>\n";
    return page;
}

// The sentence parseBackup raises for the text, or "accepted"; anything else fails the test.
inline std::string outcome(std::string_view text) {
    try {
        wishwell::parseBackup(text);
    } catch (const std::runtime_error& failure) {
        return failure.what();
    }
    return accepted;
}

} // namespace backup_texts
