// The default interface of the metering application's object as the client
// sees it: DoCommand is the first method after IUnknown's three and
// IDispatch's four, the eighth slot of the table. Declared with external
// linkage: in an unnamed namespace the compiler would see no class that
// implements it and could drop the call as unreachable.
#pragma once

#include <oaidl.h>

namespace pelmbus::com {

struct IAutomationDoCommand : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE DoCommand(BSTR command, BSTR* reply) = 0;
};

} // namespace pelmbus::com
