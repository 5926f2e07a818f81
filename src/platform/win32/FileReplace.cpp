#include "SystemServices.h"
#include "WideText.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string_view>
#include <system_error>

namespace pelmbus {
namespace {

// Attributes that SetFileAttributesW can give the new file.
constexpr DWORD KeptAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                                 FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_SYSTEM;

// Creates a new file beside `target` under a name nobody can know in
// advance, so that no file or link planted there is written through.
HANDLE CreateTemporaryBeside(const std::wstring& target, std::wstring& name) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        wchar_t suffix[32];
        std::swprintf(suffix, std::size(suffix), L".%08x%08x.tmp", random(), random());
        name = target + suffix;
        const HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) {
            return file;
        }
    }
    return INVALID_HANDLE_VALUE;
}

// Whether name (without directory) is one that a save of the file named
// base creates for its temporary: base, a dot, sixteen hexadecimal digits
// and ".tmp". Names compare without case, as the file system does.
bool IsTemporaryNameOf(std::wstring_view name, std::wstring_view base) {
    constexpr std::wstring_view Extension = L".tmp";
    constexpr size_t Digits = 16;
    if (name.size() != base.size() + 1 + Digits + Extension.size() || name[base.size()] != L'.') {
        return false;
    }
    const auto same = [](std::wstring_view a, std::wstring_view b) {
        return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                    static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
    };
    const std::wstring_view digits = name.substr(base.size() + 1, Digits);
    const auto isDigit = [](wchar_t c) {
        return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
    };
    return same(name.substr(0, base.size()), base) &&
           same(name.substr(name.size() - Extension.size()), Extension) &&
           std::all_of(digits.begin(), digits.end(), isDigit);
}

// A save cut short (the process killed between creating its temporary file
// and the rename) leaves that file behind for good; the next save of the
// same file removes it. Only plain files under this file's own temporary
// names go, never a directory or a link. A temporary that another save still
// holds open cannot be deleted (it is not shared) and stays.
void RemoveLeftoverTemporaries(const std::wstring& target) {
    const size_t separator = target.find_last_of(L"\\/");
    const std::wstring directory =
        separator == std::wstring::npos ? std::wstring() : target.substr(0, separator + 1);
    const std::wstring base = target.substr(directory.size());
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((target + L".*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        constexpr DWORD NotAPlainFile = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
        if ((found.dwFileAttributes & NotAPlainFile) == 0 &&
            IsTemporaryNameOf(found.cFileName, base)) {
            DeleteFileW((directory + found.cFileName).c_str());
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

bool WriteAll(HANDLE file, std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
            return false;
        }
        done += written;
    }
    return true;
}

std::error_code LastError() {
    return {static_cast<int>(GetLastError()), std::system_category()};
}

// Puts `temporary` in the place of `target` once; the system's error code,
// ERROR_SUCCESS when done. The old file stays as it was on failure.
DWORD MoveIntoPlace(const std::wstring& target, const std::wstring& temporary, bool exists,
                    DWORD old) {
    if (exists) {
        // ReplaceFileW keeps the old file's attributes, security and
        // creation time; where it cannot, the new file gets the attributes
        // and is moved over the old one.
        if (ReplaceFileW(target.c_str(), temporary.c_str(), nullptr,
                         REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
            return ERROR_SUCCESS;
        }
        if ((old & KeptAttributes) != 0) {
            (void)SetFileAttributesW(temporary.c_str(), old & KeptAttributes);
        }
    }
    if (MoveFileExW(temporary.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return ERROR_SUCCESS;
    }
    return GetLastError();
}

// Virus scanners and the search indexer open a freshly written file for a
// moment, without sharing it: a save waits for such a holder a short while
// before it is reported failed. The replace is tried only once both files
// are free again (some implementations of ReplaceFileW leave a file behind
// at each failed attempt). Renaming over a file that another handle holds
// is refused as access denied, so that counts as held too.
constexpr ULONGLONG SharingRetryMs = 2000;
constexpr DWORD SharingRetryStepMs = 50;

bool MayBeHeldForAMoment(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_ACCESS_DENIED;
}

// True while another handle holds `path` without sharing its deletion,
// which a replace needs.
bool HeldByAnother(const std::wstring& path) {
    const HANDLE file =
        CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_SHARING_VIOLATION;
    }
    CloseHandle(file);
    return false;
}

DWORD MoveIntoPlaceWaitingForSharers(const std::wstring& target, const std::wstring& temporary,
                                     bool exists, DWORD old) {
    const ULONGLONG giveUp = GetTickCount64() + SharingRetryMs;
    for (;;) {
        while ((HeldByAnother(temporary) || (exists && HeldByAnother(target))) &&
               GetTickCount64() < giveUp) {
            Sleep(SharingRetryStepMs);
        }
        const DWORD error = MoveIntoPlace(target, temporary, exists, old);
        if (!MayBeHeldForAMoment(error) || GetTickCount64() >= giveUp) {
            return error;
        }
        Sleep(SharingRetryStepMs);
    }
}

} // namespace

bool FileIsReadOnly(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(WideFromUtf8(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

std::error_code ReplaceFileContents(const std::string& path, std::string_view bytes) {
    const std::wstring target = WideFromUtf8(path);
    const DWORD old = GetFileAttributesW(target.c_str());
    const bool exists = old != INVALID_FILE_ATTRIBUTES;
    if (!exists && GetLastError() != ERROR_FILE_NOT_FOUND) {
        return LastError(); // no directory, no access: nothing to put a file into
    }
    // A read-only file is one its owner does not want changed.
    if (exists && (old & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        return std::make_error_code(std::errc::permission_denied);
    }
    RemoveLeftoverTemporaries(target);
    std::wstring temporary;
    const HANDLE file = CreateTemporaryBeside(target, temporary);
    if (file == INVALID_HANDLE_VALUE) {
        return LastError();
    }
    // The bytes reach the disk before the new file takes the old one's
    // place, so that a power cut leaves one of the two whole.
    const bool written = WriteAll(file, bytes) && FlushFileBuffers(file);
    std::error_code failure = written ? std::error_code{} : LastError();
    const bool closed = CloseHandle(file) != 0;
    if (!failure && !closed) {
        failure = LastError();
    }
    bool replaced = false;
    if (written && closed) {
        const DWORD error = MoveIntoPlaceWaitingForSharers(target, temporary, exists, old);
        replaced = error == ERROR_SUCCESS;
        if (!replaced) {
            failure = {static_cast<int>(error), std::system_category()};
        }
        // Not every implementation of ReplaceFileW carries the attributes
        // over (Wine's does not); put back any that went missing.
        const DWORD now = replaced ? GetFileAttributesW(target.c_str()) : INVALID_FILE_ATTRIBUTES;
        if (exists && now != INVALID_FILE_ATTRIBUTES &&
            (now & KeptAttributes) != (old & KeptAttributes)) {
            (void)SetFileAttributesW(target.c_str(),
                                     (now & ~KeptAttributes & ~FILE_ATTRIBUTE_NORMAL) |
                                         (old & KeptAttributes));
        }
    }
    if (!replaced) {
        DeleteFileW(temporary.c_str());
    }
    return failure;
}

} // namespace pelmbus
