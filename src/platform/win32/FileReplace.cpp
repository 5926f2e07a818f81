#include "SystemServices.h"
#include "WideText.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <random>

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

bool WriteAll(HANDLE file, const std::string& bytes) {
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

} // namespace

bool ReplaceFileContents(const std::string& path, const std::string& bytes) {
    const std::wstring target = WideFromUtf8(path);
    const DWORD old = GetFileAttributesW(target.c_str());
    const bool exists = old != INVALID_FILE_ATTRIBUTES;
    if (!exists && GetLastError() != ERROR_FILE_NOT_FOUND) {
        return false; // no directory, no access: nothing to put a file into
    }
    // A read-only file is one its owner does not want changed.
    if (exists && (old & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        return false;
    }
    std::wstring temporary;
    const HANDLE file = CreateTemporaryBeside(target, temporary);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    // The bytes reach the disk before the new file takes the old one's
    // place, so that a power cut leaves one of the two whole.
    const bool written = WriteAll(file, bytes) && FlushFileBuffers(file);
    const bool closed = CloseHandle(file) != 0;
    bool replaced = false;
    if (written && closed) {
        if (exists) {
            // ReplaceFileW keeps the old file's attributes, security and
            // creation time; where it cannot, the new file gets the
            // attributes and is moved over the old one.
            replaced = ReplaceFileW(target.c_str(), temporary.c_str(), nullptr,
                                    REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0;
            if (!replaced && (old & KeptAttributes) != 0) {
                (void)SetFileAttributesW(temporary.c_str(), old & KeptAttributes);
            }
        }
        if (!replaced) {
            replaced = MoveFileExW(temporary.c_str(), target.c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
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
    return replaced;
}

} // namespace pelmbus
