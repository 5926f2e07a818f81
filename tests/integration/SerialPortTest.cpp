// The termios device and the receive thread over pseudo-terminals: the
// settings string, exclusive access, bursts of various lengths, a port that
// did not open, reopening, and stopping while a hand-over is pending.
#include "InOutPort.h"
#include "MainThreadQueue.h"
#include "PosixCommDevice.h"
#include "PseudoTerminal.h"

#include <gtest/gtest.h>
#include <termios.h>

#include <cerrno>
#include <cstring>
#include <thread>

using namespace pelmbus;
using namespace pelmbus::testsupport;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes ReadTwo = {0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC4, 0x0B};
const Bytes ReadTwoAnswer = {0x01, 0x03, 0x04, 0x3F, 0x80, 0x00, 0x00, 0xF7, 0xCF};

termios LineSettings(const PseudoTerminal& pty) {
    termios tio{};
    // The master end reports the settings of its terminal end.
    EXPECT_EQ(tcgetattr(pty.MasterFd(), &tio), 0);
    return tio;
}

bool CanOpenElsewhere(const std::string& path) {
    PosixCommDevice other;
    return other.Open(path);
}

class SerialPort : public ::testing::Test {
protected:
    SerialPort() {
        port_.StrPort = pty_.SlavePath() + ":9600,N,8,2";
        port_.ZaderOtveta = 5;
        port_.PostToMainThread = loop_.Poster();
        port_.OnPriemDataReady = [this](TInOutPort& port) {
            events_ += 'R';
            received_.emplace_back(port.BufIn.begin(), port.BufIn.begin() + port.LenIn);
        };
        port_.OnPeredDataReady = [this](TInOutPort& port) {
            events_ += 'S';
            sent_.emplace_back(port.BufOut.begin(), port.BufOut.begin() + port.LenOut);
        };
        port_.BufFloat[0] = 1.0f;
        port_.FloatToReg(0);
    }

    ~SerialPort() override {
        port_.StopLooker();
        port_.SetPortActive(false);
    }

    // Sends bytes from the master's side and waits for the send event.
    void Exchange(const Bytes& bytes) {
        const size_t before = sent_.size();
        pty_.Write(bytes.data(), bytes.size());
        ASSERT_TRUE(loop_.RunUntil([&] { return sent_.size() > before; }, 3s));
    }

    Bytes Answer() { return pty_.ReadBurst(300ms, 30ms); }

    PseudoTerminal pty_;
    MainThreadQueue loop_;
    std::string events_;
    std::vector<Bytes> received_;
    std::vector<Bytes> sent_;
    TInOutPort port_;
};

} // namespace

// ComPortNameTest holds the names; here only where they lead on Linux.
TEST(DeviceNames, ComPortsAreTheSerialDevicesInTheirOrder) {
    EXPECT_EQ(DevicePathForName("COM1"), "/dev/ttyS0");
    EXPECT_EQ(DevicePathForName("\\\\.\\com12"), "/dev/ttyS11");
    EXPECT_EQ(DevicePathForName("COM0"), "");
    EXPECT_EQ(DevicePathForName("/dev/pts/3"), "/dev/pts/3");
}

// A pseudo-terminal keeps the speed, stop bits and flow control it is
// given (it forces eight data bits and no parity); TermiosModeTest checks
// the rest of the mapping.
TEST_F(SerialPort, ModeStringsSetTheLine) {
    port_.SetPortActive(true);
    ASSERT_TRUE(port_.PortOpen);
    termios tio = LineSettings(pty_);
    EXPECT_EQ(cfgetospeed(&tio), B9600);
    EXPECT_EQ(tio.c_cflag & (CSTOPB | CRTSCTS), static_cast<tcflag_t>(CSTOPB));
    EXPECT_EQ(tio.c_lflag & (ECHO | ICANON | ISIG), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);

    port_.StrPort = pty_.SlavePath() + ":baud=19200 parity=E data=7 stop=1 xon=on";
    port_.SetPortActive(true);
    ASSERT_TRUE(port_.PortOpen);
    tio = LineSettings(pty_);
    EXPECT_EQ(cfgetospeed(&tio), B19200);
    EXPECT_EQ(tio.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(port_.Dcb.ByteSize, 7);
    EXPECT_EQ(port_.Dcb.Parity, CommParity::Even);

    port_.StrPort = pty_.SlavePath() + ":48,O,8,1,p";
    port_.SetPortActive(true);
    ASSERT_TRUE(port_.PortOpen);
    tio = LineSettings(pty_);
    EXPECT_EQ(cfgetospeed(&tio), B4800);
    EXPECT_EQ(tio.c_cflag & (PARODD | CRTSCTS), static_cast<tcflag_t>(PARODD | CRTSCTS));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), 0u);

    // A rate without a termios constant.
    port_.StrPort = pty_.SlavePath() + ":250000,N,8,1";
    port_.SetPortActive(true);
    ASSERT_TRUE(port_.PortOpen);
    uint32_t baud = 0;
    ASSERT_TRUE(ReadBaudRate(pty_.MasterFd(), baud));
    EXPECT_EQ(baud, 250000u);
    tio = LineSettings(pty_);
    EXPECT_EQ(tio.c_cflag & (PARODD | CRTSCTS | CSTOPB), 0u);
}

