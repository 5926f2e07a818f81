// Units the benchmarks report in: milliseconds of a steady-clock duration,
// and the processor time the whole program has used.
#pragma once

#include <chrono>

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace pelmbus::bench {

inline double Milliseconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

#ifndef _WIN32
// User and system time of every thread of the process, in seconds.
inline double ProcessorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
#endif

} // namespace pelmbus::bench
