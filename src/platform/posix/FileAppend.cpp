#include "SystemServices.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelmbus {

namespace {

std::error_code LastError() {
    return {errno, std::generic_category()};
}

} // namespace

std::error_code AppendToFile(const std::string& path, std::string_view bytes) {
    // Non-blocking, so that a FIFO planted at the name cannot hold the
    // program; anything but a regular file is refused.
    const int fd = open(path.c_str(),
                        O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        return LastError();
    }
    std::error_code result;
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        result = LastError();
    } else if (!S_ISREG(status.st_mode)) {
        result = std::make_error_code(std::errc::not_supported);
    }
    while (!result && !bytes.empty()) {
        const ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno != EINTR) {
                result = LastError();
            }
            continue;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    if (close(fd) != 0 && !result) {
        result = LastError();
    }
    return result;
}

std::error_code FileSizeOf(const std::string& path, std::uintmax_t& size) {
    struct stat status {};
    size = 0;
    if (lstat(path.c_str(), &status) != 0) {
        return errno == ENOENT ? std::error_code{} : LastError();
    }
    size = static_cast<std::uintmax_t>(status.st_size);
    return {};
}

std::error_code RenameReplacing(const std::string& from, const std::string& to) {
    if (rename(from.c_str(), to.c_str()) != 0) {
        return LastError();
    }
    return {};
}

std::string LastSystemErrorText() {
    return std::strerror(errno);
}

} // namespace pelmbus
