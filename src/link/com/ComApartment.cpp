#include "ComApartment.h"

#include <objbase.h>

namespace pelmbus {

ComApartment::ComApartment() {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    entered_ = SUCCEEDED(hr); // S_FALSE, too, must be balanced
}

ComApartment::~ComApartment() {
    if (entered_) {
        CoUninitialize();
    }
}

} // namespace pelmbus
