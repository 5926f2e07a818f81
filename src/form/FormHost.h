// What the main window needs of the window system, behind one interface: the
// Qt and Win32 views implement it for the program, a fake implements it for
// tests.
#pragma once

#include "AutomationErrors.h"
#include "FormatSettings.h"
#include "MeteringLink.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace pelmbus {

// The window's private message (the window system's first private message
// number plus 180); wParam carries a code, lParam is always 0.
inline constexpr uint32_t WM_MBUSDATA = 0x4B4;

// Codes of WM_MBUSDATA.
inline constexpr uintptr_t MBusDataPriem = 200;   // a request frame arrived
inline constexpr uintptr_t MBusDataPered = 210;   // a response frame was sent
inline constexpr uintptr_t MBusDataRefresh = 230; // the metering application has new data

struct TLocalDateTime; // DateTimeText.h

class TFormHost {
public:
    virtual ~TFormHost() = default;

    // Queues a message for the main window; the loop delivers it later to
    // TFPelMBus::WMMBusData. Never waits for the work.
    virtual void PostWindowMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
    // A modal message window: the text, one OK button, caption "ModBus".
    virtual void ShowMessage(const std::string& text) = 0;
    // The default error report for an error that escaped a handler.
    virtual void ShowError(const std::string& text) = 0;
    // Milliseconds since some fixed moment, wrapping at 2^32.
    virtual uint32_t TickCount() = 0;
    // Directory of the executable, with its trailing separator.
    virtual std::string ExecutableDirectory() = 0;
    // The user's number and date formats.
    virtual TFormatSettings FormatSettings() = 0;
    // The present moment in local time, for the lines of the exchange
    // monitor; the system clock unless a host overrides it.
    virtual TLocalDateTime Now();
    // Runs work on the main thread's loop later; the receive thread hands
    // its events over through this.
    virtual void PostToMainThread(std::function<void()> work) = 0;
    // Makes an unconnected link to the metering station's server program
    // (TAutoPel) or client program (TAutoCltPel). A host without links
    // refuses as a machine without the program would.
    virtual std::unique_ptr<MeteringLink> CreateAutoPel() {
        throw EAutomationSystemError("Программа Pel.exe не зарегистрирована");
    }
    virtual std::unique_ptr<MeteringLink> CreateAutoCltPel() {
        throw EAutomationSystemError("Программа CltPel.exe не зарегистрирована");
    }
};

} // namespace pelmbus
