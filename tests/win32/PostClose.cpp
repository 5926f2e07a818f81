// Closes a running PelMBus.exe as the window system does: WM_CLOSE posted to
// its main window, then waits for the program to end.
//   post_close.exe [seconds]     exit code 0 when it ended in time
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    const DWORD seconds = argc > 1 ? static_cast<DWORD>(std::atoi(argv[1])) : 20;
    HWND window = nullptr;
    for (DWORD waited = 0; window == nullptr && waited < seconds * 1000; waited += 100) {
        window = FindWindowW(L"TFPelMBus", nullptr);
        if (window == nullptr) {
            Sleep(100);
        }
    }
    if (window == nullptr) {
        std::fprintf(stderr, "post_close: no PelMBus window\n");
        return 2;
    }
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    PostMessageW(window, WM_CLOSE, 0, 0);
    if (process == nullptr || WaitForSingleObject(process, seconds * 1000) != WAIT_OBJECT_0) {
        std::fprintf(stderr, "post_close: PelMBus did not end\n");
        return 1;
    }
    CloseHandle(process);
    return 0;
}
