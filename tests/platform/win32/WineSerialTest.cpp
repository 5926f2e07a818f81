// The real receive thread on the real Win32 serial API, under Wine: the
// Windows slave program opens a COM port that the prefix's registry maps to
// one end of a pseudo-terminal bridge, and libmodbus is the master on the
// other end. Linux program; run with the wrapper, the slave program and the
// ioctl library of the Windows build:
//   wine_serial_test WINE_RUN SLAVE_EXE SHIM_SO
#include "PtyBridge.h"

#include <gtest/gtest.h>
#include <modbus.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace pelmbus::testsupport;
using namespace std::chrono_literals;

namespace {

std::string WineRun;
std::string SlaveExe;
std::string Shim;

// A port number of ten or more, which Windows opens only as "\\.\COMn".
const std::string PortName = "COM12";
constexpr int Slave = 17;

uint16_t Crc16(const std::vector<uint8_t>& bytes) {
    uint16_t crc = 0xFFFF;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int i = 0; i < 8; ++i) {
            crc = (crc & 1) != 0 ? static_cast<uint16_t>((crc >> 1) ^ 0xA001)
                                 : static_cast<uint16_t>(crc >> 1);
        }
    }
    return crc;
}

std::vector<uint8_t> WithCrc(std::vector<uint8_t> frame) {
    const uint16_t crc = Crc16(frame);
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

int Shell(const std::string& command) {
    return std::system(command.c_str());
}

// The Windows slave under Wine, talked to through its standard input and
// output.
class SlaveProcess {
public:
    bool Start(const std::string& portString) {
        int in[2];
        int out[2];
        if (pipe(in) != 0 || pipe(out) != 0) {
            return false;
        }
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            close(in[1]);
            close(out[0]);
            setenv("LD_PRELOAD", Shim.c_str(), 1);
            execl(WineRun.c_str(), WineRun.c_str(), SlaveExe.c_str(), portString.c_str(),
                  std::to_string(Slave).c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        toSlave_ = in[1];
        fromSlave_ = out[0];
        return pid_ > 0;
    }

    ~SlaveProcess() {
        if (pid_ > 0) {
            Send("quit");
            close(toSlave_);
            int status = 0;
            for (int i = 0; i < 100 && waitpid(pid_, &status, WNOHANG) == 0; ++i) {
                usleep(50000);
            }
            if (waitpid(pid_, &status, WNOHANG) == 0) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
            }
            close(fromSlave_);
        }
    }

    void Send(const std::string& line) {
        const std::string text = line + "\n";
        (void)!write(toSlave_, text.data(), text.size());
    }

    // The next line the slave writes, without CR; empty after the time-out.
    std::string Line(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const size_t end = buffer_.find('\n');
            if (end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                if (!line.empty() && line.back() == '\r') {
                    line.pop_back();
                }
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd fd{fromSlave_, POLLIN, 0};
            if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
                return {};
            }
            char chunk[256];
            const ssize_t n = read(fromSlave_, chunk, sizeof chunk);
            if (n <= 0) {
                return {};
            }
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }

private:
    pid_t pid_ = -1;
    int toSlave_ = -1;
    int fromSlave_ = -1;
    std::string buffer_;
};

class WineSerial : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        bridge_ = std::make_unique<PtyBridge>();
        // The port mapping is read when the prefix's session starts.
        ASSERT_EQ(Shell(WineRun + " reg add 'HKLM\\Software\\Wine\\Ports' /v " + PortName +
                        " /t REG_SZ /d " + bridge_->SlaveSidePath() + " /f >/dev/null 2>&1"),
                  0);
        ASSERT_EQ(Shell(WineRun + " --wineserver -k"), 0);
        slave_ = std::make_unique<SlaveProcess>();
        ASSERT_TRUE(slave_->Start(PortName + ":9600,N,8,2"));
        ASSERT_EQ(slave_->Line(60s), "ready");

        ctx_ = modbus_new_rtu(bridge_->MasterSidePath().c_str(), 9600, 'N', 8, 2);
        ASSERT_NE(ctx_, nullptr);
        modbus_set_slave(ctx_, Slave);
        modbus_set_response_timeout(ctx_, 2, 0);
        ASSERT_EQ(modbus_connect(ctx_), 0) << modbus_strerror(errno);
    }

    static void TearDownTestSuite() {
        if (ctx_ != nullptr) {
            modbus_close(ctx_);
            modbus_free(ctx_);
            ctx_ = nullptr;
        }
        slave_.reset();
        bridge_.reset();
    }

    void SetUp() override {
        if (ctx_ == nullptr) {
            GTEST_SKIP() << "the slave did not start";
        }
        modbus_set_slave(ctx_, Slave);
        modbus_flush(ctx_);
    }

    // Sends a raw frame (CRC added) and returns every byte that came back.
    static std::vector<uint8_t> Exchange(const std::vector<uint8_t>& request,
                                         std::chrono::milliseconds quiet = 300ms) {
        const int fd = modbus_get_socket(ctx_);
        const std::vector<uint8_t> frame = WithCrc(request);
        EXPECT_EQ(write(fd, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
        std::vector<uint8_t> answer;
        // The first byte may take the whole response time; after it the
        // line goes quiet once the frame is complete.
        auto wait = 2000ms;
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(wait.count())) <= 0) {
                return answer;
            }
            uint8_t chunk[512];
            const ssize_t n = read(fd, chunk, sizeof chunk);
            if (n <= 0) {
                return answer;
            }
            answer.insert(answer.end(), chunk, chunk + n);
            wait = quiet;
        }
    }

    static bool ReadOne(uint16_t& value) {
        return modbus_read_registers(ctx_, 300, 1, &value) == 1;
    }

    static inline std::unique_ptr<PtyBridge> bridge_;
    static inline std::unique_ptr<SlaveProcess> slave_;
    static inline modbus_t* ctx_ = nullptr;
};

