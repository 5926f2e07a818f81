// What the core needs from the operating system, implemented once per
// platform under src/platform/.
#pragma once

#include "DateTimeText.h"
#include "FormatSettings.h"

#include <string>

namespace pelmbus {

// Directory of the running executable, with its trailing separator.
std::string ExecutableDirectory();

// Number and date formats of the user's locale; "." and "," where the locale
// names no separator.
TFormatSettings UserFormatSettings();

// Forces the written contents of a closed file to the disk before it is
// renamed over an older one. False when that fails.
bool FlushFileToDisk(const std::string& path);

// The present moment in the user's local time.
TLocalDateTime LocalNow();

} // namespace pelmbus
