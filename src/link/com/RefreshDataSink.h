// The event sink of the metering link: a COM object in the main thread's
// apartment that the application's connection point calls. It answers the
// event interface, IDispatch and IUnknown; dispatch identifier 1 is
// RefreshData, whose argument is converted to a 32-bit integer; every other
// identifier is ignored and answered with success.
#pragma once

#include "AutomationObject.h"

#include <oaidl.h>
#include <objbase.h>

namespace pelmbus::com {

class RefreshDataSink final : public IDispatch {
public:
    RefreshDataSink(const IID& eventInterface, AutomationBackend::EventSink sink);

    // Drops the handler: events still on their way are answered and ignored.
    void Disconnect() { sink_ = nullptr; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                     UINT* argumentError) override;

private:
    ~RefreshDataSink() = default;

    LONG references_ = 1;
    IID eventInterface_;
    AutomationBackend::EventSink sink_;
};

} // namespace pelmbus::com
