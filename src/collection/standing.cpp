#include "standing.h"

namespace wishwell {
namespace {

// Windows counts its time-outs in seconds and shows them in whole minutes; a part of a minute
// still has to pass, so it counts as one.
std::string minutes(std::uint32_t seconds) {
    const std::uint32_t whole = seconds / 60 + (seconds % 60 != 0);
    return std::to_string(whole) + (whole == 1 ? " minute" : " minutes");
}

bool ours(Choice choice) {
    return choice == Choice::thisProgram || choice == Choice::installedCopy;
}

} // namespace

std::string standingSentence(const SaverFacts& facts) {
    if (facts.policyOff || facts.policyChoice == Choice::another) {
        return "The screensaver on this PC is chosen by your organisation's policy.";
    }
    // A policy that chooses this program overrides whatever the user's own setting says.
    const std::optional<Choice> chosen = facts.policyChoice ? facts.policyChoice : facts.userChoice;
    if (chosen && !ours(*chosen)) {
        return "Windows is not set to start Wishwell Lumiary. Press Install for this Windows user "
               "to choose it.";
    }
    if (chosen == Choice::installedCopy && facts.installedVersion && facts.ownVersion &&
        *facts.installedVersion < *facts.ownVersion) {
        return "An older version is installed. Press Install for this Windows user to update it.";
    }
    if (facts.displayTimeout && facts.saverTimeout && *facts.displayTimeout != 0 &&
        *facts.displayTimeout <= *facts.saverTimeout) {
        return "The display turns off after " + minutes(*facts.displayTimeout) +
               ", before the screensaver starts. Change it in Windows' power settings.";
    }
    if (!facts.saverTimeout) return "Windows starts Wishwell Lumiary after a while without input.";
    return "Windows starts Wishwell Lumiary after " + minutes(*facts.saverTimeout) +
           " without input.";
}

} // namespace wishwell
