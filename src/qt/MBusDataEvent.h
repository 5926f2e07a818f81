// WM_MBUSDATA as a Qt event: posted to the window, delivered by the loop.
#pragma once

#include "FormHost.h"

#include <QEvent>

namespace pelmbus {

class TMBusDataEvent : public QEvent {
public:
    static constexpr QEvent::Type EventType = static_cast<QEvent::Type>(QEvent::User + WM_MBUSDATA);
    TMBusDataEvent(uintptr_t wParam, intptr_t lParam)
        : QEvent(EventType), WParam(wParam), LParam(lParam) {}
    const uintptr_t WParam;
    const intptr_t LParam;
};

} // namespace pelmbus
