// The exchange monitor: frames as hex, the copies the port's events make,
// the memo lines with the host's date and time, and a real request over a
// pseudo-terminal with and without an answer.
#include "FormFixture.h"
#include "PseudoTerminal.h"

#include <chrono>

using namespace pelmbus;
using namespace pelmbus::testsupport;
using namespace std::chrono_literals;

namespace {

using Frame = std::array<uint8_t, TInOutPort::BlockSize>;
using Lines = std::vector<std::string>;
const std::string Stamp = "   05.03.2024 19:08:09"; // the fake host's moment

TEST(FrameToHex, TwoUpperCaseDigitsPerByteOnlyForLengthsFrom1To1023) {
    Frame frame{};
    const uint8_t request[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A};
    std::copy(std::begin(request), std::end(request), frame.begin());
    EXPECT_EQ(TInOutPort::FrameToHex(frame, 8), "010300000001840A");
    frame.fill(0xAB);
    std::string longest;
    for (int i = 0; i < 1023; ++i) {
        longest += "AB";
    }
    EXPECT_TRUE(TInOutPort::FrameToHex(frame, 1023) == longest);
    for (int32_t length : {0, -1, 1024, 1025, INT32_MAX, INT32_MIN}) {
        EXPECT_EQ(TInOutPort::FrameToHex(frame, length), "") << length;
    }
}

class ExchangeMonitor : public FormFixture {
protected:
    // The port received a frame of `length` bytes (the first eight set).
    void Receive(int32_t length, uint8_t first = 0x01) {
        TInOutPort& port = *Form->InOutPort1;
        port.BufIn.fill(0x5A);
        port.BufIn[0] = first;
        port.LenIn = length;
        Form->InOutPort1PriemDataReady(port);
    }
};

TEST_F(ExchangeMonitor, EventsCopyAndPostThenTheMessageAddsTheLine) {
    Create();
    Receive(3);
    Form->InOutPort1->LenOut = 0; // no response sent
    Form->InOutPort1PeredDataReady(*Form->InOutPort1);
    EXPECT_TRUE(Form->Memo2.Lines().empty()); // only posted so far
    ASSERT_EQ(Host.Posted.size(), 2u);
    EXPECT_EQ(Host.Posted[0].WParam, MBusDataPriem);
    EXPECT_EQ(Host.Posted[1].WParam, MBusDataPered);
    EXPECT_EQ(Host.Posted[1].LParam, 0);

    Host.DeliverMessages(*Form);
    EXPECT_EQ(Form->Memo2.Lines(), Lines{"015A5A" + Stamp});
    EXPECT_EQ(Form->Memo3.Lines(), Lines{Stamp});

    // Lengths beyond the buffers copy 1024 bytes at most and show no hex.
    Receive(5000);
    Receive(-7);
    Receive(1024);
    Host.DeliverMessages(*Form);
    EXPECT_EQ(Form->PriemLen, 1024);
    EXPECT_EQ(Form->Memo2.Lines(), (Lines{"015A5A" + Stamp, Stamp, Stamp, Stamp}));
}

TEST_F(ExchangeMonitor, KeepsTheFourNewestLinesDroppingOnePerUpdate) {
    Create();
    for (uint8_t i = 1; i <= 5; ++i) {
        Receive(1, i);
        Host.DeliverMessages(*Form);
    }
    EXPECT_EQ(Form->Memo2.Lines(), (Lines{"02" + Stamp, "03" + Stamp, "04" + Stamp, "05" + Stamp}));

    // Lines the operator typed count too, and go one per update.
    Form->Memo3.UserSetText("a\r\nb\nc\rd\ne\n");
    EXPECT_EQ(Form->Memo3.Lines(), (Lines{"a", "b", "c", "d", "e"}));
    Form->ShowPeredFrame();
    EXPECT_EQ(Form->Memo3.Lines(), (Lines{"b", "c", "d", "e", Stamp}));
}

TEST_F(ExchangeMonitor, DateAndTimeFollowTheHostsFormatsAndMidnightShowsNoTime) {
    Host.Format.ShortDateFormat = "MM/dd/yyyy";
    Host.Format.LongTimeFormat = "h:mm:ss AP";
    Create();
    Receive(1);
    Host.DeliverMessages(*Form);
    // The time is read when the line is made, not when the frame came.
    Receive(1);
    Host.Time = {2024, 12, 31, 0, 0, 0, 0};
    Host.DeliverMessages(*Form);
    Receive(1);
    Host.Time = {2024, 12, 31, 0, 0, 0, 1};
    Host.DeliverMessages(*Form);
    EXPECT_EQ(Form->Memo2.Lines(), (Lines{"01   03/05/2024 7:08:09 PM", "01   12/31/2024",
                                          "01   12/31/2024 12:00:00 AM"}));
}

// Requests to this slave's address and to another over a real line: both
// reach the receive monitor, only the first gets a response.
TEST_F(ExchangeMonitor, RequestsOverTheLineWithAndWithoutAnAnswer) {
    PseudoTerminal pty;
    Create(pty.SlavePath() + ":9600,N,8,2");
    ASSERT_TRUE(Form->InOutPort1->PortOpen);
    for (uint8_t slave : {1, 7}) {
        uint8_t request[8] = {slave, 3, 0, 0, 0, 1, 0, 0};
        const uint16_t crc = TInOutPort::CalcCRC(request, 6);
        request[6] = static_cast<uint8_t>(crc & 0xFF);
        request[7] = static_cast<uint8_t>(crc >> 8);
        pty.Write(request, sizeof request);
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (Form->Memo3.Lines().size() < slave / 7 + 1u &&
               std::chrono::steady_clock::now() < deadline) {
            Host.RunMainThreadWork();
            Host.DeliverMessages(*Form);
            pty.ReadBurst(10ms, 5ms);
        }
    }
    EXPECT_EQ(Form->Memo2.Lines(), (Lines{"010300000001840A" + Stamp, "070300000001846C" + Stamp}));
    EXPECT_EQ(Form->Memo3.Lines(), (Lines{"0103020000B844" + Stamp, Stamp}));
}

} // namespace
