#include "SystemServices.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace pelmbus {

namespace {

// Tries of a fresh name before giving up; a clash is already unlikely.
constexpr int NameAttempts = 100;
constexpr int RandomLetters = 12;

std::error_code LastError() {
    return {errno, std::generic_category()};
}

// Anyone who may write to the directory could otherwise place a link or a
// FIFO at the name in advance.
std::string UnpredictableSuffix() {
    static constexpr char Letters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device random;
    std::string suffix;
    for (int i = 0; i < RandomLetters; ++i) {
        suffix += Letters[random() % (sizeof Letters - 1)];
    }
    return suffix;
}

// Whether name is one that a save of the file named base creates for its
// temporary: base, a dot, the random letters and ".tmp".
bool IsTemporaryNameOf(std::string_view name, std::string_view base) {
    constexpr std::string_view Extension = ".tmp";
    if (name.size() != base.size() + 1 + RandomLetters + Extension.size() ||
        !name.starts_with(base) || name[base.size()] != '.' || !name.ends_with(Extension)) {
        return false;
    }
    const std::string_view letters = name.substr(base.size() + 1, RandomLetters);
    const auto isLetter = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    };
    return std::all_of(letters.begin(), letters.end(), isLetter);
}

// A save cut short (the process killed between creating its temporary file
// and the rename) leaves that file behind for good; the next save of the
// same file removes it. Only regular files under this file's own temporary
// names go, never a link or anything else that happens to be there.
void RemoveLeftoverTemporaries(const std::string& path) {
    const std::filesystem::path file(path);
    const std::string base = file.filename().string();
    const std::filesystem::path parent = file.parent_path();
    DIR* directory = opendir(parent.empty() ? "." : parent.c_str());
    if (directory == nullptr) {
        return;
    }
    const int fd = dirfd(directory);
    while (const dirent* entry = readdir(directory)) {
        struct stat status {};
        if (IsTemporaryNameOf(entry->d_name, base) &&
            fstatat(fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(status.st_mode)) {
            unlinkat(fd, entry->d_name, 0);
        }
    }
    closedir(directory);
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Best effort: the rename has happened and the new contents are in place
// either way; some file systems refuse to flush a directory.
void FlushDirectoryOf(const std::string& path) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    const char* directory = parent.empty() ? "." : parent.c_str();
    const int fd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

} // namespace

bool FileIsReadOnly(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        return false;
    }
    return (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
           faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0;
}

std::error_code ReplaceFileContents(const std::string& path, std::string_view bytes) {
    struct stat old {};
    bool replacing = true;
    if (stat(path.c_str(), &old) != 0) {
        if (errno != ENOENT) {
            return LastError();
        }
        replacing = false;
    }

    RemoveLeftoverTemporaries(path);

    std::string temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < NameAttempts; ++attempt) {
        temporary = path + "." + UnpredictableSuffix() + ".tmp";
        // Owner-only until the old bits are set, so the contents are never
        // exposed more widely than the old file's.
        fd = open(temporary.c_str(),
                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                  replacing ? S_IRUSR | S_IWUSR : 0666);
        if (fd < 0 && errno != EEXIST) {
            return LastError();
        }
    }
    if (fd < 0) {
        return std::make_error_code(std::errc::file_exists);
    }
    const auto fail = [&](std::error_code error) {
        if (fd >= 0) {
            close(fd);
        }
        unlink(temporary.c_str());
        return error;
    };

    struct stat created {};
    if (fstat(fd, &created) != 0) {
        return fail(LastError());
    }
    if (!S_ISREG(created.st_mode)) {
        return fail(std::make_error_code(std::errc::not_supported));
    }
    if (replacing && fchmod(fd, old.st_mode & 0777) != 0) {
        return fail(LastError());
    }
    if (!WriteAll(fd, bytes) || fsync(fd) != 0) {
        return fail(LastError());
    }
    const int closing = fd;
    fd = -1;
    if (close(closing) != 0) {
        return fail(LastError());
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        return fail(LastError());
    }
    FlushDirectoryOf(path);
    return {};
}

} // namespace pelmbus
