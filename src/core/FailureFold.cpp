#include "FailureFold.h"

namespace pelmbus {

FailureFold::FailureFold(std::string what, std::function<void(const std::string&)> write,
                         uint32_t windowMs)
    : FWhat(std::move(what)), FWrite(std::move(write)), FWindowMs(windowMs) {}

void FailureFold::Failure(const std::string& text, uint32_t tick) {
    // Unsigned differences stay right across the tick's wrap.
    if (FRunning && text == FText && tick - FLastTick < FWindowMs) {
        ++FRepeats;
        FLastTick = tick;
        return;
    }
    EndRun();
    FRunning = true;
    FText = text;
    FRepeats = 0;
    FFirstTick = tick;
    FLastTick = tick;
    FWrite(FWhat + ": " + text);
}

void FailureFold::Success() {
    EndRun();
}

void FailureFold::Check(uint32_t tick) {
    if (FRunning && tick - FLastTick >= FWindowMs) {
        EndRun();
    }
}

void FailureFold::Flush() {
    EndRun();
}

void FailureFold::EndRun() {
    if (!FRunning) {
        return;
    }
    FRunning = false;
    if (FRepeats == 0) {
        return; // its one line is written already
    }
    const uint32_t seconds = (FLastTick - FFirstTick + 500) / 1000;
    FWrite(FWhat + " повторилась ещё " + std::to_string(FRepeats) + " раз за " +
           std::to_string(seconds) + " с: " + FText);
}

} // namespace pelmbus
