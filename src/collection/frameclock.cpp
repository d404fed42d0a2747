#include "frameclock.h"

namespace wishwell {

bool frameDue(double last, double now) {
    return now < last || now - last >= frameGap;
}

} // namespace wishwell
