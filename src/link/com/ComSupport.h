// Small helpers of the COM link: owned interface references and automation
// strings that are released on every path, and the text of a COM status
// code. Text crosses to UTF-16 through the platform's WideText.
#pragma once

#include "LinkIdentifiers.h"

#include <objbase.h>
#include <oleauto.h>

#include <string>
#include <string_view>
#include <utility>

namespace pelmbus::com {

GUID ToGuid(const LinkGuid& guid);

// One counted reference to an interface; released when dropped.
template <class T> class ComRef {
public:
    ComRef() = default;
    explicit ComRef(T* adopted) : p_(adopted) {}
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ComRef(ComRef&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComRef& operator=(ComRef&& other) noexcept {
        if (this != &other) {
            Reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    ~ComRef() { Reset(); }

    void Reset() {
        if (T* p = std::exchange(p_, nullptr)) {
            p->Release();
        }
    }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For an out-parameter: drops what was held and takes what the call gives.
    T** Put() {
        Reset();
        return &p_;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }

private:
    T* p_ = nullptr;
};

// An automation string owned by this holder.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(std::string_view utf8);
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(b_); }

    BSTR Get() const { return b_; }
    BSTR* Put() {
        SysFreeString(b_);
        b_ = nullptr;
        return &b_;
    }
    std::string Utf8() const;

private:
    BSTR b_ = nullptr;
};

// "0x800706BE"
std::string HResultName(HRESULT hr);
// The system's text for the code (UTF-8, without the line end), or the code
// itself when the system has none.
std::string HResultText(HRESULT hr);

} // namespace pelmbus::com
