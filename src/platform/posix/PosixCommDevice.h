// CommDevice on a POSIX terminal device (termios).
#pragma once

#include "CommDevice.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pelmbus {

// Path of a device name: "COMn" (any letter case, also "\\.\COMn") is
// /dev/ttyS(n-1), the usual numbering on Linux; any other name is a path.
// Empty for an empty name and for "COM0".
std::string DevicePathForName(const std::string& name);

// Sets a baud rate that has no Bxxx constant (termios2, BOTHER).
bool SetCustomBaudRate(int fd, uint32_t baud);
// Reads the output baud rate of a terminal as a number; false on failure.
bool ReadBaudRate(int fd, uint32_t& baud);

class PosixCommDevice final : public CommDevice {
public:
    PosixCommDevice();
    ~PosixCommDevice() override;
    PosixCommDevice(const PosixCommDevice&) = delete;
    PosixCommDevice& operator=(const PosixCommDevice&) = delete;

    bool Open(const std::string& name) override;
    bool IsOpen() const override { return Fd >= 0; }
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
    CommIo ReadBytes(uint8_t* bytes, uint32_t count, uint32_t& read) override;
    CommIo Write(const uint8_t* bytes, uint32_t count, uint32_t& written) override;
    bool WaitWrite(uint32_t& written) override;

private:
    // Notes whether a failed call's errno says the device has gone.
    void NoteFailure(int error);

    int Fd = -1;
    bool DeviceGone = false;
    int WakeFd = -1; // eventfd: readable after Wake()
    uint32_t EventMask = 0;
    CommTimeouts Timeouts;
    // The part of a Pending write still to go out, and what went out so far.
    std::vector<uint8_t> PendingBytes;
    uint32_t PendingWritten = 0;
    uint32_t PendingTotal = 0;
};

} // namespace pelmbus
