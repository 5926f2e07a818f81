// Modbus masters that nobody here wrote, libmodbus and mbpoll, talk to the
// program through its real receive thread over a pseudo-terminal pair; the
// test's thread plays the window's message loop.
#include "InOutPort.h"
#include "MainThreadQueue.h"
#include "PtyBridge.h"

#include <gtest/gtest.h>
#include <modbus.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <future>
#include <sstream>

using namespace pelmbus;
using namespace pelmbus::testsupport;
using namespace std::chrono_literals;

namespace {

class ModbusMaster : public ::testing::Test {
protected:
    ModbusMaster() {
        port_.StrPort = bridge_.SlaveSidePath() + ":9600,N,8,2";
        port_.ZaderOtveta = 5;
        port_.PostToMainThread = loop_.Poster();
        port_.OnPriemDataReady = [this](TInOutPort&) { ++received_; };
        port_.OnPeredDataReady = [this](TInOutPort& port) {
            if (port.LenOut > 0) {
                ++answered_;
            }
        };
    }

    void SetUp() override {
        port_.SetPortActive(true);
        ASSERT_TRUE(port_.PortOpen);
        port_.StartLooker();
    }

    ~ModbusMaster() override {
        port_.StopLooker();
        port_.SetPortActive(false);
    }

    // Runs the master on its own thread while this one serves the events.
    template <class Master> auto RunMaster(Master master) {
        std::atomic<bool> finished{false};
        auto result = std::async(std::launch::async, [&] {
            auto outcome = master();
            finished = true;
            loop_.Post([] {}); // lets the loop see that the master has finished
            return outcome;
        });
        EXPECT_TRUE(loop_.RunUntil([&] { return finished.load(); }, 30s));
        return result.get();
    }

    PtyBridge bridge_;
    MainThreadQueue loop_;
    int received_ = 0;
    int answered_ = 0;
    TInOutPort port_;
};

struct LibmodbusResults {
    int readTwo = 0;
    uint16_t firstTwo[2] = {};
    int write100 = 0;
    int read100 = 0;
    bool sameBack = false;
    int writeTen = 0;
    int read101 = 0;
    int read101Errno = 0;
    int readInput = 0;
    int readInputErrno = 0;
};

} // namespace

TEST_F(ModbusMaster, LibmodbusReadsWritesAndGetsExceptions) {
    port_.BufFloat[0] = 1.0f;
    port_.FloatToReg(0);

    const std::string path = bridge_.MasterSidePath();
    const LibmodbusResults r = RunMaster([path] {
        LibmodbusResults r;
        modbus_t* ctx = modbus_new_rtu(path.c_str(), 9600, 'N', 8, 2);
        if (ctx == nullptr) {
            return r;
        }
        modbus_set_slave(ctx, 1);
        modbus_set_response_timeout(ctx, 3, 0);
        if (modbus_connect(ctx) == 0) {
            r.readTwo = modbus_read_registers(ctx, 0, 2, r.firstTwo);
            uint16_t written[100];
            uint16_t back[101] = {};
            for (int i = 0; i < 100; ++i) {
                written[i] = static_cast<uint16_t>(i * 655 + 1);
            }
            r.write100 = modbus_write_registers(ctx, 412, 100, written);
            r.read100 = modbus_read_registers(ctx, 412, 100, back);
            r.sameBack = std::equal(written, written + 100, back);
            const uint16_t ten[2] = {0x4120, 0x0000};
            r.writeTen = modbus_write_registers(ctx, 2, 2, ten);
            r.read101 = modbus_read_registers(ctx, 0, 101, back);
            r.read101Errno = errno;
            r.readInput = modbus_read_input_registers(ctx, 0, 1, back);
            r.readInputErrno = errno;
            modbus_close(ctx);
        }
        modbus_free(ctx);
        return r;
    });

    EXPECT_EQ(r.readTwo, 2);
    EXPECT_EQ(r.firstTwo[0], 0x3F80);
    EXPECT_EQ(r.firstTwo[1], 0x0000);
    EXPECT_EQ(r.write100, 100);
    EXPECT_EQ(r.read100, 100);
    EXPECT_TRUE(r.sameBack);
    EXPECT_EQ(r.writeTen, 2);
    EXPECT_EQ(r.read101, -1);
    EXPECT_EQ(r.read101Errno, EMBXILADD);
    EXPECT_EQ(r.readInput, -1);
    EXPECT_EQ(r.readInputErrno, EMBXILFUN);
    EXPECT_EQ(received_, 6);
    EXPECT_EQ(answered_, 6);

    port_.StopLooker();
    std::lock_guard lock(port_.ImageMutex);
    EXPECT_EQ(port_.BufFloat[1], 10.0f);
}

TEST_F(ModbusMaster, MbpollReadsAndWritesFloats) {
    port_.BufFloat[0] = 1.5f;
    port_.BufFloat[1] = -273.15f;
    port_.BufFloat[2] = 12345.5f;
    port_.FloatToReg(2);

    const std::string common = "mbpoll -m rtu -b 9600 -P none -s 2 -a 1 -o 3 -1 -0 -t 4:float -B ";
    const std::string path = bridge_.MasterSidePath();
    auto run = [](const std::string& command) {
        std::string output;
        if (FILE* pipe = popen((command + " 2>&1").c_str(), "r")) {
            char buffer[512];
            while (fgets(buffer, sizeof buffer, pipe) != nullptr) {
                output += buffer;
            }
            if (pclose(pipe) != 0) {
                output += "\n(exit status not 0)";
            }
        }
        return output;
    };

    const std::string readOutput = RunMaster([&] { return run(common + "-r 0 -c 3 " + path); });
    std::vector<double> values;
    std::istringstream lines(readOutput);
    std::string line;
    while (std::getline(lines, line)) {
        // Value lines look like "[0]: 	1.5".
        const size_t colon = line.find("]:");
        if (!line.empty() && line[0] == '[' && colon != std::string::npos) {
            values.push_back(std::stod(line.substr(colon + 2)));
        }
    }
    ASSERT_EQ(values.size(), 3u) << readOutput;
    EXPECT_DOUBLE_EQ(values[0], 1.5);
    EXPECT_NEAR(values[1], -273.15, 1e-3);
    EXPECT_DOUBLE_EQ(values[2], 12345.5); // mbpoll shows six digits

    const std::string writeOutput =
        RunMaster([&] { return run(common + "-r 10 " + path + " 3.25"); });
    EXPECT_EQ(writeOutput.find("exit status"), std::string::npos) << writeOutput;
    port_.StopLooker();
    std::lock_guard lock(port_.ImageMutex);
    EXPECT_EQ(port_.BufFloat[5], 3.25f) << writeOutput;
}
