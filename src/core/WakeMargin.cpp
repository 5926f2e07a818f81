#include "WakeMargin.h"

#include <algorithm>

namespace pelmbus {
namespace {

constexpr std::chrono::nanoseconds StepDown{1000};
constexpr std::chrono::nanoseconds StepUp = 9 * StepDown;
// Covers the spread of the wake-ups just above the tracked percentile.
constexpr std::chrono::microseconds Guard{20};

} // namespace

std::chrono::microseconds TWakeMargin::Current() const {
    return std::clamp(std::chrono::duration_cast<std::chrono::microseconds>(FLateness) + Guard,
                      Least, Most);
}

void TWakeMargin::Observe(std::chrono::nanoseconds lateness) {
    FLateness += lateness > FLateness ? StepUp : -StepDown;
    FLateness =
        std::clamp<std::chrono::nanoseconds>(FLateness, std::chrono::nanoseconds::zero(), Most);
}

} // namespace pelmbus
