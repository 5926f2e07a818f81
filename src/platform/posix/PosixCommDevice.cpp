#include "PosixCommDevice.h"

#include "ComPortName.h"
#include "TermiosMode.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <utility>

namespace pelmbus {
namespace {

void SetModemLine(int fd, int line, bool on) {
    // Pseudo-terminals have no modem lines; the ioctl then fails harmlessly.
    (void)ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line);
}

} // namespace

std::string DevicePathForName(const std::string& name) {
    const std::optional<uint32_t> number = ComPortNumber(name);
    if (!number) {
        return name;
    }
    return *number == 0 ? std::string() : "/dev/ttyS" + std::to_string(*number - 1);
}

std::unique_ptr<CommDevice> MakeCommDevice() {
    return std::make_unique<PosixCommDevice>();
}

PosixCommDevice::PosixCommDevice() {
    WakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

PosixCommDevice::~PosixCommDevice() {
    Close();
    if (WakeFd >= 0) {
        close(WakeFd);
    }
}

bool PosixCommDevice::Open(const std::string& name) {
    Close();
    const std::string path = DevicePathForName(name);
    if (path.empty() || WakeFd < 0) {
        // The caller takes the reason from errno.
        if (path.empty()) {
            errno = ENOENT;
        }
        return false;
    }
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    // A serial line for this program alone: the lock keeps out programs
    // that honour it (also those running as root, which TIOCEXCL lets
    // through), TIOCEXCL every other open.
    if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
        // A line another program holds is busy, not "try again".
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        close(fd);
        errno = error;
        return false;
    }
    Fd = fd;
    DeviceGone = false;
    EventMask = 0;
    Timeouts = CommTimeouts{};
    PendingBytes.clear();
    return true;
}

void PosixCommDevice::Close() {
    if (Fd < 0) {
        return;
    }
    // The exclusive mark stays on the terminal while other descriptors of
    // it remain open; the next open of this program must not meet it.
    (void)ioctl(Fd, TIOCNXCL);
    close(Fd);
    Fd = -1;
    DeviceGone = false;
    PendingBytes.clear();
}

// A terminal whose device went away (a USB adapter pulled out, the other end
// of a pseudo-terminal closed) is hung up: every call on it fails with EIO
// from then on. ENXIO and ENODEV are what some drivers give instead.
void PosixCommDevice::NoteFailure(int error) {
    DeviceGone = DeviceGone || error == EIO || error == ENXIO || error == ENODEV;
}

bool PosixCommDevice::SetQueueSizes(uint32_t input, uint32_t output) {
    // Linux terminals have queues of a fixed size; the counts the channel
    // compares with these sizes come from the driver (ClearErrors).
    return Fd >= 0 && input > 0 && output > 0;
}

bool PosixCommDevice::SetState(const CommMode& mode) {
    if (Fd < 0 || mode.BaudRate == 0 || !FramingPossible(mode)) {
        return false;
    }
    termios tio{};
    if (tcgetattr(Fd, &tio) != 0) {
        return false;
    }
    ApplyModeToTermios(mode, tio);

    speed_t speed = B0;
    const bool standard = StandardSpeed(mode.BaudRate, speed);
    if (standard && (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0)) {
        return false;
    }
    if (tcsetattr(Fd, TCSANOW, &tio) != 0) {
        return false;
    }
    if (!standard && !SetCustomBaudRate(Fd, mode.BaudRate)) {
        return false;
    }
    SetModemLine(Fd, TIOCM_DTR, mode.Dtr != DtrControl::Disable);
    if (mode.Rts != RtsControl::Handshake) {
        SetModemLine(Fd, TIOCM_RTS, mode.Rts != RtsControl::Disable);
    }
    return true;
}

bool PosixCommDevice::SetEventMask(uint32_t mask) {
    if (Fd < 0) {
        return false;
    }
    EventMask = mask;
    return true;
}

bool PosixCommDevice::SetTimeouts(const CommTimeouts& timeouts) {
    if (Fd < 0) {
        return false;
    }
    // Reads take one waiting byte and never block, so only the write
    // time-outs matter here (WaitWrite).
    Timeouts = timeouts;
    return true;
}

CommWait PosixCommDevice::WaitEvent(uint32_t& mask) {
    mask = 0;
    DeviceGone = false;
    if (Fd < 0 || (EventMask & EvRxChar) == 0) {
        return CommWait::Failed;
    }
    uint64_t count = 0;
    while (read(WakeFd, &count, sizeof count) > 0) {
    }
    int waiting = 0;
    if (ioctl(Fd, FIONREAD, &waiting) != 0) {
        NoteFailure(errno);
        return CommWait::Failed;
    }
    if (waiting > 0) {
        mask = EvRxChar;
        return CommWait::Completed;
    }
    return CommWait::Pending;
}

