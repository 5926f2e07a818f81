// The host's current year by its local clock, for data that the simulator
// dates from the clock.
#pragma once

#include <ctime>

namespace pelmbus::testsupport {

inline int HostYear() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return local.tm_year + 1900;
}

} // namespace pelmbus::testsupport
