#include "ThreadPriority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace pelmbus {

void RaiseToTimeCriticalPriority() {
    // The lowest real-time priority already runs ahead of every ordinary
    // thread, which is what the receive thread needs; without the right to
    // it, the highest ordinary priority is the next best.
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_FIFO);
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0) {
        return;
    }
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), -20);
}

} // namespace pelmbus