bool PosixCommDevice::WaitEventResult(uint32_t& mask) {
    mask = 0;
    if (Fd < 0) {
        return false;
    }
    pollfd fds[2] = {{Fd, POLLIN, 0}, {WakeFd, POLLIN, 0}};
    for (;;) {
        const int ready = poll(fds, 2, -1);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0 || (fds[1].revents & POLLIN) != 0) {
            return false;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            mask = EvRxChar;
            return true;
        }
        // Hang-up or error without data: the caller pauses and tries again.
        return false;
    }
}

void PosixCommDevice::Wake() {
    const uint64_t one = 1;
    // A full counter already wakes every wait; nothing is lost.
    (void)!write(WakeFd, &one, sizeof one);
}

bool PosixCommDevice::ClearErrors(CommStatus& status) {
    status = CommStatus{};
    int in = 0;
    int out = 0;
    if (Fd < 0) {
        return false;
    }
    if (ioctl(Fd, FIONREAD, &in) != 0 || ioctl(Fd, TIOCOUTQ, &out) != 0) {
        NoteFailure(errno);
        return false;
    }
    status.InQueue = static_cast<uint32_t>(in > 0 ? in : 0);
    status.OutQueue = static_cast<uint32_t>(out > 0 ? out : 0);
    return true;
}

CommIo PosixCommDevice::ReadByte(uint8_t& byte) {
    if (Fd < 0) {
        return CommIo::Failed;
    }
    const ssize_t n = read(Fd, &byte, 1);
    if (n == 1) {
        return CommIo::Done;
    }
    if (n == 0 || errno == EAGAIN || errno == EINTR) {
        return CommIo::Pending;
    }
    return CommIo::Failed;
}

CommIo PosixCommDevice::ReadBytes(uint8_t* bytes, uint32_t count, uint32_t& read) {
    read = 0;
    if (Fd < 0) {
        return CommIo::Failed;
    }
    if (count == 0) {
        return CommIo::Done;
    }
    ssize_t n = 0;
    do {
        n = ::read(Fd, bytes, count);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        read = static_cast<uint32_t>(n);
        return CommIo::Done;
    }
    return n == 0 || errno == EAGAIN ? CommIo::Done : CommIo::Failed;
}

CommIo PosixCommDevice::Write(const uint8_t* bytes, uint32_t count, uint32_t& written) {
    written = 0;
    PendingBytes.clear();
    if (Fd < 0) {
        return CommIo::Failed;
    }
    ssize_t n = 0;
    do {
        n = write(Fd, bytes, count);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && errno != EAGAIN) {
        return CommIo::Failed;
    }
    const auto done = static_cast<uint32_t>(n > 0 ? n : 0);
    if (done == count) {
        written = count;
        return CommIo::Done;
    }
    PendingBytes.assign(bytes + done, bytes + count);
    PendingWritten = done;
    PendingTotal = count;
    return CommIo::Pending;
}

bool PosixCommDevice::WaitWrite(uint32_t& written) {
    using Clock = std::chrono::steady_clock;
    written = PendingWritten;
    if (Fd < 0 || PendingBytes.empty()) {
        return Fd >= 0;
    }
    // Both write time-outs zero mean no time limit, as on Windows.
    const uint64_t limitMs = uint64_t{Timeouts.WriteTotalTimeoutMultiplier} * PendingTotal +
                             Timeouts.WriteTotalTimeoutConstant;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    size_t sent = 0;
    bool ok = true;
    while (sent < PendingBytes.size()) {
        int waitMs = -1;
        if (limitMs > 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                break; // time-out: a write that ends short, not a failure
            }
            waitMs = static_cast<int>(left.count());
        }
        pollfd fds[2] = {{Fd, POLLOUT, 0}, {WakeFd, POLLIN, 0}};
        const int ready = poll(fds, 2, waitMs);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready == 0) {
            break;
        }
        if (ready < 0 || (fds[1].revents & POLLIN) != 0 ||
            (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            ok = false;
            break;
        }
        const ssize_t n = write(Fd, PendingBytes.data() + sent, PendingBytes.size() - sent);
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            ok = false;
            break;
        }
        sent += static_cast<size_t>(n > 0 ? n : 0);
    }
    written = PendingWritten + static_cast<uint32_t>(sent);
    PendingBytes.clear();
    return ok;
}

} // namespace pelmbus
