#include "OneProgramPerDirectory.h"

#include <cstdint>
#include <cwchar>

namespace pelmbus {

namespace {

std::wstring UpperInvariant(const std::wstring& text) {
    std::wstring upper(text.size(), L'\0');
    const int length = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.c_str(),
                                     static_cast<int>(text.size()), upper.data(),
                                     static_cast<int>(upper.size()), nullptr, nullptr, 0);
    return length > 0 ? upper : text;
}

// Paths as the file system compares them: long names, any letter case.
std::wstring Canonical(const std::wstring& path) {
    std::wstring full(GetLongPathNameW(path.c_str(), nullptr, 0), L'\0');
    if (full.empty() || GetLongPathNameW(path.c_str(), full.data(),
                                         static_cast<DWORD>(full.size())) != full.size() - 1) {
        return UpperInvariant(path);
    }
    full.pop_back();
    return UpperInvariant(full);
}

std::wstring ProcessImagePath(DWORD processId) {
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (process == nullptr) {
        return {};
    }
    std::wstring path(32768, L'\0');
    DWORD size = static_cast<DWORD>(path.size());
    if (!QueryFullProcessImageNameW(process, 0, path.data(), &size)) {
        size = 0;
    }
    CloseHandle(process);
    path.resize(size);
    return path;
}

struct WindowSearch {
    std::wstring ExecutablePath; // canonical
    HWND Found = nullptr;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM data) {
    auto& search = *reinterpret_cast<WindowSearch*>(data);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    // The program's own top-level window: no owner, not a message box.
    if (processId == GetCurrentProcessId() || GetWindow(window, GW_OWNER) != nullptr ||
        (GetWindowLongW(window, GWL_STYLE) & WS_CAPTION) != WS_CAPTION) {
        return TRUE;
    }
    const std::wstring image = ProcessImagePath(processId);
    if (image.empty() || Canonical(image) != search.ExecutablePath) {
        return TRUE;
    }
    search.Found = window;
    return FALSE;
}

} // namespace

std::wstring DirectoryClaimName(const std::wstring& directory) {
    // FNV-1a over the upper-case path: kernel object names cannot hold a
    // whole path (no backslashes, limited length).
    uint64_t hash = 14695981039346656037ull;
    for (const wchar_t c : Canonical(directory)) {
        hash = (hash ^ static_cast<uint16_t>(c)) * 1099511628211ull;
    }
    wchar_t name[64];
    std::swprintf(name, std::size(name), L"Local\\PelMBus.%016llx",
                  static_cast<unsigned long long>(hash));
    return name;
}

TDirectoryClaim::TDirectoryClaim(const std::wstring& directory) {
    FMutex = CreateMutexW(nullptr, FALSE, DirectoryClaimName(directory).c_str());
    // A mutex made by a program started at another level refuses access:
    // the directory is taken all the same.
    FFirst = FMutex != nullptr ? GetLastError() != ERROR_ALREADY_EXISTS
                               : GetLastError() != ERROR_ACCESS_DENIED;
}

TDirectoryClaim::~TDirectoryClaim() {
    if (FMutex != nullptr) {
        CloseHandle(FMutex);
    }
}

bool BringRunningWindowForward(const std::wstring& executablePath) {
    WindowSearch search{Canonical(executablePath)};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    if (search.Found == nullptr) {
        return false;
    }
    if (IsIconic(search.Found)) {
        ShowWindow(search.Found, SW_RESTORE);
    }
    // A message box of the program goes in front of its window.
    HWND front = GetLastActivePopup(search.Found);
    SetForegroundWindow(front != nullptr ? front : search.Found);
    return true;
}

} // namespace pelmbus
