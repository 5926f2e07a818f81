#include "SystemServices.h"
#include "WideText.h"

#include <windows.h>

#include <algorithm>

namespace pelmbus {

namespace {

std::error_code LastError() {
    return {static_cast<int>(GetLastError()), std::system_category()};
}

} // namespace

std::error_code AppendToFile(const std::string& path, std::string_view bytes) {
    // Shared for reading, writing and deleting: an engineer may have the
    // journal open in an editor, and the journal may be renamed meanwhile.
    const HANDLE file = CreateFileW(WideFromUtf8(path).c_str(), FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return LastError();
    }
    std::error_code result;
    if (GetFileType(file) != FILE_TYPE_DISK) {
        result = std::make_error_code(std::errc::not_supported);
    }
    while (!result && !bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 20));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr)) {
            result = LastError();
            break;
        }
        bytes.remove_prefix(written);
    }
    if (!CloseHandle(file) && !result) {
        result = LastError();
    }
    return result;
}

std::error_code FileSizeOf(const std::string& path, std::uintmax_t& size) {
    size = 0;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(WideFromUtf8(path).c_str(), GetFileExInfoStandard, &data)) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? std::error_code{}
                   : std::error_code{static_cast<int>(error), std::system_category()};
    }
    size = (static_cast<std::uintmax_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return {};
}

std::error_code RenameReplacing(const std::string& from, const std::string& to) {
    if (!MoveFileExW(WideFromUtf8(from).c_str(), WideFromUtf8(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING)) {
        return LastError();
    }
    return {};
}

std::string LastSystemErrorText() {
    const DWORD error = GetLastError();
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length > 0 ? std::wstring(buffer, length) : L"";
    LocalFree(buffer);
    // The system's texts end with a full stop and a line break.
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' ||
                             text.back() == L'.')) {
        text.pop_back();
    }
    return text.empty() ? "код ошибки " + std::to_string(error) : Utf8FromWide(text);
}

} // namespace pelmbus