TEST_F(SerialPort, BadSettingsFailTheOpenAndKeepTheDevice) {
    const std::string path = pty_.SlavePath();
    for (const std::string mode :
         {"9600,N,9,2", "9600,Q,8,2", "baud=9600 bogus=1", "", "9600,N,8,1.5", "9600,N,5,2"}) {
        port_.StrPort = path + ":" + mode;
        port_.SetPortActive(true);
        EXPECT_FALSE(port_.PortOpen) << mode;
        EXPECT_FALSE(CanOpenElsewhere(path)) << mode; // still held
        port_.SetPortActive(false);
        EXPECT_TRUE(CanOpenElsewhere(path)) << mode;
    }

    port_.StrPort = "COM1";
    port_.SetPortActive(true);
    EXPECT_FALSE(port_.PortOpen);
    port_.StrPort = path; // a path without a colon names no device either
    port_.SetPortActive(true);
    EXPECT_FALSE(port_.PortOpen);
    EXPECT_TRUE(CanOpenElsewhere(path));

    port_.StrPort = path + ":9600,N,8,2";
    port_.SetPortActive(true);
    ASSERT_TRUE(port_.PortOpen);
    EXPECT_FALSE(CanOpenElsewhere(path)); // exclusive, also for root
}

TEST_F(SerialPort, AnOpenThatFailsSaysWhyInTheSystemsWords) {
    const auto failure = [this](const std::string& strPort) {
        errno = 0; // no reason left over from an earlier call
        port_.StrPort = strPort;
        port_.SetPortActive(true);
        EXPECT_FALSE(port_.PortOpen) << strPort;
        return port_.OpenFailure;
    };
    EXPECT_EQ(failure("/nonexistent/tty:9600,N,8,2"), std::strerror(ENOENT));
    EXPECT_EQ(failure("COM0:9600,N,8,2"), std::strerror(ENOENT));
    EXPECT_EQ(failure("/dev/null:9600,N,8,2"), std::strerror(ENOTTY));
    EXPECT_EQ(failure(pty_.SlavePath() + ":9600,Q,8,2"), "неверный режим порта \"9600,Q,8,2\"");
    port_.SetPortActive(false);
    {
        PosixCommDevice other;
        ASSERT_TRUE(other.Open(pty_.SlavePath()));
        EXPECT_EQ(failure(pty_.SlavePath() + ":9600,N,8,2"), std::strerror(EBUSY));
    }
    port_.StrPort = pty_.SlavePath() + ":9600,N,8,2";
    port_.SetPortActive(true);
    ASSERT_TRUE(port_.PortOpen);
    EXPECT_EQ(port_.OpenFailure, "");
}

