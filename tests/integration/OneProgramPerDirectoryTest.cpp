// PelMBus started twice: a second start in the same directory asks the first
// to show its window and ends, one in another directory runs beside it, and a
// program that was killed leaves its directory free. Copies of the program
// run offscreen from directories of their own.
#include "TextFile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace pelmbus;
using namespace std::chrono_literals;

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// True once the process catches SIGTERM: its window is built.
bool CatchesTerm(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("SigCgt:", 0) == 0) {
            return (std::stoull(line.substr(7), nullptr, 16) >> (SIGTERM - 1) & 1u) != 0;
        }
    }
    return false;
}

class TwoStarts : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "pelmbus-twice-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern + "/";
        for (const char* dir : {"A/", "B/"}) {
            fs::create_directory(root_ + dir);
            // The program keeps its files beside itself: a copy of its own.
            fs::copy_file(PELMBUS_EXECUTABLE, root_ + dir + "PelMBus");
            ASSERT_TRUE(WriteTextLines(root_ + dir + "CfgMBus.txt",
                                       {"Настройка_COM_порта=/nonexistent/tty:9600,N,8,2",
                                        "Соединение_с_сервером=false"}));
        }
    }
    void TearDown() override {
        for (const pid_t pid : running_) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        fs::remove_all(root_);
    }

    // Starts the program in `dir` offscreen, its standard error into `errors`.
    pid_t Start(const std::string& dir, const std::string& errors) {
        const pid_t pid = fork();
        if (pid == 0) {
            const int err = open((root_ + errors).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(err, STDERR_FILENO);
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            const std::string program = root_ + dir + "PelMBus";
            execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        running_.push_back(pid);
        return pid;
    }

    // Waits until the program has its window; false when it ended first.
    bool Runs(pid_t pid) {
        for (int i = 0; i < 1000 && !CatchesTerm(pid); ++i) {
            if (waitpid(pid, nullptr, WNOHANG) == pid) {
                std::erase(running_, pid);
                return false;
            }
            std::this_thread::sleep_for(10ms);
        }
        std::this_thread::sleep_for(300ms); // past the start, listening
        return waitpid(pid, nullptr, WNOHANG) == 0;
    }

    // The wait status once the program ended by itself; -1 after 20 s.
    int Ended(pid_t pid) {
        int status = 0;
        for (int i = 0; i < 2000; ++i) {
            if (waitpid(pid, &status, WNOHANG) == pid) {
                std::erase(running_, pid);
                return status;
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }

    std::string root_;
    std::vector<pid_t> running_;
};

TEST_F(TwoStarts, SecondInTheSameDirectoryShowsTheFirstAndEndsAnotherDirectoryRunsBeside) {
    const pid_t first = Start("A/", "first.err");
    ASSERT_TRUE(Runs(first));

    const int status = Ended(Start("A/", "second.err"));
    ASSERT_NE(status, -1) << "a second program runs in the same directory";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const std::string told = ReadAll(root_ + "second.err");
    EXPECT_NE(told.find("окно выведено на передний план"), std::string::npos)
        << "the first program did not answer: " << told;
    EXPECT_EQ(waitpid(first, nullptr, WNOHANG), 0) << "the first program still runs";

    EXPECT_TRUE(Runs(Start("B/", "beside.err"))) << "another directory runs beside";
    EXPECT_EQ(waitpid(first, nullptr, WNOHANG), 0);
}

TEST_F(TwoStarts, KilledProgramLeavesItsDirectoryFree) {
    const pid_t first = Start("A/", "first.err");
    ASSERT_TRUE(Runs(first));
    kill(first, SIGKILL);
    waitpid(first, nullptr, 0);
    std::erase(running_, first);
    EXPECT_TRUE(Runs(Start("A/", "again.err"))) << "the claim outlived its program";
}

} // namespace
