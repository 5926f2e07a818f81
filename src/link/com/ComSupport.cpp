#include "ComSupport.h"

#include "WideText.h"

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
    const std::wstring wide = WideFromUtf8(utf8);
    b_ = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    if (b_ == nullptr) {
        throw std::bad_alloc();
    }
}

std::string Bstr::Utf8() const {
    return b_ == nullptr ? std::string() : Utf8FromWide({b_, SysStringLen(b_)});
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
        text = Utf8FromWide({buffer, length});
    }
    LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return text.empty() ? "Ошибка COM " + HResultName(hr) : text + " (" + HResultName(hr) + ")";
}

} // namespace pelmbus::com
