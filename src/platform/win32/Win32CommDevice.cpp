#include "Win32CommDevice.h"

#include "ComPortName.h"
#include "WideText.h"

// mingw-w64 10's winerror.h lacks it: a device that no longer exists.
#ifndef ERROR_NO_SUCH_DEVICE
#define ERROR_NO_SUCH_DEVICE 433L
#endif

namespace pelmbus {
namespace {

// How long an operation that was told to end may take to report it.
constexpr DWORD CollectLimitMs = 1000;

} // namespace

std::wstring CommFileName(const std::string& name) {
    return WideFromUtf8(ComPortFileName(name));
}

void ApplyModeToDcb(const CommMode& mode, DCB& dcb) {
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = mode.BaudRate;
    dcb.ByteSize = mode.ByteSize;
    dcb.Parity = static_cast<BYTE>(mode.Parity);
    dcb.StopBits = static_cast<BYTE>(mode.StopBits);
    dcb.fBinary = TRUE;
    dcb.fParity = mode.Parity != CommParity::None;
    dcb.fOutxCtsFlow = mode.OutxCtsFlow;
    dcb.fOutxDsrFlow = mode.OutxDsrFlow;
    dcb.fDsrSensitivity = mode.DsrSensitivity;
    dcb.fOutX = mode.OutX;
    dcb.fInX = mode.InX;
    dcb.fDtrControl = static_cast<DWORD>(mode.Dtr);
    dcb.fRtsControl = static_cast<DWORD>(mode.Rts);
    // Bytes are data: no replacement of bad or null bytes, and a line error
    // must not stop reads until it is cleared.
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    dcb.EvtChar = static_cast<char>(mode.EvtChar);
    if (dcb.XonChar == dcb.XoffChar) {
        dcb.XonChar = 0x11;
        dcb.XoffChar = 0x13;
    }
}

std::unique_ptr<CommDevice> MakeCommDevice() {
    return std::make_unique<Win32CommDevice>();
}

Win32CommDevice::Win32CommDevice() {
    WakeEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    WaitOp.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ReadOp.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    WriteOp.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

Win32CommDevice::~Win32CommDevice() {
    Close();
    for (HANDLE event : {WakeEvent, WaitOp.hEvent, ReadOp.hEvent, WriteOp.hEvent}) {
        if (event != nullptr) {
            CloseHandle(event);
        }
    }
}

bool Win32CommDevice::Open(const std::string& name) {
    Close();
    if (name.empty() || WakeEvent == nullptr || WaitOp.hEvent == nullptr ||
        ReadOp.hEvent == nullptr || WriteOp.hEvent == nullptr) {
        return false;
    }
    // Share mode 0: the line is this program's alone.
    const HANDLE port = CreateFileW(CommFileName(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        return false;
    }
    Port = port;
    DeviceGone = false;
    EventMask = 0;
    Timeouts = CommTimeouts{};
    WaitPending = false;
    WritePending = false;
    return true;
}

void Win32CommDevice::Close() {
    if (Port == INVALID_HANDLE_VALUE) {
        return;
    }
    EndPendingWait();
    if (WritePending) {
        DWORD transferred = 0;
        CancelIo(Port);
        WritePending = !Collect(WriteOp, transferred, CollectLimitMs);
    }
    CloseHandle(Port);
    Port = INVALID_HANDLE_VALUE;
    DeviceGone = false;
    // Whatever was still running ended with the handle.
    WaitPending = false;
    WritePending = false;
}

bool Win32CommDevice::SetQueueSizes(uint32_t input, uint32_t output) {
    return Port != INVALID_HANDLE_VALUE && SetupComm(Port, input, output);
}

bool Win32CommDevice::SetState(const CommMode& mode) {
    if (Port == INVALID_HANDLE_VALUE || mode.BaudRate == 0) {
        return false;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(Port, &dcb)) {
        return false;
    }
    ApplyModeToDcb(mode, dcb);
    return SetCommState(Port, &dcb) != 0;
}

bool Win32CommDevice::SetEventMask(uint32_t mask) {
    if (Port == INVALID_HANDLE_VALUE) {
        return false;
    }
    // Setting the mask ends a pending wait; collect it first.
    EndPendingWait();
    const DWORD events = (mask & EvRxChar) != 0 ? EV_RXCHAR : 0;
    if (!SetCommMask(Port, events)) {
        return false;
    }
    EventMask = events;
    return true;
}

bool Win32CommDevice::SetTimeouts(const CommTimeouts& timeouts) {
    if (Port == INVALID_HANDLE_VALUE) {
        return false;
    }
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = timeouts.ReadIntervalTimeout;
    t.ReadTotalTimeoutMultiplier = timeouts.ReadTotalTimeoutMultiplier;
    t.ReadTotalTimeoutConstant = timeouts.ReadTotalTimeoutConstant;
    t.WriteTotalTimeoutMultiplier = timeouts.WriteTotalTimeoutMultiplier;
    t.WriteTotalTimeoutConstant = timeouts.WriteTotalTimeoutConstant;
    if (!SetCommTimeouts(Port, &t)) {
        return false;
    }
    Timeouts = timeouts;
    return true;
}

// What the serial drivers answer on a handle whose device was removed (a USB
// adapter pulled out); Wine gives ERROR_GEN_FAILURE for a terminal that hung
// up. Line errors never fail a call: ClearCommError reports them.
void Win32CommDevice::NoteFailure(DWORD error) {
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
        DeviceGone = true;
        break;
    default:
        break;
    }
}

CommWait Win32CommDevice::WaitEvent(uint32_t& mask) {
    mask = 0;
    DeviceGone = false;
    if (Port == INVALID_HANDLE_VALUE || (EventMask & EV_RXCHAR) == 0) {
        return CommWait::Failed;
    }
    EndPendingWait();
    if (WaitPending) {
        return CommWait::Failed; // the last wait never ended: its record is busy
    }
    ResetEvent(WakeEvent);
    // Bytes that came while nobody waited may have had their event taken
    // by a change of the mask: what is queued counts as an event.
    DWORD errors = 0;
    COMSTAT stat{};
    if (!ClearCommError(Port, &errors, &stat)) {
        // A wait on a device that is gone may never end (Wine keeps it
        // pending on a terminal that hung up): none is started.
        NoteFailure(GetLastError());
        if (DeviceGone) {
            return CommWait::Failed;
        }
    } else if (stat.cbInQue > 0) {
        mask = EvRxChar;
        return CommWait::Completed;
    }
    ResetEvent(WaitOp.hEvent);
    WaitMask = 0;
    if (WaitCommEvent(Port, &WaitMask, &WaitOp)) {
        mask = (WaitMask & EV_RXCHAR) != 0 ? EvRxChar : 0;
        return CommWait::Completed;
    }
    if (const DWORD error = GetLastError(); error != ERROR_IO_PENDING) {
        NoteFailure(error);
        return CommWait::Failed;
    }
    WaitPending = true;
    return CommWait::Pending;
}

bool Win32CommDevice::WaitEventResult(uint32_t& mask) {
    mask = 0;
    if (!WaitPending) {
        return false;
    }
    const HANDLE events[2] = {WaitOp.hEvent, WakeEvent};
    if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
        EndPendingWait();
        return false;
    }
    DWORD transferred = 0;
    const bool ok = GetOverlappedResult(Port, &WaitOp, &transferred, FALSE) != 0;
    WaitPending = false;
    // A wait ended by a change of the mask reports no event.
    if (!ok || (WaitMask & EV_RXCHAR) == 0) {
        return false;
    }
    mask = EvRxChar;
    return true;
}

void Win32CommDevice::Wake() {
    SetEvent(WakeEvent);
}

void Win32CommDevice::EndPendingWait() {
    if (!WaitPending || Port == INVALID_HANDLE_VALUE) {
        return;
    }
    // Setting the mask again ends a pending WaitCommEvent, on Windows by
    // design and under Wine as well (where CancelIo and CancelIoEx do not).
    SetCommMask(Port, EventMask);
    DWORD transferred = 0;
    if (Collect(WaitOp, transferred, CollectLimitMs)) {
        WaitPending = false;
        return;
    }
    CancelIo(Port);
    WaitPending = !Collect(WaitOp, transferred, CollectLimitMs);
}

bool Win32CommDevice::Collect(OVERLAPPED& op, DWORD& transferred, DWORD limitMs) {
    transferred = 0;
    if (WaitForSingleObject(op.hEvent, limitMs) != WAIT_OBJECT_0) {
        return false;
    }
    (void)GetOverlappedResult(Port, &op, &transferred, FALSE);
    return true;
}

bool Win32CommDevice::ClearErrors(CommStatus& status) {
    status = CommStatus{};
    DWORD errors = 0;
    COMSTAT stat{};
    if (Port == INVALID_HANDLE_VALUE) {
        return false;
    }
    if (!ClearCommError(Port, &errors, &stat)) {
        NoteFailure(GetLastError());
        return false;
    }
    status.InQueue = stat.cbInQue;
    status.OutQueue = stat.cbOutQue;
    return true;
}

CommIo Win32CommDevice::ReadByte(uint8_t& byte) {
    if (Port == INVALID_HANDLE_VALUE) {
        return CommIo::Failed;
    }
    // Only a byte that is queued is read: a read of an empty queue would
    // wait for the next byte (and under Wine stays pending even with
    // time-outs that ask for an immediate return).
    DWORD errors = 0;
    COMSTAT stat{};
    if (!ClearCommError(Port, &errors, &stat)) {
        return CommIo::Failed;
    }
    if (stat.cbInQue == 0) {
        return CommIo::Pending;
    }
    ResetEvent(ReadOp.hEvent);
    DWORD read = 0;
    if (ReadFile(Port, &byte, 1, &read, &ReadOp)) {
        return read == 1 ? CommIo::Done : CommIo::Pending;
    }
    if (GetLastError() != ERROR_IO_PENDING) {
        return CommIo::Failed;
    }
    if (!Collect(ReadOp, read, CollectLimitMs)) {
        // A read that does not end is cancelled, so that no byte arrives
        // later in a buffer nobody looks at.
        CancelIo(Port);
        if (!Collect(ReadOp, read, INFINITE)) {
            return CommIo::Failed;
        }
    }
    return read == 1 ? CommIo::Done : CommIo::Pending;
}

CommIo Win32CommDevice::Write(const uint8_t* bytes, uint32_t count, uint32_t& written) {
    written = 0;
    if (Port == INVALID_HANDLE_VALUE || WritePending) {
        return CommIo::Failed;
    }
    ResetEvent(WriteOp.hEvent);
    DWORD done = 0;
    if (WriteFile(Port, bytes, count, &done, &WriteOp)) {
        written = done;
        return CommIo::Done;
    }
    if (GetLastError() != ERROR_IO_PENDING) {
        return CommIo::Failed;
    }
    WritePending = true;
    WriteCount = count;
    return CommIo::Pending;
}

bool Win32CommDevice::WaitWrite(uint32_t& written) {
    written = 0;
    if (!WritePending) {
        return Port != INVALID_HANDLE_VALUE;
    }
    // The driver ends the write at its time-out (both zero: none); the
    // wait allows a margin beyond it before it gives up on the driver.
    const uint64_t limitMs = uint64_t{Timeouts.WriteTotalTimeoutMultiplier} * WriteCount +
                             Timeouts.WriteTotalTimeoutConstant;
    const DWORD waitMs = limitMs == 0 ? INFINITE : static_cast<DWORD>(limitMs + CollectLimitMs);
    const HANDLE events[2] = {WriteOp.hEvent, WakeEvent};
    const DWORD result = WaitForMultipleObjects(2, events, FALSE, waitMs);
    DWORD transferred = 0;
    if (result == WAIT_OBJECT_0) {
        const bool ok = GetOverlappedResult(Port, &WriteOp, &transferred, FALSE) != 0;
        WritePending = false;
        written = transferred;
        return ok;
    }
    CancelIo(Port);
    WritePending = !Collect(WriteOp, transferred, CollectLimitMs);
    written = transferred;
    // Running out of time is a short write, not a failure; a wake is.
    return result == WAIT_TIMEOUT;
}

} // namespace pelmbus
