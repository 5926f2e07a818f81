// Helpers for tests that read and write real files: a temporary directory,
// raw bytes in and out, and running a step without the power to override
// file permissions.
#pragma once

#ifndef _WIN32
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>

namespace testing_files {

// Paths in the program are UTF-8; this is the file system's view of one.
inline std::filesystem::path FsPath(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

class TempDir {
public:
    // `leaf` names the directory's last part, after a unique name (UTF-8).
    explicit TempDir(const std::string& leaf = {}) {
#ifdef _WIN32
        std::random_device random;
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        std::filesystem::path unique;
        do {
            unique = base / ("pelmbus-test-" + std::to_string(random()));
        } while (!std::filesystem::create_directory(unique));
        const std::u8string utf8 = unique.u8string();
        path_.assign(utf8.begin(), utf8.end());
        path_ += '\\';
#else
        std::string pattern =
            (std::filesystem::temp_directory_path() / "pelmbus-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        path_ = pattern + "/";
#endif
        root_ = path_;
        if (!leaf.empty()) {
            path_ += leaf;
            std::filesystem::create_directory(FsPath(path_));
#ifdef _WIN32
            path_ += '\\';
#else
            path_ += '/';
#endif
        }
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(FsPath(path_), std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(FsPath(root_), ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // With its trailing separator, like the executable's directory.
    const std::string& Path() const {
        return path_;
    }
    std::string File(const std::string& name) const {
        return path_ + name;
    }

private:
    std::string root_;
    std::string path_;
};

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(FsPath(path), std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(FsPath(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

#ifndef _WIN32
enum class StepResult { True, False, Crashed, CannotDropOverride };

// Runs step in a child process whose effective capabilities are all dropped,
// so that directory permissions bind even when the tests run as root.
// CannotDropOverride when dir stays writable all the same.
inline StepResult RunWithoutPermissionOverride(const std::string& dir,
                                               const std::function<bool()>& step) {
    const pid_t child = fork();
    if (child == 0) {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2]{};
        if (syscall(SYS_capset, &header, data) != 0 || access(dir.c_str(), W_OK) == 0) {
            _exit(2);
        }
        _exit(step() ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) {
        return StepResult::CannotDropOverride;
    }
    if (!WIFEXITED(status)) {
        return StepResult::Crashed;
    }
    switch (WEXITSTATUS(status)) {
    case 0:
        return StepResult::True;
    case 1:
        return StepResult::False;
    default:
        return StepResult::CannotDropOverride;
    }
}

#endif

} // namespace testing_files
