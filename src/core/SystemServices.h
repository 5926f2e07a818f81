// What the core needs from the operating system, implemented once per
// platform under src/platform/.
#pragma once

#include <string>

namespace pelmbus {

// Directory of the running executable, with its trailing separator.
std::string ExecutableDirectory();

} // namespace pelmbus
