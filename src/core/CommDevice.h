// A serial device as the serial channel sees it. The operations follow the
// Win32 communication calls (CreateFile, SetupComm, SetCommState,
// SetCommMask, SetCommTimeouts, WaitCommEvent with GetOverlappedResult,
// ClearCommError, ReadFile, WriteFile, CloseHandle) so that the channel's
// algorithm reads the same on every platform; src/platform implements it.
//
// Threads: one thread at a time drives a device, except Wake(), which any
// thread may call at any time.
#pragma once

#include "CommMode.h"

#include <cstdint>
#include <memory>
#include <string>

namespace pelmbus {

// Event mask bit: a character was received.
inline constexpr uint32_t EvRxChar = 0x0001;

// Time-outs in milliseconds, as the Win32 COMMTIMEOUTS record.
struct CommTimeouts {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0; // per byte of a write
    uint32_t WriteTotalTimeoutConstant = 0;
};

// Queue counts, as cbInQue and cbOutQue of the Win32 COMSTAT record.
struct CommStatus {
    uint32_t InQueue = 0;  // received bytes not yet read
    uint32_t OutQueue = 0; // written bytes not yet sent
};

enum class CommWait {
    Completed, // an event was already there; the mask holds it
    Pending,   // nothing yet: WaitEventResult blocks for it
    Failed,    // no wait possible (device closed, no event mask)
};

enum class CommIo {
    Done,    // completed at once
    Pending, // still running: a read adds nothing, a write ends in WaitWrite
    Failed,
};

class CommDevice {
public:
    virtual ~CommDevice() = default;

    // Opens the named device for reading and writing, for this program
    // alone. Any device still open is closed first.
    virtual bool Open(const std::string& name) = 0;
    virtual bool IsOpen() const = 0;
    virtual void Close() = 0;
    // True when the last event wait, or a call after it, failed because the
    // device itself is no longer there (an adapter pulled out, a terminal
    // hung up), not because of an error on the line; only a new Open can
    // bring such a device back.
    virtual bool Gone() const { return false; }

    // Sizes of the driver's input and output queues.
    virtual bool SetQueueSizes(uint32_t input, uint32_t output) = 0;
    // Baud rate, framing and flow control of the line.
    virtual bool SetState(const CommMode& mode) = 0;
    // Which events WaitEvent reports (EvRxChar).
    virtual bool SetEventMask(uint32_t mask) = 0;
    virtual bool SetTimeouts(const CommTimeouts& timeouts) = 0;

    // Starts a wait for an event of the mask. Completed: `mask` holds the
    // event. Pending: call WaitEventResult. Starting a wait also forgets a
    // Wake() that no wait has consumed.
    virtual CommWait WaitEvent(uint32_t& mask) = 0;
    // Blocks until the pending event arrives (true, `mask` set) or until
    // Wake() is called (false). A Wake() between WaitEvent and this call is
    // not lost.
    virtual bool WaitEventResult(uint32_t& mask) = 0;
    // Ends a blocking wait of WaitEventResult or WaitWrite from any thread.
    virtual void Wake() = 0;

    // Clears line errors and reports the queue counts; false (counts 0) on
    // failure.
    virtual bool ClearErrors(CommStatus& status) = 0;
    // Reads one byte without waiting: Done with the byte, or Pending when
    // none is there (nothing arrives later for a read that was Pending).
    virtual CommIo ReadByte(uint8_t& byte) = 0;
    // Reads at most `count` of the bytes that are waiting, without waiting:
    // Done with `read` bytes (0 when none were there), Failed when the
    // device cannot be read. The default reads them one by one.
    virtual CommIo ReadBytes(uint8_t* bytes, uint32_t count, uint32_t& read) {
        read = 0;
        while (read < count) {
            const CommIo result = ReadByte(bytes[read]);
            if (result == CommIo::Failed) {
                return read > 0 ? CommIo::Done : CommIo::Failed;
            }
            if (result != CommIo::Done) {
                break;
            }
            ++read;
        }
        return CommIo::Done;
    }
    // Writes `count` bytes. Done: `written` bytes went out. Pending: the rest
    // goes out in WaitWrite, which reports the total written. Failed: nothing
    // was written.
    virtual CommIo Write(const uint8_t* bytes, uint32_t count, uint32_t& written) = 0;
    // Waits, at most the write time-outs, for a Pending write; `written`
    // counts every byte that went out, also when the result is false.
    virtual bool WaitWrite(uint32_t& written) = 0;
};

// The operating system's serial device (src/platform).
std::unique_ptr<CommDevice> MakeCommDevice();

} // namespace pelmbus
