#include "SystemServices.h"
#include "WideText.h"

#include <windows.h>

namespace pelmbus {

std::string ExecutableDirectory() {
    // The path may be longer than MAX_PATH; the call cuts it to the buffer
    // and says so only by filling the buffer.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return ".\\";
        }
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? ".\\" : Utf8FromWide(path.substr(0, separator + 1));
}

} // namespace pelmbus
