#include "PseudoTerminal.h"

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace pelmbus::testsupport {

PseudoTerminal::PseudoTerminal() {
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&master_, &slave_, name, &raw, nullptr) != 0) {
        throw std::system_error(errno, std::generic_category(), "openpty");
    }
    slavePath_ = name;
}

PseudoTerminal::~PseudoTerminal() {
    if (slave_ >= 0) {
        close(slave_);
    }
    if (master_ >= 0) {
        close(master_);
    }
}

std::vector<uint8_t> PseudoTerminal::ReadBurst(std::chrono::milliseconds timeout,
                                               std::chrono::milliseconds gap) const {
    std::vector<uint8_t> bytes;
    pollfd fd{master_, POLLIN, 0};
    int wait = static_cast<int>(timeout.count());
    while (poll(&fd, 1, wait) > 0 && (fd.revents & POLLIN)) {
        uint8_t chunk[256];
        const ssize_t n = read(master_, chunk, sizeof chunk);
        if (n <= 0) {
            break;
        }
        bytes.insert(bytes.end(), chunk, chunk + n);
        wait = static_cast<int>(gap.count());
    }
    return bytes;
}

void PseudoTerminal::Write(const uint8_t* bytes, size_t count) const {
    while (count > 0) {
        const ssize_t n = write(master_, bytes, count);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw std::system_error(errno, std::generic_category(), "write");
        }
        bytes += n;
        count -= static_cast<size_t>(n);
    }
}

} // namespace pelmbus::testsupport