TEST(PosixDevice, ReadBytesTakesWhatTheQueueHoldsInOneRead) {
    PseudoTerminal pty;
    PosixCommDevice device;
    ASSERT_TRUE(device.Open(pty.SlavePath()));
    uint8_t bytes[64] = {};
    uint32_t read = 99;
    EXPECT_EQ(device.ReadBytes(bytes, sizeof bytes, read), CommIo::Done);
    EXPECT_EQ(read, 0u);

    pty.Write(ReadTwo.data(), ReadTwo.size());
    CommStatus status;
    for (int i = 0; i < 300 && status.InQueue < ReadTwo.size(); ++i) {
        ASSERT_TRUE(device.ClearErrors(status));
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_EQ(status.InQueue, ReadTwo.size());
    EXPECT_EQ(device.ReadBytes(bytes, 3, read), CommIo::Done);
    EXPECT_EQ(Bytes(bytes, bytes + read), Bytes(ReadTwo.begin(), ReadTwo.begin() + 3));
    EXPECT_EQ(device.ReadBytes(bytes, sizeof bytes, read), CommIo::Done);
    EXPECT_EQ(Bytes(bytes, bytes + read), Bytes(ReadTwo.begin() + 3, ReadTwo.end()));

    device.Close();
    EXPECT_EQ(device.ReadBytes(bytes, sizeof bytes, read), CommIo::Failed);
    EXPECT_EQ(read, 0u);
}

TEST_F(SerialPort, BurstsOfSevenAndEightBytes) {
    port_.SetPortActive(true);
    ASSERT_TRUE(port_.PortOpen);
    port_.StartLooker();

    // Seven bytes are dropped without an event or an answer.
    pty_.Write(ReadTwo.data(), 7);
    EXPECT_TRUE(Answer().empty());
    loop_.RunFor(600ms);
    EXPECT_EQ(events_, "");

    Exchange(ReadTwo);
    EXPECT_EQ(events_, "RS");
    EXPECT_EQ(received_.back(), ReadTwo);
    EXPECT_EQ(sent_.back(), ReadTwoAnswer);
    EXPECT_EQ(Answer(), ReadTwoAnswer);

    // Another slave's frame gets no answer but still both events.
    const Bytes otherSlave = {0x02, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC4, 0x38};
    Exchange(otherSlave);
    EXPECT_EQ(events_, "RSRS");
    EXPECT_EQ(received_.back(), otherSlave);
    EXPECT_TRUE(sent_.back().empty());
    EXPECT_TRUE(Answer().empty());

    // Two requests within one receive step are one frame.
    Bytes twice = ReadTwo;
    twice.insert(twice.end(), ReadTwo.begin(), ReadTwo.end());
    Exchange(twice);
    EXPECT_EQ(events_, "RSRSRS");
    EXPECT_EQ(received_.back(), twice);
    EXPECT_TRUE(sent_.back().empty());
    EXPECT_TRUE(Answer().empty());
}

TEST_F(SerialPort, PortThatDidNotOpenRaisesNoEvents) {
    // The device is held, but the mode failed: the port is not open.
    port_.StrPort = pty_.SlavePath() + ":9600,X";
    port_.SetPortActive(true);
    ASSERT_FALSE(port_.PortOpen);
    port_.StartLooker();
    pty_.Write(ReadTwo.data(), ReadTwo.size());
    loop_.RunFor(1200ms);
    EXPECT_EQ(events_, "");
    EXPECT_TRUE(Answer().empty());
}

TEST_F(SerialPort, ReopenWithNewSettings) {
    port_.SetPortActive(true);
    port_.StartLooker();
    Exchange(ReadTwo);
    EXPECT_EQ(Answer(), ReadTwoAnswer);

    port_.StopLooker();
    port_.StrPort = pty_.SlavePath() + ":19200,E,8,1";
    port_.SetPortActive(true);
    ASSERT_TRUE(port_.PortOpen);
    EXPECT_EQ(cfgetospeed(&static_cast<const termios&>(LineSettings(pty_))), B19200);
    port_.StartLooker();
    Exchange(ReadTwo);
    EXPECT_EQ(Answer(), ReadTwoAnswer);
    EXPECT_EQ(events_, "RSRS");
}

TEST_F(SerialPort, StopWhileAHandOverIsPending) {
    port_.SetPortActive(true);
    port_.StartLooker();
    pty_.Write(ReadTwo.data(), ReadTwo.size());
    ASSERT_TRUE(loop_.WaitForPost(3s));
    const auto looker = port_.Looker;
    port_.StopLooker();
    port_.SetPortActive(false);
    EXPECT_TRUE(CanOpenElsewhere(pty_.SlavePath()));
    EXPECT_TRUE(looker->WaitUntilFinished(2s));
    loop_.RunPending();
    EXPECT_EQ(events_, "");
    EXPECT_TRUE(Answer().empty());
}
