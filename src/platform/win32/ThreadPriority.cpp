#include "ThreadPriority.h"

#include <windows.h>

#include <timeapi.h>

namespace pelmbus {

void RaiseToTimeCriticalPriority() {
    // Refused only for a thread handle without the right to set it; the
    // pseudo handle of the own thread always has it.
    (void)SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    // Timed waits end on the system's timer tick, 15.6 ms unless a program
    // asks for more: the byte pauses are a few milliseconds each. Asked once
    // for the whole run; the system drops it when the process ends.
    static const bool fineTimer = timeBeginPeriod(1) == TIMERR_NOERROR;
    (void)fineTimer;
}

} // namespace pelmbus
