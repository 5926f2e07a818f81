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

// Puts a file with `bytes` in the place of the file at `path` (UTF-8), whole
// or not at all: the bytes go to a new file beside it, which reaches the
// disk before it takes the old file's place. The old file's attributes
// stay; a read-only file is not replaced. False when any step fails, and
// the old file is then left as it was.
bool ReplaceFileContents(const std::string& path, const std::string& bytes);

// The present moment in the user's local time.
TLocalDateTime LocalNow();

} // namespace pelmbus
