#include "ComSupport.h"

#include <cstdio>
#include <new>

namespace pelmbus::com {

GUID ToGuid(const LinkGuid& guid) {
    GUID result{};
    result.Data1 = static_cast<unsigned long>(guid.Data1);
    result.Data2 = guid.Data2;
    result.Data3 = guid.Data3;
    for (size_t i = 0; i < guid.Data4.size(); ++i) {
        result.Data4[i] = guid.Data4[i];
    }
    return result;
}

Bstr::Bstr(std::string_view utf8) {
    const std::wstring wide = Utf8ToWide(utf8);
    b_ = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    if (b_ == nullptr) {
        throw std::bad_alloc();
    }
}

std::string Bstr::Utf8() const {
    return b_ == nullptr ? std::string() : WideToUtf8(b_, SysStringLen(b_));
}

std::wstring Utf8ToWide(std::string_view utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return wide;
}

std::string WideToUtf8(const wchar_t* text, size_t length) {
    if (length == 0) {
        return {};
    }
    const int size = static_cast<int>(length);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, size, utf8.data(), bytes, nullptr, nullptr);
    return utf8;
}

std::string HResultName(HRESULT hr) {
    char name[16];
    std::snprintf(name, sizeof name, "0x%08lX", static_cast<unsigned long>(hr));
    return name;
}

std::string HResultText(HRESULT hr) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text;
    if (length > 0 && buffer != nullptr) {
        text = WideToUtf8(buffer, length);
    }
    LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return text.empty() ? "Ошибка COM " + HResultName(hr) : text + " (" + HResultName(hr) + ")";
}

} // namespace pelmbus::com
