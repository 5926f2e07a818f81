#include "ThreadPriority.h"

#include <windows.h>

namespace pelmbus {

void RaiseToTimeCriticalPriority() {
    // Refused only for a thread handle without the right to set it; the
    // pseudo handle of the own thread always has it.
    (void)SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
}

} // namespace pelmbus
