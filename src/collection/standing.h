#pragma once
// Where Windows stands on starting this screensaver: the facts the settings window reads from the
// system, and the one sentence it shows about them.

#include <cstdint>
#include <optional>
#include <string>

namespace wishwell {

// The file a screensaver setting names. thisProgram is the running executable, installedCopy the
// copy in the data folder; a file that does not exist is another one.
enum class Choice { none, thisProgram, installedCopy, another };

// Every fact is empty when Windows could not be asked; the sentence then leaves it out.
struct SaverFacts {
    bool policyOff = false;             // a policy's ScreenSaveActive is "0"
    std::optional<Choice> policyChoice; // a policy's SCRNSAVE.EXE, where one names a file
    std::optional<Choice> userChoice;   // the user's SCRNSAVE.EXE; none when missing or empty
    std::optional<std::uint64_t> installedVersion; // the installed copy's file version
    std::optional<std::uint64_t> ownVersion;       // this program's file version
    std::optional<std::uint32_t> saverTimeout;     // seconds without input before it starts
    std::optional<std::uint32_t> displayTimeout;   // seconds before the display turns off; 0: never
};

// The one sentence, in UTF-8, that says whether and when Windows starts this screensaver, or the
// first reason why it will not.
std::string standingSentence(const SaverFacts& facts);

} // namespace wishwell
