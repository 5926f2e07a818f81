#include "TermiosMode.h"

#include <array>
#include <utility>

namespace pelmbus {
namespace {

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

} // namespace

bool StandardSpeed(uint32_t baud, speed_t& speed) {
    for (const auto& [rate, constant] : StandardSpeeds) {
        if (rate == baud && rate != 0) {
            speed = constant;
            return true;
        }
    }
    return false;
}

// Windows refuses these combinations as well.
bool FramingPossible(const CommMode& mode) {
    if (mode.ByteSize < 5 || mode.ByteSize > 8) {
        return false;
    }
    if (mode.StopBits == CommStopBits::OneAndHalf) {
        return mode.ByteSize == 5;
    }
    return !(mode.StopBits == CommStopBits::Two && mode.ByteSize == 5);
}

void ApplyModeToTermios(const CommMode& mode, termios& tio) {
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
}

} // namespace pelmbus
