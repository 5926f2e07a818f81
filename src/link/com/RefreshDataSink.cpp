#include "RefreshDataSink.h"

#include <oleauto.h>

namespace pelmbus::com {

namespace {

constexpr DISPID RefreshDataId = 1;

} // namespace

RefreshDataSink::RefreshDataSink(const IID& eventInterface, AutomationBackend::EventSink sink)
    : eventInterface_(eventInterface), sink_(std::move(sink)) {}

HRESULT STDMETHODCALLTYPE RefreshDataSink::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        IsEqualIID(riid, eventInterface_)) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE RefreshDataSink::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&references_));
}

ULONG STDMETHODCALLTYPE RefreshDataSink::Release() {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) {
        delete this;
    }
    return static_cast<ULONG>(left);
}

HRESULT STDMETHODCALLTYPE RefreshDataSink::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) {
        return E_POINTER;
    }
    *count = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RefreshDataSink::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info != nullptr) {
        *info = nullptr;
    }
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE RefreshDataSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE RefreshDataSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params,
                                                  VARIANT*, EXCEPINFO*, UINT* argumentError) {
    if (id != RefreshDataId) {
        return S_OK;
    }
    if (params == nullptr || params->cArgs == 0 || params->rgvarg == nullptr) {
        return DISP_E_BADPARAMCOUNT;
    }
    // Arguments come last to first; the application may send any integer
    // type, or one by reference.
    VARIANT ind;
    VariantInit(&ind);
    const HRESULT hr = VariantChangeType(&ind, &params->rgvarg[params->cArgs - 1], 0, VT_I4);
    if (FAILED(hr)) {
        if (argumentError != nullptr) {
            *argumentError = params->cArgs - 1;
        }
        return hr;
    }
    const int32_t value = ind.lVal;
    VariantClear(&ind);
    if (!sink_) {
        return S_OK;
    }
    // A copy, so that a handler which disconnects the link stays valid.
    const AutomationBackend::EventSink sink = sink_;
    try {
        sink(value);
    } catch (...) {
        return E_UNEXPECTED; // an exception never crosses into COM
    }
    return S_OK;
}

} // namespace pelmbus::com
