// pelsim.exe from the Windows tests and benchmarks, inside the Wine prefix
// they run in: registering it, starting it, and ending every copy so that no
// simulator outlives a test (a leftover would be found by GetActiveObject in
// the next one).
#pragma once

#include "LinkIdentifiers.h"

#include <windows.h>

#include <string>

namespace pelsim::control {

// The pelsim.exe of this build.
std::wstring SimulatorPath();

// Runs pelsim.exe with `arguments` to its end (for /RegServer and
// /UnregServer); its exit code, or -1 when it could not run or outlived
// `timeoutMs`.
int RunSimulator(const std::wstring& arguments, int timeoutMs = 20000);

// Ends every pelsim.exe process and waits until they are gone; how many
// there were. Each is asked first to end as it would by itself, so that it
// revokes its registrations with COM (Wine's COM keeps those of a process
// that was killed, and later activations fail on them).
int EndAllSimulators();
// Kills every pelsim.exe process at once, as a crash would.
int KillAllSimulators();
// How many pelsim.exe processes run.
int CountSimulators();

// True once the class's object is in the running-object table, within
// `timeoutMs`.
bool WaitUntilRunning(const pelmbus::LinkIdentifiers& ids, int timeoutMs);

// One pelsim.exe started by the test, ended when dropped.
class SimulatorProcess {
public:
    SimulatorProcess() = default;
    ~SimulatorProcess() { End(); }
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    // Starts pelsim.exe with `arguments` (always with a bounded lifetime)
    // and waits until its object runs.
    bool Start(const pelmbus::LinkIdentifiers& ids, const std::wstring& arguments,
               int timeoutMs = 10000);
    void End();

private:
    HANDLE process_ = nullptr;
};

} // namespace pelsim::control
