#include "collection.h"

#include <stdexcept>

namespace wishwell {

Collection parseBackup(std::string_view) {
    throw std::runtime_error("The backup contains invalid JSON data.");
}

} // namespace wishwell
