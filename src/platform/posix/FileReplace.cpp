#include "SystemServices.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <system_error>

namespace pelmbus {
namespace {

namespace fs = std::filesystem;

// Forces the written contents of a closed file to the disk before it is
// renamed over an older one. False when that fails.
bool FlushFileToDisk(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool synced = fsync(fd) == 0;
    return close(fd) == 0 && synced;
}

} // namespace

bool ReplaceFileContents(const std::string& path, const std::string& bytes) {
    const fs::path target(path);
    fs::path temporary = target;
    temporary += ".tmp";
    std::error_code ec;
    // A leftover of an interrupted save is replaced, never written through.
    if (fs::is_symlink(temporary, ec) || fs::is_regular_file(temporary, ec)) {
        fs::remove(temporary, ec);
    }
    const auto fail = [&] {
        fs::remove(temporary, ec);
        return false;
    };
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) {
            return false;
        }
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        out.close();
        if (out.fail()) {
            return fail();
        }
    }
    if (!FlushFileToDisk(temporary.string())) {
        return fail();
    }
    fs::rename(temporary, target, ec);
    if (ec) {
        return fail();
    }
    return true;
}

} // namespace pelmbus
