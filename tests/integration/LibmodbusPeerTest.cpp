// libmodbus, a Modbus master nobody here wrote, talks over a pseudo-terminal
// to ProcessRequest and must accept every answer it gets.
#include "InOutPort.h"
#include "PseudoTerminal.h"

#include <gtest/gtest.h>
#include <modbus.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

using namespace pelmbus;
using namespace std::chrono_literals;

namespace {

class LibmodbusPeer : public ::testing::Test {
protected:
    void SetUp() override {
        port_.SlaveNomer = 17;
        slave_ = std::thread([this] { Serve(); });
        ctx_ = modbus_new_rtu(pty_.SlavePath().c_str(), 9600, 'N', 8, 2);
        ASSERT_NE(ctx_, nullptr);
        modbus_set_slave(ctx_, 17);
        modbus_set_response_timeout(ctx_, 2, 0);
        ASSERT_EQ(modbus_connect(ctx_), 0) << modbus_strerror(errno);
    }

    void TearDown() override {
        stop_ = true;
        slave_.join();
        if (ctx_ != nullptr) {
            modbus_close(ctx_);
            modbus_free(ctx_);
        }
    }

    // Answers each burst the master sends, as the receive thread will.
    void Serve() {
        while (!stop_) {
            const auto request = pty_.ReadBurst(50ms, 20ms);
            if (request.empty() || request.size() > TInOutPort::BlockSize) {
                continue;
            }
            std::memcpy(port_.BufIn.data(), request.data(), request.size());
            port_.LenIn = static_cast<int32_t>(request.size());
            port_.ProcessRequest();
            ++handled_;
            if (port_.LenOut > 0) {
                pty_.Write(port_.BufOut.data(), static_cast<size_t>(port_.LenOut));
            }
        }
    }

    testsupport::PseudoTerminal pty_;
    TInOutPort port_;
    modbus_t* ctx_ = nullptr;
    std::thread slave_;
    std::atomic<bool> stop_{false};
    std::atomic<int> handled_{0};
};

} // namespace

TEST_F(LibmodbusPeer, ReadsAndWritesRegisters) {
    {
        std::lock_guard lock(port_.ImageMutex);
        port_.BufFloat[0] = 1.0f;
        port_.FloatToReg(0);
    }
    uint16_t values[100] = {};
    ASSERT_EQ(modbus_read_registers(ctx_, 0, 2, values), 2) << modbus_strerror(errno);
    EXPECT_EQ(values[0], 0x3F80);
    EXPECT_EQ(values[1], 0x0000);

    uint16_t written[100];
    for (int i = 0; i < 100; ++i) {
        written[i] = static_cast<uint16_t>(i * 655 + 1);
    }
    ASSERT_EQ(modbus_write_registers(ctx_, 412, 100, written), 100) << modbus_strerror(errno);
    ASSERT_EQ(modbus_read_registers(ctx_, 412, 100, values), 100) << modbus_strerror(errno);
    EXPECT_EQ(std::memcmp(values, written, sizeof written), 0);

    const uint16_t ten[2] = {0x4120, 0x0000}; // 10.0
    ASSERT_EQ(modbus_write_registers(ctx_, 2, 2, ten), 2) << modbus_strerror(errno);
    std::lock_guard lock(port_.ImageMutex);
    EXPECT_EQ(port_.BufFloat[1], 10.0f);
}

TEST_F(LibmodbusPeer, ExceptionsReachTheMaster) {
    uint16_t values[125] = {};
    EXPECT_EQ(modbus_read_registers(ctx_, 0, 101, values), -1);
    EXPECT_EQ(errno, EMBXILADD);
    EXPECT_EQ(modbus_read_registers(ctx_, 413, 100, values), -1);
    EXPECT_EQ(errno, EMBXILADD);
    EXPECT_EQ(modbus_write_registers(ctx_, 511, 2, values), -1);
    EXPECT_EQ(errno, EMBXILADD);

    EXPECT_EQ(modbus_read_input_registers(ctx_, 0, 1, values), -1);
    EXPECT_EQ(errno, EMBXILFUN);

    const uint8_t readInput[] = {17, 0x04, 0x00, 0x00, 0x00, 0x01};
    ASSERT_GT(modbus_send_raw_request(ctx_, readInput, sizeof readInput), 0);
    uint8_t response[MODBUS_RTU_MAX_ADU_LENGTH];
    // libmodbus checks address and CRC of the raw answer before handing it on.
    ASSERT_EQ(modbus_receive_confirmation(ctx_, response), 5) << modbus_strerror(errno);
    EXPECT_EQ(response[0], 17);
    EXPECT_EQ(response[1], 0x84);
    EXPECT_EQ(response[2], MODBUS_EXCEPTION_ILLEGAL_FUNCTION);

    // The slave still answers normally afterwards.
    EXPECT_EQ(modbus_read_registers(ctx_, 0, 1, values), 1) << modbus_strerror(errno);
}

TEST_F(LibmodbusPeer, OtherSlaveAddressTimesOut) {
    modbus_set_slave(ctx_, 18);
    modbus_set_response_timeout(ctx_, 0, 300000);
    uint16_t value = 0;
    EXPECT_EQ(modbus_read_registers(ctx_, 0, 1, &value), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
}
