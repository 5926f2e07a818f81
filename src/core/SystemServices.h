// What the core needs from the operating system, implemented once per
// platform under src/platform/.
#pragma once

#include "DateTimeText.h"
#include "FormatSettings.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

namespace pelmbus {

// Directory of the running executable, with its trailing separator.
std::string ExecutableDirectory();

// Number and date formats of the user's locale; "." and "," where the locale
// names no separator.
TFormatSettings UserFormatSettings();

// True when the file at path exists and is marked read-only: this process
// may not write it, or nobody may (a mark that a privileged process honours
// as well).
bool FileIsReadOnly(const std::string& path);

// Replaces the regular file at path (links already resolved by the caller)
// whole by bytes, or leaves it as it was. The bytes go to a new temporary
// file in the same directory, created exclusively under an unpredictable
// name without following links or blocking, with the old file's permission
// bits (a new file gets the usual ones); it is flushed to disk and renamed
// over path, and the directory is flushed so that a power loss cannot undo
// the rename. An empty code on success; on failure the temporary file is
// gone. Temporary files of earlier saves of the same file that were cut
// short are removed first (regular files under the save's own names only).
std::error_code ReplaceFileContents(const std::string& path, std::string_view bytes);

// Appends bytes at the end of the file at path, creating it when missing,
// without flushing it to disk: for the journal, which must never wait for
// the disk. A link at path is not followed. An empty code on success.
std::error_code AppendToFile(const std::string& path, std::string_view bytes);

// The size in bytes of the file at path; 0 when nothing exists there.
std::error_code FileSizeOf(const std::string& path, std::uintmax_t& size);

// Renames the file at from to to, replacing a file that is there.
std::error_code RenameReplacing(const std::string& from, const std::string& to);

// The operating system's text for the error of its last failed call on this
// thread, in the user's language where the system has one.
std::string LastSystemErrorText();

// The present moment in the user's local time.
TLocalDateTime LocalNow();

} // namespace pelmbus
