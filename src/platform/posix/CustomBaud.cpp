// termios2 for baud rates without a Bxxx constant. Its header clashes with
// <termios.h>, so it lives in a file of its own.
#include "PosixCommDevice.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace pelmbus {

bool SetCustomBaudRate(int fd, uint32_t baud) {
    termios2 tio{};
    if (ioctl(fd, TCGETS2, &tio) != 0) {
        return false;
    }
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = baud;
    tio.c_ospeed = baud;
    if (ioctl(fd, TCSETS2, &tio) != 0) {
        return false;
    }
    // A driver that cannot come close to the rate reports another one.
    termios2 check{};
    return ioctl(fd, TCGETS2, &check) == 0 && check.c_ospeed == baud;
}

bool ReadBaudRate(int fd, uint32_t& baud) {
    termios2 tio{};
    if (ioctl(fd, TCGETS2, &tio) != 0) {
        return false;
    }
    baud = tio.c_ospeed;
    return true;
}

} // namespace pelmbus
