#include "PosixCommDevice.h"

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

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The speeds termios names with a constant.
constexpr std::array<std::pair<uint32_t, speed_t>, 31> StandardSpeeds{{
    {50, B50},
    {75, B75},
    {110, B110},
    {134, B134},
    {150, B150},
    {200, B200},
    {300, B300},
    {600, B600},
    {1200, B1200},
    {1800, B1800},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
    {230400, B230400},
    {460800, B460800},
    {500000, B500000},
    {576000, B576000},
    {921600, B921600},
    {1000000, B1000000},
    {1152000, B1152000},
    {1500000, B1500000},
    {2000000, B2000000},
    {2500000, B2500000},
    {3000000, B3000000},
    {3500000, B3500000},
    {4000000, B4000000},
    {0, B0},
}};

bool StandardSpeed(uint32_t baud, speed_t& speed) {
    for (const auto& [rate, constant] : StandardSpeeds) {
        if (rate == baud && rate != 0) {
            speed = constant;
            return true;
        }
    }
    return false;
}

// The combinations a UART cannot frame: 1.5 stop bits exist only with five
// data bits, and five data bits cannot have two.
bool FramingPossible(const CommMode& mode) {
    if (mode.ByteSize < 5 || mode.ByteSize > 8) {
        return false;
    }
    if (mode.StopBits == CommStopBits::OneAndHalf) {
        return mode.ByteSize == 5;
    }
    return !(mode.StopBits == CommStopBits::Two && mode.ByteSize == 5);
}

tcflag_t SizeFlag(uint8_t byteSize) {
    switch (byteSize) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

void SetModemLine(int fd, int line, bool on) {
    // Pseudo-terminals have no modem lines; the ioctl then fails harmlessly.
    (void)ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line);
}

} // namespace

std::string DevicePathForName(const std::string& name) {
    std::string rest = name;
    if (rest.rfind("\\\\.\\", 0) == 0) {
        rest.erase(0, 4);
    }
    if (rest.size() > 3 && rest.size() <= 12 && Upper(rest[0]) == 'C' && Upper(rest[1]) == 'O' &&
        Upper(rest[2]) == 'M') {
        uint64_t number = 0;
        bool digits = true;
        for (size_t i = 3; i < rest.size(); ++i) {
            if (rest[i] < '0' || rest[i] > '9') {
                digits = false;
                break;
            }
            number = number * 10 + static_cast<uint64_t>(rest[i] - '0');
        }
        if (digits) {
            return number == 0 ? std::string() : "/dev/ttyS" + std::to_string(number - 1);
        }
    }
    return name;
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
        close(fd);
        return false;
    }
    Fd = fd;
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
    PendingBytes.clear();
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
    // Raw bytes in both directions, no echo, no line editing or signals.
    // Parity is generated on output but not checked on input: the frame's
    // CRC judges the bytes, as with a driver that only flags parity errors.
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                          ICRNL | IXON | IXOFF | IXANY | INPCK | IGNPAR);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD | SizeFlag(mode.ByteSize);
    switch (mode.Parity) {
    case CommParity::None:
        break;
    case CommParity::Odd:
        tio.c_cflag |= PARENB | PARODD;
        break;
    case CommParity::Even:
        tio.c_cflag |= PARENB;
        break;
    case CommParity::Mark:
        tio.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case CommParity::Space:
        tio.c_cflag |= PARENB | CMSPAR;
        break;
    }
    // With five data bits the same flag gives 1.5 stop bits.
    if (mode.StopBits != CommStopBits::One) {
        tio.c_cflag |= CSTOPB;
    }
    if (mode.OutX) {
        tio.c_iflag |= IXON;
    }
    if (mode.InX) {
        tio.c_iflag |= IXOFF;
    }
    // Linux has one switch for RTS/CTS handshake in both directions; DSR
    // flow control and DSR sensitivity have no termios counterpart.
    if (mode.OutxCtsFlow || mode.Rts == RtsControl::Handshake) {
        tio.c_cflag |= CRTSCTS;
    }
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;

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
    if (Fd < 0 || (EventMask & EvRxChar) == 0) {
        return CommWait::Failed;
    }
    uint64_t count = 0;
    while (read(WakeFd, &count, sizeof count) > 0) {
    }
    int waiting = 0;
    if (ioctl(Fd, FIONREAD, &waiting) != 0) {
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
    if (Fd < 0 || ioctl(Fd, FIONREAD, &in) != 0 || ioctl(Fd, TIOCOUTQ, &out) != 0) {
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
