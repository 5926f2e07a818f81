// The accumulated average (data kind 1) and the sliding volume flow (data
// kind 8), both computed from the current values in floats 0 to 10: float 7
// is the volume of the report interval, float 10 its duration in seconds.
// Intermediate results are double; every stored value is single precision.
#include "InOutPort.h"
#include "SinglePrecision.h"

#include <algorithm>

namespace pelmbus {
namespace {

constexpr double SecondsPerHour = 3600.0;
constexpr double MinimumWeight = 0.000001;
constexpr double MinimumDuration = 0.1;
constexpr float NoDurationFlow = 100000.0f;

} // namespace

bool TInOutPort::AccumAverage() {
    std::lock_guard lock(ImageMutex);
    auto& a = UsrednAcc;
    const auto f = [this](int i) { return static_cast<double>(BufFloat[i]); };

    const float weight = ToSingle(double{a[7]} + f(7));
    a[8] = ToSingle(double{a[8]} + f(8));
    a[9] = ToSingle(double{a[9]} + f(9));
    a[10] = ToSingle(double{a[10]} + f(10));
    if (weight > MinimumWeight) {
        // Incremental mean of f0..f4 weighted by f7; a[7] is still the
        // previous total weight here.
        for (int j = 0; j <= 4; ++j) {
            a[j] = ToSingle((double{a[j]} * a[7] + f(j) * f(7)) / weight);
        }
    }
    a[7] = weight;
    if (a[10] > MinimumDuration) {
        a[5] = ToSingle(double{a[7]} / a[10] * SecondsPerHour);
        a[6] = ToSingle(double{a[9]} / a[10] * SecondsPerHour);
    }

    ++UsrednCount;
    if (UsrednCount < UstUsredn) {
        return false;
    }
    UsrednCount = 0;
    for (int j = 0; j < AverageSlots; ++j) {
        BufFloat[11 + j] = a[j];
    }
    a.fill(0.0f);
    return true;
}

void TInOutPort::SlidingAverage() {
    std::lock_guard lock(ImageMutex);
    // Both windows are always UstUsrednCl long; the smaller size is used all
    // the same so that nothing is ever indexed beyond either of them.
    const size_t n = std::min(UsrednClA.size(), UsrednClB.size());
    if (n == 0) {
        return;
    }
    for (size_t i = 0; i + 1 < n; ++i) {
        UsrednClA[i] = UsrednClA[i + 1];
        UsrednClB[i] = UsrednClB[i + 1];
    }
    UsrednClA[n - 1] = BufFloat[7];
    UsrednClB[n - 1] = BufFloat[10];

    double volume = 0.0;
    double duration = 0.0;
    for (size_t i = 0; i < n; ++i) {
        volume += UsrednClA[i];
        duration += UsrednClB[i];
    }
    if (volume == 0.0) {
        BufFloat[88] = 0.0f;
    } else if (duration > 0.0) {
        BufFloat[88] = ToSingle(volume / duration * SecondsPerHour);
    } else {
        BufFloat[88] = NoDurationFlow;
    }
}

} // namespace pelmbus
