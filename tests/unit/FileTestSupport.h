// Helpers for tests that read and write real files: a temporary directory,
// raw bytes in and out, and running a step without the power to override
// file permissions.
#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

namespace testing_files {

class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "pelmbus-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        path_ = pattern + "/";
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // With its trailing separator, like the executable's directory.
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + name; }

private:
    std::string path_;
};

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

enum class StepResult { True, False, Crashed, CannotDropOverride };

// Runs step in a child process, ended after timeoutSeconds (Crashed then),
// after dropping every effective capability when dropCapabilities is set.
// overrideWorks is asked in the child after the drop: true means permissions
// still do not bind there, and the result is CannotDropOverride.
inline StepResult RunInChild(const std::function<bool()>& step, bool dropCapabilities,
                             const std::function<bool()>& overrideWorks, unsigned timeoutSeconds) {
    const pid_t child = fork();
    if (child == 0) {
        alarm(timeoutSeconds);
        if (dropCapabilities) {
            __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
            __user_cap_data_struct data[2]{};
            if (syscall(SYS_capset, &header, data) != 0 || overrideWorks()) {
                _exit(2);
            }
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

// Runs step in a child process whose effective capabilities are all dropped,
// so that directory permissions bind even when the tests run as root.
// CannotDropOverride when dir stays writable all the same.
inline StepResult RunWithoutPermissionOverride(const std::string& dir,
                                               const std::function<bool()>& step) {
    return RunInChild(
        step, true, [&] { return access(dir.c_str(), W_OK) == 0; }, 60);
}

// The same for a file made unreadable: CannotDropOverride when it stays
// readable all the same.
inline StepResult RunWhereUnreadable(const std::string& file, const std::function<bool()>& step) {
    return RunInChild(
        step, true, [&] { return access(file.c_str(), R_OK) == 0; }, 60);
}

} // namespace testing_files
