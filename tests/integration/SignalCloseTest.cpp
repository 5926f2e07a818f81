// The program closed by SIGTERM, as at the end of a session with nobody at
// the screen: a file that cannot be stored is told on standard error and the
// program ends with a failure status instead of waiting on a message window;
// a message window that is open ends, and the program with it. Runs on a
// private session bus with pelsim as the metering application.
#include "SimulatorProcess.h"
#include "TextFile.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

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

// True once the process catches SIGTERM, so that the signal closes the window
// rather than killing the program.
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

class SignalClose : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "pelmbus-signal-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern + "/";
        // The program keeps its files beside itself: a copy of its own.
        fs::copy_file(PELMBUS_EXECUTABLE, dir_ + "PelMBus");
        ASSERT_TRUE(
            WriteTextLines(dir_ + "CfgMBus.txt", {"Настройка_COM_порта=/nonexistent/tty:9600,N,8,2",
                                                  "Соединение_с_сервером=false"}));
    }
    void TearDown() override {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        fs::remove_all(dir_);
    }

    // Starts the program offscreen, sends SIGTERM once it is listening and
    // settled for `settle`, and returns its wait status; -1 when it has not
    // ended within ten seconds.
    int RunAndTerminate(std::chrono::milliseconds settle = 200ms) {
        pid_ = fork();
        if (pid_ == 0) {
            const int err = open((dir_ + "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(err, STDERR_FILENO);
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            const std::string program = dir_ + "PelMBus";
            execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 1000 && !CatchesTerm(pid_); ++i) {
            std::this_thread::sleep_for(10ms);
        }
        std::this_thread::sleep_for(settle);
        kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 1000; ++i) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return status;
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }

    // The settings of a program that connects to the metering application.
    void ConnectTo(const char* program) {
        ASSERT_TRUE(WriteTextLines(dir_ + "CfgMBus.txt",
                                   {std::string("Программа_сервер=") + program,
                                    "Соединение_с_сервером=true",
                                    "Настройка_COM_порта=/nonexistent/tty:9600,N,8,2"}));
    }

    // The program ended by its own close, with both files stored.
    void ExpectClosedWithBothFilesStored(int status) {
        ASSERT_NE(status, -1) << "the program did not end after SIGTERM";
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 0) << ReadAll(dir_ + "stderr");
        std::vector<std::string> lines;
        ASSERT_TRUE(ReadTextLines(dir_ + "CfgMBus.txt", lines));
        EXPECT_EQ(lines.size(), 17u);
        EXPECT_TRUE(fs::exists(dir_ + "RegData.mrd"));
    }

    std::string dir_;
    pid_t pid_ = -1;
};

TEST_F(SignalClose, FailedSaveIsToldOnStandardErrorAndEndsTheProgramWithFailure) {
    const std::string config = dir_ + "CfgMBus.txt";
    const std::string before = ReadAll(config);
    fs::permissions(config, fs::perms::owner_read | fs::perms::group_read);

    const int status = RunAndTerminate();
    ASSERT_NE(status, -1) << "the program did not end after SIGTERM";
    ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal, not by its close";
    EXPECT_NE(WEXITSTATUS(status), 0);
    const std::string told = ReadAll(dir_ + "stderr");
    EXPECT_NE(told.find(config), std::string::npos) << told;
    EXPECT_EQ(ReadAll(config), before);
    EXPECT_TRUE(fs::exists(dir_ + "RegData.mrd")) << "the other file is still stored";
}

TEST_F(SignalClose, SuccessfulSaveEndsTheProgramNormally) {
    const int status = RunAndTerminate();
    ASSERT_NE(status, -1) << "the program did not end after SIGTERM";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::vector<std::string> lines;
    ASSERT_TRUE(ReadTextLines(dir_ + "CfgMBus.txt", lines));
    EXPECT_EQ(lines.size(), 17u);
}

TEST_F(SignalClose, SignalWhileTheStartUpErrorBoxIsOpenEndsTheProgram) {
    // The client program's name is owned by an object without its
    // interface: connecting at start-up fails with an error box.
    pelsim::SimulatorProcess simulator(
        {"--program", "server", "--no-events", "--bus-name", "ru.pel.CltPel"}, "ru.pel.CltPel");
    QString error;
    ASSERT_TRUE(simulator.Start(error)) << error.toStdString();
    ConnectTo("CltPel.exe");
    ExpectClosedWithBothFilesStored(RunAndTerminate(1000ms));
}

TEST_F(SignalClose, SignalWhileARefreshErrorBoxIsOpenEndsTheProgram) {
    // Every refresh fails: an error box is open from the first event on.
    pelsim::SimulatorProcess simulator(
        {"--program", "server", "--error-replies", "--period", "0.2"}, "ru.pel.Pel");
    QString error;
    ASSERT_TRUE(simulator.Start(error)) << error.toStdString();
    ConnectTo("Pel.exe");
    ExpectClosedWithBothFilesStored(RunAndTerminate(1500ms));
}

TEST_F(SignalClose, AJournalThatCannotBeWrittenIsToldOnceAndTheSaveGoesOn) {
    // A directory where the journal should be: no line can be appended.
    fs::create_directory(dir_ + "PelMBus.log");
    const int status = RunAndTerminate();
    ASSERT_NE(status, -1) << "the program did not end after SIGTERM";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const std::string told = ReadAll(dir_ + "stderr");
    const std::string complaint = "PelMBus: журнал \"" + dir_ + "PelMBus.log\"";
    const size_t first = told.find(complaint);
    EXPECT_NE(first, std::string::npos) << told;
    EXPECT_EQ(told.find(complaint, first + 1), std::string::npos) << "told more than once";
    std::vector<std::string> lines;
    ASSERT_TRUE(ReadTextLines(dir_ + "CfgMBus.txt", lines));
    EXPECT_EQ(lines.size(), 17u);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
