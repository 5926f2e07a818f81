// Rounding doubles to the single-precision floats of the float image without
// the undefined behaviour of a C++ conversion beyond the float range.
#pragma once

#include <cmath>
#include <limits>

namespace pelmbus {

// Beyond this magnitude round-to-nearest gives an infinity.
inline constexpr double SingleOverflowThreshold = 3.4028235677973366e38;

// True when the value rounds to a finite single.
inline bool FitsSingle(double value) {
    return std::isfinite(value) && std::fabs(value) < SingleOverflowThreshold;
}

// Rounds as the hardware does: results beyond the range become infinities.
inline float ToSingle(double value) {
    if (std::isnan(value) || std::fabs(value) < SingleOverflowThreshold) {
        return static_cast<float>(value);
    }
    return value > 0 ? std::numeric_limits<float>::infinity()
                     : -std::numeric_limits<float>::infinity();
}

} // namespace pelmbus
