#include "PtyBridge.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace pelmbus::testsupport {
namespace {

// Copies what one end has to the other; false when the end is gone.
bool Forward(int from, int to) {
    unsigned char chunk[512];
    const ssize_t n = read(from, chunk, sizeof chunk);
    if (n <= 0) {
        return n < 0 && (errno == EAGAIN || errno == EINTR);
    }
    ssize_t done = 0;
    while (done < n) {
        const ssize_t w = write(to, chunk + done, static_cast<size_t>(n - done));
        if (w < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return false;
        }
        done += w;
    }
    return true;
}

} // namespace

PtyBridge::PtyBridge() {
    if (pipe2(stop_, O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe2");
    }
    relay_ = std::thread([this] { Relay(); });
}

PtyBridge::~PtyBridge() {
    const char quit = 'q';
    (void)!write(stop_[1], &quit, 1);
    relay_.join();
    close(stop_[0]);
    close(stop_[1]);
}

void PtyBridge::Relay() {
    const int a = masterSide_.MasterFd();
    const int b = slaveSide_.MasterFd();
    for (;;) {
        pollfd fds[3] = {{a, POLLIN, 0}, {b, POLLIN, 0}, {stop_[0], POLLIN, 0}};
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[2].revents != 0) {
            return;
        }
        if ((fds[0].revents & POLLIN) != 0 && !Forward(a, b)) {
            return;
        }
        if ((fds[1].revents & POLLIN) != 0 && !Forward(b, a)) {
            return;
        }
    }
}

} // namespace pelmbus::testsupport
