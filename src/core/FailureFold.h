// Folds a failure that repeats into few journal lines: the first failure of
// a text is written as it happens; its repeats, each within a minute of the
// one before, are only counted, and their count is written once the run
// ends: the failures stop (a success, or no repeat within the minute) or
// the text changes. An application that fails 20 times a second thus yields
// two lines, not a million.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace pelmbus {

class FailureFold {
public:
    static constexpr uint32_t DefaultWindowMs = 60000;

    // `write` gets each line's event text; `what` names the failure
    // ("Ошибка обновления данных").
    FailureFold(std::string what, std::function<void(const std::string& event)> write,
                uint32_t windowMs = DefaultWindowMs);

    // Ticks are milliseconds of a clock that wraps at 2^32.
    void Failure(const std::string& text, uint32_t tick);
    void Success();
    // Ends a run whose last failure is a window old; call it now and then.
    void Check(uint32_t tick);
    // Writes the count of a run in progress and starts counting anew (at
    // close, and hourly so that a failure that lasts all weekend shows).
    void Flush();

private:
    void EndRun();

    std::string FWhat;
    std::function<void(const std::string&)> FWrite;
    uint32_t FWindowMs;
    bool FRunning = false;
    std::string FText;
    uint64_t FRepeats = 0;
    uint32_t FFirstTick = 0;
    uint32_t FLastTick = 0;
};

} // namespace pelmbus
