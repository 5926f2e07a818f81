#include "WakeMargin.h"

#include <algorithm>

namespace pelmbus {
namespace {

// A step is a share of the tracked lateness, so that it settles as quickly
// at the tens of microseconds of a quiet Linux machine as at the
// millisecond of a Windows wait.
constexpr int StepShare = 64;
constexpr std::chrono::nanoseconds LeastStep{1000};
// Covers the spread of the wake-ups just above the tracked percentile.
constexpr std::chrono::microseconds Guard{20};

} // namespace

std::chrono::microseconds TWakeMargin::Current() const {
    return std::clamp(std::chrono::duration_cast<std::chrono::microseconds>(FLateness) + Guard,
                      Least, Most);
}

void TWakeMargin::Observe(std::chrono::nanoseconds lateness) {
    const std::chrono::nanoseconds step = std::max(LeastStep, FLateness / StepShare);
    FLateness += lateness > FLateness ? 9 * step : -step;
    FLateness =
        std::clamp<std::chrono::nanoseconds>(FLateness, std::chrono::nanoseconds::zero(), Most);
}

} // namespace pelmbus
