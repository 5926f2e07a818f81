// One PelMBus per directory: the files beside the executable and the port
// they name belong to one program. A second start in the same directory
// brings the running window to the front and ends; programs started from
// different directories run side by side.
#pragma once

#include <windows.h>

#include <string>

namespace pelmbus {

class TDirectoryClaim {
public:
    // Claims `directory` (the executable's) for this process: a named mutex
    // derived from the directory, which the system releases when the
    // process ends in any way, so a crash leaves no stale claim.
    explicit TDirectoryClaim(const std::wstring& directory);
    ~TDirectoryClaim();
    TDirectoryClaim(const TDirectoryClaim&) = delete;
    TDirectoryClaim& operator=(const TDirectoryClaim&) = delete;

    // False when another program holds the directory.
    bool First() const { return FFirst; }

private:
    HANDLE FMutex = nullptr;
    bool FFirst = true;
};

// The mutex name for `directory`: the same for every spelling of its letters'
// case, different for different directories.
std::wstring DirectoryClaimName(const std::wstring& directory);

// Brings the main window of another running process of the executable at
// `executablePath` to the front, restored if minimized. False when none is
// found (the other program may not have its window yet).
bool BringRunningWindowForward(const std::wstring& executablePath);

} // namespace pelmbus
