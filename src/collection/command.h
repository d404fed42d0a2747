#pragma once
// How Windows started the screensaver, read from the text after the program name.

#include <cstdint>
#include <string>

namespace wishwell {

enum class Mode { configure = 0, run = 1, preview = 2, invalid = 3 };

struct Command {
    Mode mode = Mode::invalid;
    std::uint64_t handle = 0; // the decimal window handle of /c or /p, 0 when none was given
};

// Never raises: every line that cannot be interpreted gives Mode::invalid.
Command command(std::wstring line);

} // namespace wishwell
