/* Loaded into the Wine process of the serial tests (LD_PRELOAD) so that a
 * pseudo-terminal can stand in for a COM port. Wine's serial code asks for
 * the modem lines (TIOCMGET) while a WaitCommEvent is pending; a
 * pseudo-terminal refuses with ENOTTY, and Wine then ends every wait at once
 * with ERROR_OPERATION_ABORTED. Here those requests succeed on a
 * pseudo-terminal with an emulated line state: DTR and RTS follow the set
 * calls, CTS, DSR and CD are on. Every other request, and every request on
 * another device, goes to the real ioctl unchanged. Test scaffolding only: a
 * real serial port needs nothing of this. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

static int modem_lines = TIOCM_DTR | TIOCM_RTS;

static int is_pty(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
        return 0;
    }
    /* Unix98 pseudo-terminal slaves have majors 136 to 143. */
    return major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

int ioctl(int fd, unsigned long request, ...) {
    static int (*real_ioctl)(int, unsigned long, ...);
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (real_ioctl == 0) {
        real_ioctl = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    }
    const int result = real_ioctl(fd, request, arg);
    if (result == 0 || arg == 0 || !is_pty(fd)) {
        return result;
    }
    int* lines = (int*)arg;
    switch (request) {
    case TIOCMGET:
        *lines = modem_lines | TIOCM_CTS | TIOCM_DSR | TIOCM_CD;
        break;
    case TIOCMSET:
        modem_lines = *lines & (TIOCM_DTR | TIOCM_RTS);
        break;
    case TIOCMBIS:
        modem_lines |= *lines & (TIOCM_DTR | TIOCM_RTS);
        break;
    case TIOCMBIC:
        modem_lines &= ~*lines;
        break;
    default:
        return result;
    }
    errno = 0;
    return 0;
}