TEST_F(WineSerial, LibmodbusWritesAndReadsRegisters) {
    uint16_t written[100];
    for (int i = 0; i < 100; ++i) {
        written[i] = static_cast<uint16_t>(0xA000 + i * 257);
    }
    ASSERT_EQ(modbus_write_registers(ctx_, 400, 100, written), 100) << modbus_strerror(errno);
    uint16_t read[100] = {};
    ASSERT_EQ(modbus_read_registers(ctx_, 400, 100, read), 100) << modbus_strerror(errno);
    EXPECT_EQ(std::memcmp(read, written, sizeof written), 0);
}

TEST_F(WineSerial, Functions3And16AnsweredByteExact) {
    // Function 16: registers 10 and 11 := 0x1234, 0xBEEF; the answer echoes
    // address and count.
    EXPECT_EQ(Exchange({Slave, 16, 0x00, 0x0A, 0x00, 0x02, 0x04, 0x12, 0x34, 0xBE, 0xEF}),
              WithCrc({Slave, 16, 0x00, 0x0A, 0x00, 0x02}));
    // Function 3 reads them back, upper byte first.
    EXPECT_EQ(Exchange({Slave, 3, 0x00, 0x0A, 0x00, 0x02}),
              WithCrc({Slave, 3, 0x04, 0x12, 0x34, 0xBE, 0xEF}));
    // A range beyond the 512 registers: exception 2.
    EXPECT_EQ(Exchange({Slave, 3, 0x01, 0xFF, 0x00, 0x02}), WithCrc({Slave, 0x83, 0x02}));
}

TEST_F(WineSerial, FrameForAnotherSlaveIsNotAnswered) {
    EXPECT_TRUE(Exchange({Slave + 1, 3, 0x00, 0x00, 0x00, 0x01}).empty());
    uint16_t value = 0;
    EXPECT_TRUE(ReadOne(value)) << modbus_strerror(errno);
}

TEST_F(WineSerial, GarbageBurstIsSurvived) {
    std::mt19937 random(1500);
    std::vector<uint8_t> garbage(1500);
    for (uint8_t& b : garbage) {
        b = static_cast<uint8_t>(random());
    }
    const int fd = modbus_get_socket(ctx_);
    ASSERT_EQ(write(fd, garbage.data(), garbage.size()), 1500);
    // Each receive step ends with the cycle pause; the burst may take a few
    // steps to be read and dropped, and a request that meets its last bytes
    // goes unanswered. Whatever the slave made of it is dropped here.
    uint16_t value = 0;
    bool answered = false;
    for (const auto until = std::chrono::steady_clock::now() + 30s;
         !answered && std::chrono::steady_clock::now() < until;) {
        modbus_flush(ctx_);
        answered = ReadOne(value);
    }
    EXPECT_TRUE(answered) << modbus_strerror(errno);
}

TEST_F(WineSerial, StopLookerEndsTheBlockingWaitAtOnce) {
    slave_->Send("stop");
    const std::string line = slave_->Line(10s);
    ASSERT_EQ(line.rfind("stopped ", 0), 0u) << line;
    EXPECT_LT(std::stoi(line.substr(8)), 100);
    uint16_t value = 0;
    EXPECT_TRUE(ReadOne(value)) << modbus_strerror(errno);
}

TEST_F(WineSerial, ReopenedWithAnotherModeString) {
    slave_->Send("reopen " + PortName + ":19200,E,8,1");
    ASSERT_EQ(slave_->Line(10s), "ready");
    termios tio{};
    ASSERT_EQ(tcgetattr(bridge_->SlaveSideFd(), &tio), 0);
    // A Linux pseudo-terminal keeps the speed and the stop bits it is given
    // but always has 8 data bits and no parity, so only those two show here.
    EXPECT_EQ(cfgetospeed(&tio), B19200);
    EXPECT_EQ(tio.c_cflag & CSTOPB, 0u);
    uint16_t value = 0;
    EXPECT_TRUE(ReadOne(value)) << modbus_strerror(errno);

    // The "key=value" form of the mode string as well.
    slave_->Send("reopen " + PortName + ":baud=4800 parity=O data=8 stop=2");
    ASSERT_EQ(slave_->Line(10s), "ready");
    ASSERT_EQ(tcgetattr(bridge_->SlaveSideFd(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), B4800);
    EXPECT_NE(tio.c_cflag & CSTOPB, 0u);
    EXPECT_TRUE(ReadOne(value)) << modbus_strerror(errno);
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: wine_serial_test WINE_RUN SLAVE_EXE SHIM_SO\n");
        return 2;
    }
    WineRun = argv[1];
    SlaveExe = argv[2];
    Shim = argv[3];
    return RUN_ALL_TESTS();
}
