// CommDevice on the Win32 communication API, with overlapped I/O so that a
// wait for the line can be ended from another thread.
#pragma once

#include "CommDevice.h"

#include <windows.h>

#include <string>

namespace pelmbus {

// The name CreateFileW opens for a port name (ComPortFileName), in UTF-16.
std::wstring CommFileName(const std::string& name);

// Fills the line settings of a DCB from the parsed mode, keeping the rest
// of what GetCommState gave.
void ApplyModeToDcb(const CommMode& mode, DCB& dcb);

class Win32CommDevice final : public CommDevice {
public:
    Win32CommDevice();
    ~Win32CommDevice() override;
    Win32CommDevice(const Win32CommDevice&) = delete;
    Win32CommDevice& operator=(const Win32CommDevice&) = delete;

    bool Open(const std::string& name) override;
    bool IsOpen() const override { return Port != INVALID_HANDLE_VALUE; }
    void Close() override;
    bool Gone() const override { return DeviceGone; }
    bool SetQueueSizes(uint32_t input, uint32_t output) override;
    bool SetState(const CommMode& mode) override;
    bool SetEventMask(uint32_t mask) override;
    bool SetTimeouts(const CommTimeouts& timeouts) override;
    CommWait WaitEvent(uint32_t& mask) override;
    bool WaitEventResult(uint32_t& mask) override;
    void Wake() override;
    bool ClearErrors(CommStatus& status) override;
    CommIo ReadByte(uint8_t& byte) override;
    CommIo Write(const uint8_t* bytes, uint32_t count, uint32_t& written) override;
    bool WaitWrite(uint32_t& written) override;

private:
    // Notes whether the error of a failed call says the device has gone.
    void NoteFailure(DWORD error);
    // Ends a WaitCommEvent that is still running and collects it, so that
    // its OVERLAPPED and mask are free again.
    void EndPendingWait();
    // Collects an overlapped operation that was told to end; false when it
    // did not end within the limit (the record stays in use).
    bool Collect(OVERLAPPED& op, DWORD& transferred, DWORD limitMs);

    HANDLE Port = INVALID_HANDLE_VALUE;
    bool DeviceGone = false;
    // Manual reset, set by Wake(): the only thing Wake() touches, so that it
    // is safe on any thread. The thread that waits ends its own pending
    // operation when it sees the event.
    HANDLE WakeEvent = nullptr;
    DWORD EventMask = 0;
    CommTimeouts Timeouts;

    OVERLAPPED WaitOp{};
    DWORD WaitMask = 0; // written by the system when a pending wait ends
    bool WaitPending = false;

    OVERLAPPED ReadOp{};
    OVERLAPPED WriteOp{};
    bool WritePending = false;
    DWORD WriteCount = 0;
};

} // namespace pelmbus
