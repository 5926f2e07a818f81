#include "SimulatorControl.h"

#include "ComSupport.h"
#include "WideText.h"

#include <oleauto.h>
#include <tlhelp32.h>

#include <vector>

namespace pelsim::control {

namespace {

// pelsim never runs longer than this in a test, whatever happens to it.
constexpr const wchar_t* Lifetime = L" --lifetime 120";

HANDLE Launch(const std::wstring& arguments) {
    std::wstring commandLine = L"\"" + SimulatorPath() + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &info)) {
        return nullptr;
    }
    CloseHandle(info.hThread);
    return info.hProcess;
}

std::vector<DWORD> SimulatorProcesses() {
    std::vector<DWORD> ids;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return ids;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (CompareStringOrdinal(entry.szExeFile, -1, L"pelsim.exe", -1, TRUE) == CSTR_EQUAL) {
            ids.push_back(entry.th32ProcessID);
        }
    }
    CloseHandle(snapshot);
    return ids;
}

// Asks a simulator to end as it would at its lifetime's end, revoking its
// class object and running object: WM_QUIT to each of its threads (only the
// main thread has a message queue).
void AskToQuit(DWORD processId) {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return;
    }
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == processId) {
            PostThreadMessageW(entry.th32ThreadID, WM_QUIT, 0, 0);
        }
    }
    CloseHandle(snapshot);
}

void EndProcess(DWORD id, bool graceful) {
    const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
    if (process == nullptr) {
        return;
    }
    if (graceful) {
        AskToQuit(id);
    }
    if (!graceful || WaitForSingleObject(process, 3000) != WAIT_OBJECT_0) {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, 5000);
    }
    CloseHandle(process);
}

} // namespace

std::wstring SimulatorPath() {
    // The build tree's path on the Linux side; Wine shows the root as Z:.
    std::wstring path = L"Z:" + pelmbus::WideFromUtf8(PELSIM_EXECUTABLE);
    for (wchar_t& c : path) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return path;
}

int RunSimulator(const std::wstring& arguments, int timeoutMs) {
    const HANDLE process = Launch(arguments);
    if (process == nullptr) {
        return -1;
    }
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process, &code);
    } else {
        TerminateProcess(process, 1);
    }
    CloseHandle(process);
    return static_cast<int>(code);
}

int EndAllSimulators() {
    const std::vector<DWORD> ids = SimulatorProcesses();
    for (DWORD id : ids) {
        EndProcess(id, true);
    }
    return static_cast<int>(ids.size());
}

int KillAllSimulators() {
    const std::vector<DWORD> ids = SimulatorProcesses();
    for (DWORD id : ids) {
        EndProcess(id, false);
    }
    return static_cast<int>(ids.size());
}

int CountSimulators() {
    return static_cast<int>(SimulatorProcesses().size());
}

bool WaitUntilRunning(const pelmbus::LinkIdentifiers& ids, int timeoutMs) {
    const CLSID classId = pelmbus::com::ToGuid(ids.ClassGuid());
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    do {
        pelmbus::com::ComRef<IUnknown> object;
        if (SUCCEEDED(GetActiveObject(classId, nullptr, object.Put()))) {
            return true;
        }
        Sleep(50);
    } while (GetTickCount64() < deadline);
    return false;
}

bool SimulatorProcess::Start(const pelmbus::LinkIdentifiers& ids, const std::wstring& arguments,
                             int timeoutMs) {
    End();
    process_ = Launch(arguments + Lifetime);
    if (process_ == nullptr) {
        return false;
    }
    if (!WaitUntilRunning(ids, timeoutMs)) {
        End();
        return false;
    }
    return true;
}

void SimulatorProcess::End() {
    if (process_ != nullptr) {
        EndProcess(GetProcessId(process_), true);
        CloseHandle(process_);
        process_ = nullptr;
    }
}

} // namespace pelsim::control
