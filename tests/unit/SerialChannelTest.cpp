// The serial channel and its receive thread over a fake device: the open
// sequence, the send steps, the two paths of the event wait, the full
// output queue, failing writes, unsent tails and new frames, oversized
// bursts, opening and stopping while the thread runs.
#include "FakeCommDevice.h"
#include "InOutPort.h"
#include "MainThreadQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace pelmbus;
using namespace pelmbus::testsupport;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

Bytes WithCrc(Bytes frame) {
    const uint16_t crc = TInOutPort::CalcCRC(frame.data(), static_cast<int32_t>(frame.size()));
    frame.push_back(static_cast<uint8_t>(crc));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

const Bytes ReadTwo = {0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC4, 0x0B};
const Bytes ReadTwoAnswer = WithCrc({0x01, 0x03, 0x04, 0x00, 0x00, 0x00, 0x00});

Bytes Reversed(const Bytes& bytes) {
    return Bytes(bytes.rbegin(), bytes.rend());
}

bool WaitUntil(const std::atomic<bool>& flag, std::chrono::milliseconds timeout) {
    const auto until = Clock::now() + timeout;
    while (!flag && Clock::now() < until) {
        std::this_thread::sleep_for(1ms);
    }
    return flag;
}

class Channel : public ::testing::Test {
protected:
    Channel() {
        port_.DeviceFactory = [line = line_] { return std::make_unique<FakeCommDevice>(line); };
        port_.PostToMainThread = loop_.Poster();
        port_.OnPriemDataReady = [this](TInOutPort& port) {
            events_ += 'R';
            received_.emplace_back(port.BufIn.begin(), port.BufIn.begin() + port.LenIn);
        };
        port_.OnPeredDataReady = [this](TInOutPort& port) {
            events_ += 'S';
            sent_.emplace_back(port.BufOut.begin(), port.BufOut.begin() + port.LenOut);
        };
    }

    ~Channel() override {
        port_.StopLooker();
        port_.SetPortActive(false);
    }

    bool RunUntilSent(size_t count, std::chrono::milliseconds timeout = 10s) {
        return loop_.RunUntil([&] { return sent_.size() >= count; }, timeout);
    }

    void SetLine(const std::function<void(FakeLine&)>& change) {
        {
            std::lock_guard lock(line_->Mutex);
            change(*line_);
        }
        line_->Changed.notify_all();
    }

    // Delivers the bytes as a line does, one every 1 to 2 ms.
    void ReceiveAtLinePace(const Bytes& bytes) {
        for (size_t i = 0; i < bytes.size(); ++i) {
            line_->Receive({bytes[i]});
            std::this_thread::sleep_for(i % 2 == 0 ? 1ms : 2ms);
        }
    }

    // The next request at line pace while the thread waits for it, and its
    // send event.
    void Request(const Bytes& request) {
        ASSERT_TRUE(line_->WaitFor([](FakeLine& line) { return line.Waiting; }, 10s));
        const size_t sent = sent_.size();
        ReceiveAtLinePace(request);
        ASSERT_TRUE(RunUntilSent(sent + 1));
    }

    Bytes Output() {
        std::lock_guard lock(line_->Mutex);
        return line_->Output;
    }

    MainThreadQueue loop_;
    std::shared_ptr<FakeLine> line_ = std::make_shared<FakeLine>();
    std::string events_;
    std::vector<Bytes> received_;
    std::vector<Bytes> sent_;
    TInOutPort port_; // last: stopped and freed before what its events use
};

} // namespace

TEST_F(Channel, OpenAppliesTheSettingsString) {
    port_.LenIn = 5;
    port_.SetPortActive(true);
    ASSERT_TRUE(port_.PortOpen);
    EXPECT_EQ(port_.LenIn, 0);

    std::lock_guard lock(line_->Mutex);
    EXPECT_EQ(line_->OpenedName, "COM1");
    CommMode expected;
    expected.StopBits = CommStopBits::Two;
    expected.EvtChar = 0x13;
    EXPECT_EQ(line_->Mode, expected);
    EXPECT_EQ(line_->InputQueueSize, 4096u);
    EXPECT_EQ(line_->OutputQueueSize, 4096u);
    EXPECT_EQ(line_->EventMask, EvRxChar);
    EXPECT_EQ(line_->Timeouts.ReadIntervalTimeout, 4u);
    EXPECT_EQ(line_->Timeouts.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(line_->Timeouts.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(line_->Timeouts.WriteTotalTimeoutMultiplier, 1u);
    EXPECT_EQ(line_->Timeouts.WriteTotalTimeoutConstant, 1u);
}

TEST_F(Channel, FailedOpensLeaveThePortClosed) {
    port_.StrPort = "COM1";
    port_.SetPortActive(true);
    EXPECT_FALSE(port_.PortOpen);
    EXPECT_FALSE(line_->Open);
    EXPECT_EQ(line_->OpenedName, "");

    // A mode that does not parse keeps the device until the next close.
    port_.StrPort = "COM2:9600,Q,8,2";
    port_.SetPortActive(true);
    EXPECT_FALSE(port_.PortOpen);
    EXPECT_TRUE(line_->Open);
    EXPECT_EQ(line_->OpenedName, "COM2");
    port_.SetPortActive(false);
    EXPECT_FALSE(line_->Open);

    // LenIn is reset once the line settings took, even if a later step fails.
    port_.StrPort = "COM1:9600,N,8,2";
    SetLine([](FakeLine& line) { line.FailState = true; });
    port_.LenIn = 5;
    port_.SetPortActive(true);
    EXPECT_FALSE(port_.PortOpen);
    EXPECT_EQ(port_.LenIn, 5);
    SetLine([](FakeLine& line) {
        line.FailState = false;
        line.FailMask = true;
    });
    port_.SetPortActive(true);
    EXPECT_FALSE(port_.PortOpen);
    EXPECT_EQ(port_.LenIn, 0);
}

TEST_F(Channel, SendSteps) {
    port_.SetPortActive(true);
    ASSERT_TRUE(port_.PortOpen);

    // A full output queue: nothing is written and nothing is lost.
    SetLine([](FakeLine& line) { line.OutQueue = 4096; });
    port_.SendFrame(ReadTwoAnswer.data(), static_cast<int32_t>(ReadTwoAnswer.size()));
    EXPECT_TRUE(port_.PeredPending);
    EXPECT_EQ(port_.ArrPered, Reversed(ReadTwoAnswer));
    port_.ResendTail();
    EXPECT_TRUE(port_.PeredPending);
    EXPECT_EQ(port_.ArrPered, Reversed(ReadTwoAnswer));
    EXPECT_TRUE(Output().empty());

    // Short writes: each step continues where the last one stopped.
    SetLine([](FakeLine& line) {
        line.OutQueue = 4095;
        line.MaxPerWrite = 4;
    });
    port_.ResendTail();
    EXPECT_EQ(port_.ArrPered.size(), ReadTwoAnswer.size() - 4);
    EXPECT_TRUE(port_.PeredPending);
    port_.ResendTail();
    port_.ResendTail();
    EXPECT_FALSE(port_.PeredPending);
    EXPECT_TRUE(port_.ArrPered.empty());
    EXPECT_EQ(Output(), ReadTwoAnswer);

    // A write that completes later counts like one that completed at once.
    SetLine([](FakeLine& line) {
        line.Output.clear();
        line.MaxPerWrite = 1000;
        line.WritesPending = true;
    });
    port_.SendFrame(ReadTwo.data(), static_cast<int32_t>(ReadTwo.size()));
    EXPECT_FALSE(port_.PeredPending);
    EXPECT_EQ(Output(), ReadTwo);

    // A failed write leaves the whole frame for the next step.
    SetLine([](FakeLine& line) {
        line.Output.clear();
        line.FailingWrites = 1;
    });
    port_.SendFrame(ReadTwo.data(), static_cast<int32_t>(ReadTwo.size()));
    EXPECT_TRUE(port_.PeredPending);
    EXPECT_EQ(port_.ArrPered, Reversed(ReadTwo));
    port_.ResendTail();
    EXPECT_FALSE(port_.PeredPending);
    EXPECT_EQ(Output(), ReadTwo);

    // A closed port sends nothing.
    port_.SetPortActive(false);
    port_.SendFrame(ReadTwoAnswer.data(), static_cast<int32_t>(ReadTwoAnswer.size()));
    port_.ResendTail();
    EXPECT_EQ(port_.ArrPered, Bytes());
    EXPECT_EQ(Output(), ReadTwo);
}

TEST_F(Channel, WaitingRequestIsReadBytewiseAndAnsweredAfterTheDelay) {
    port_.ZaderOtveta = 10;
    port_.SetPortActive(true);
    const auto started = Clock::now();
    port_.StartLooker();
    line_->Receive(ReadTwo);
    ASSERT_TRUE(RunUntilSent(1));
    EXPECT_EQ(events_, "RS");
    ASSERT_EQ(received_.size(), 1u);
    EXPECT_EQ(received_[0], ReadTwo);
    EXPECT_EQ(sent_[0], ReadTwoAnswer);
    EXPECT_EQ(Output(), ReadTwoAnswer);

    std::lock_guard lock(line_->Mutex);
    // The cycle pause, then a pause after each of 8 bytes and one before
    // the handling.
    EXPECT_GE(line_->FirstReadAt - started, 495ms);
    EXPECT_GE(line_->LastWriteAt - line_->FirstReadAt, 87ms);
}

// A main thread that takes the receive event late still gets it before the
// response goes out.
TEST_F(Channel, ResponseWaitsForAReceiveEventTakenLate) {
    port_.SetPortActive(true);
    port_.StartLooker();
    line_->Receive(ReadTwo);
    ASSERT_TRUE(loop_.WaitForPost(3s));
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(Output().empty());
    ASSERT_TRUE(RunUntilSent(1));
    EXPECT_EQ(events_, "RS");
    EXPECT_EQ(Output(), ReadTwoAnswer);
}

TEST_F(Channel, WaitingBytesAreFetchedTogetherAndFormOneFrame) {
    // Three bytes a read: a step over 16 waiting bytes takes six reads, not
    // one per byte, and the bytes of two requests still form one frame,
    // with or without a pause after each byte.
    SetLine([](FakeLine& line) { line.MaxPerRead = 3; });
    port_.SetPortActive(true);
    port_.StartLooker();
    Bytes twice = ReadTwo;
    twice.insert(twice.end(), ReadTwo.begin(), ReadTwo.end());
    for (const uint16_t delay : {uint16_t{1}, uint16_t{0}}) {
        SCOPED_TRACE(testing::Message() << "ZaderOtveta " << delay);
        port_.ZaderOtveta = delay;
        SetLine([](FakeLine& line) { line.Reads = 0; });
        const size_t before = sent_.size();
        line_->Receive(twice);
        ASSERT_TRUE(RunUntilSent(before + 1));
        EXPECT_EQ(received_.back(), twice);
        EXPECT_EQ(sent_.back(), Bytes()); // a bad CRC gets no answer
        std::lock_guard lock(line_->Mutex);
        EXPECT_EQ(line_->Reads, 6);
        EXPECT_TRUE(line_->Input.empty());
    }
    line_->Receive(ReadTwo);
    ASSERT_TRUE(RunUntilSent(3));
    EXPECT_EQ(received_.back(), ReadTwo);
    EXPECT_EQ(sent_.back(), ReadTwoAnswer);
}

TEST_F(Channel, WaitingRequestIsSentInFullOnceTheQueueDrains) {
    SetLine([](FakeLine& line) { line.OutQueue = 4096; });
    port_.SetPortActive(true);
    port_.StartLooker();
    line_->Receive(ReadTwo);
    ASSERT_TRUE(loop_.RunUntil([&] { return events_ == "R"; }, 3s));
    loop_.RunFor(150ms);
    EXPECT_EQ(events_, "R");
    EXPECT_TRUE(Output().empty());

    SetLine([](FakeLine& line) { line.OutQueue = 0; });
    ASSERT_TRUE(RunUntilSent(1));
    EXPECT_EQ(events_, "RS");
    EXPECT_EQ(Output(), ReadTwoAnswer);
}

TEST_F(Channel, RequestCaughtByTheWaitGetsOneMoreSendStep) {
    SetLine([](FakeLine& line) { line.OutQueue = 4096; });
    port_.SetPortActive(true);
    port_.StartLooker();
    ASSERT_TRUE(line_->WaitFor([](FakeLine& line) { return line.Waiting; }, 3s));
    line_->Receive(ReadTwo);
    ASSERT_TRUE(RunUntilSent(1));
    EXPECT_EQ(events_, "RS");
    EXPECT_TRUE(Output().empty());
    port_.StopLooker();
    EXPECT_TRUE(port_.PeredPending);
    EXPECT_EQ(port_.ArrPered, Reversed(ReadTwoAnswer));
}

// On a shared line an answer that goes out after the master moved on
// collides with another slave's: a new frame, even one for another address
// or with a bad CRC, drops what is left of the last response.
TEST_F(Channel, NewFrameDropsTheUnsentTailOfAnEarlierResponse) {
    port_.ZaderOtveta = 20;
    SetLine([](FakeLine& line) { line.MaxPerWrite = 3; });
    port_.SetPortActive(true);
    port_.StartLooker();
    Request(ReadTwo); // two send steps of three bytes: three are left
    const Bytes head(ReadTwoAnswer.begin(), ReadTwoAnswer.begin() + 6);
    EXPECT_EQ(Output(), head);

    SetLine([](FakeLine& line) { line.MaxPerWrite = 1000; });
    Request(WithCrc({0x02, 0x03, 0x00, 0x00, 0x00, 0x02}));
    Bytes badCrc = ReadTwo;
    badCrc.back() ^= 0x01;
    Request(badCrc);
    EXPECT_EQ(Output(), head);

    Request(ReadTwo);
    Bytes expected = head;
    expected.insert(expected.end(), ReadTwoAnswer.begin(), ReadTwoAnswer.end());
    EXPECT_EQ(Output(), expected);
    EXPECT_EQ(events_, "RSRSRSRS");
}

// An open from the window wakes the thread and waits for the channel; a wake
// that came just before the thread started its event wait must not be lost,
// or the window would hang until a byte arrives.
TEST_F(Channel, OpenJustBeforeTheThreadWaitsDoesNotHang) {
    port_.SetPortActive(true);
    // Shared with the hook, which the thread may run after this test body.
    struct Gate {
        std::atomic<bool> Armed{true};
        std::atomic<bool> Entered{false};
        int WakesBefore = 0;
    };
    auto gate = std::make_shared<Gate>();
    {
        std::lock_guard lock(line_->Mutex);
        gate->WakesBefore = line_->Wakes;
    }
    line_->BeforeWaitEvent = [gate, line = line_.get()] {
        if (!gate->Armed.exchange(false)) {
            return;
        }
        gate->Entered = true;
        line->WaitFor([&](FakeLine& l) { return l.Wakes > gate->WakesBefore; }, 3s);
    };
    port_.StartLooker();
    ASSERT_TRUE(WaitUntil(gate->Entered, 3s));

    std::atomic<bool> opened{false};
    std::thread window([&] {
        port_.SetPortActive(true);
        opened = true;
    });
    const bool openedInTime = WaitUntil(opened, 10s);
    if (!openedInTime) {
        line_->Receive(ReadTwo); // release the hung open
    }
    window.join();
    ASSERT_TRUE(openedInTime);
    EXPECT_TRUE(port_.PortOpen);

    line_->Receive(ReadTwo);
    ASSERT_TRUE(RunUntilSent(1));
    EXPECT_EQ(Output(), ReadTwoAnswer);
}

TEST_F(Channel, FailingWritesAreRetriedForAboutASecond) {
    SetLine([](FakeLine& line) { line.FailingWrites = 2; });
    port_.SetPortActive(true);
    port_.StartLooker();
    line_->Receive(ReadTwo);
    ASSERT_TRUE(RunUntilSent(1));
    EXPECT_EQ(Output(), ReadTwoAnswer);

    SetLine([](FakeLine& line) {
        line.FailingWrites = -1;
        line.Output.clear();
    });
    line_->Receive(ReadTwo);
    ASSERT_TRUE(loop_.RunUntil([&] { return received_.size() == 2; }, 3s));
    const auto received = Clock::now();
    ASSERT_TRUE(RunUntilSent(2));
    EXPECT_GE(Clock::now() - received, 950ms);
    EXPECT_TRUE(Output().empty());
    port_.StopLooker();
    EXPECT_TRUE(port_.PeredPending);
    EXPECT_EQ(port_.ArrPered, Reversed(ReadTwoAnswer));
}

TEST_F(Channel, OversizedStepIsDroppedAndTheCapRestartsCollection) {
    port_.SetPortActive(true);
    port_.StartLooker();
    line_->Receive(Bytes(1500, 0x01));
    // The step has ended once the thread waits for the line again.
    ASSERT_TRUE(
        line_->WaitFor([](FakeLine& line) { return line.Input.empty() && line.Waiting; }, 3s));
    line_->Receive(ReadTwo);
    ASSERT_TRUE(RunUntilSent(1));
    EXPECT_EQ(events_, "RS");
    EXPECT_EQ(received_[0], ReadTwo);

    // At SizeBufIn bytes the step starts afresh: only the request after
    // them remains.
    Bytes burst(4096 + ReadTwo.size(), 0x01);
    std::copy(ReadTwo.begin(), ReadTwo.end(), burst.end() - 8);
    line_->Receive(burst);
    ASSERT_TRUE(RunUntilSent(2));
    EXPECT_EQ(events_, "RSRS");
    EXPECT_EQ(received_[1], ReadTwo);
    EXPECT_EQ(sent_[1], ReadTwoAnswer);
}

TEST_F(Channel, StopWhileHandOverPendingDropsItAndReopenWorks) {
    port_.SetPortActive(true);
    port_.StartLooker();
    line_->Receive(ReadTwo);
    ASSERT_TRUE(loop_.WaitForPost(3s));
    const auto oldLooker = port_.Looker;
    port_.StopLooker();
    int callsAfterStop = 0;
    {
        std::lock_guard lock(line_->Mutex);
        callsAfterStop = line_->Calls;
    }

    // New settings and a new thread before the old hand-over ran.
    port_.StrPort = "COM3:19200,E,8,1";
    port_.SetPortActive(true);
    ASSERT_TRUE(port_.PortOpen);
    int callsAfterReopen = 0;
    {
        std::lock_guard lock(line_->Mutex);
        callsAfterReopen = line_->Calls;
        EXPECT_EQ(line_->OpenedName, "COM3");
        EXPECT_EQ(line_->Mode.BaudRate, 19200u);
    }
    EXPECT_GT(callsAfterReopen, callsAfterStop);
    EXPECT_TRUE(oldLooker->WaitUntilFinished(2s));
    loop_.RunPending();
    EXPECT_EQ(events_, "");
    {
        std::lock_guard lock(line_->Mutex);
        EXPECT_EQ(line_->Calls, callsAfterReopen); // the stopped thread left the device alone
    }

    port_.StartLooker();
    line_->Receive(ReadTwo);
    ASSERT_TRUE(RunUntilSent(1));
    EXPECT_EQ(events_, "RS");
}

TEST_F(Channel, StopEndsABlockedWaitAtOnce) {
    port_.SetPortActive(true);
    port_.StartLooker();
    ASSERT_TRUE(line_->WaitFor([](FakeLine& line) { return line.Waiting; }, 3s));
    port_.StopLooker(); // returns although the thread still blocks in the wait
    EXPECT_TRUE(port_.Looker->WaitUntilFinished(10s));
    line_->Receive(ReadTwo);
    loop_.RunFor(700ms);
    EXPECT_EQ(events_, "");
}

// A device that is gone is closed by the receive thread and tried again until
// it is back; a wait that fails for another reason never closes it.
TEST_F(Channel, DeviceThatIsGoneIsClosedAndReopenedWhenItIsBack) {
    std::string changes;
    port_.OnPortOpenChange = [&](TInOutPort& port) {
        changes += port.PortOpen ? "open " : "closed ";
    };
    port_.ReopenInterval = 300ms;
    port_.ZaderOtveta = 10;
    port_.StrPort = "COM3:19200,E,8,1";
    port_.SetPortActive(true);
    ASSERT_TRUE(port_.PortOpen);
    port_.StartLooker();

    SetLine([](FakeLine& line) {
        line.FailWaits = true;
        line.FailedWaits = 0;
    });
    ASSERT_TRUE(line_->WaitFor([](FakeLine& line) { return line.FailedWaits >= 3; }, 10s));
    EXPECT_TRUE(port_.PortOpen);
    SetLine([](FakeLine& line) {
        EXPECT_EQ(line.Opens, 1);
        line.FailWaits = false;
        line.Unplugged = true;
    });
    ASSERT_TRUE(loop_.RunUntil([&] { return changes == "closed "; }, 10s)) << changes;
    EXPECT_FALSE(port_.PortOpen);
    // Tried again, and failed, meanwhile.
    ASSERT_TRUE(line_->WaitFor([](FakeLine& line) { return line.Opens >= 2; }, 10s));
    SetLine([](FakeLine& line) { line.Unplugged = false; });
    ASSERT_TRUE(loop_.RunUntil([&] { return changes == "closed open "; }, 10s)) << changes;
    EXPECT_TRUE(port_.PortOpen);
    EXPECT_EQ(line_->OpenedName, "COM3");
    EXPECT_EQ(line_->Mode.BaudRate, 19200u);
    ASSERT_NO_FATAL_FAILURE(Request(ReadTwo));
    EXPECT_EQ(sent_.back(), ReadTwoAnswer);

    // A stopped thread never opens the port again.
    SetLine([](FakeLine& line) { line.Unplugged = true; });
    ASSERT_TRUE(loop_.RunUntil([&] { return !port_.PortOpen; }, 10s));
    port_.StopLooker();
    SetLine([](FakeLine& line) { line.Unplugged = false; });
    ASSERT_TRUE(port_.Looker->WaitUntilFinished(10s));
    EXPECT_FALSE(port_.PortOpen);
    SetLine([](FakeLine& line) { EXPECT_FALSE(line.Open) << "opened after the stop"; });
}

TEST(ChannelLifetime, FreeingThePortWhileAHandOverIsPending) {
    MainThreadQueue loop;
    auto line = std::make_shared<FakeLine>();
    std::atomic<int> events{0};
    std::shared_ptr<TLooker> looker;
    for (const bool stopFirst : {true, false}) {
        auto port = std::make_unique<TInOutPort>();
        port->DeviceFactory = [line] { return std::make_unique<FakeCommDevice>(line); };
        port->PostToMainThread = loop.Poster();
        port->OnPriemDataReady = [&](TInOutPort&) { ++events; };
        port->SetPortActive(true);
        port->StartLooker();
        line->Receive(ReadTwo);
        ASSERT_TRUE(loop.WaitForPost(3s));
        looker = port->Looker;
        if (stopFirst) {
            port->StopLooker();
            port->SetPortActive(false);
        }
        port.reset();
        loop.RunPending();
        EXPECT_TRUE(looker->WaitUntilFinished(2s));
        EXPECT_FALSE(line->Open);
    }
    EXPECT_EQ(events.load(), 0);
}

TEST(ChannelDirect, WithoutAPosterEventsRunOnTheReceiveThread) {
    auto line = std::make_shared<FakeLine>();
    std::mutex mutex;
    std::condition_variable done;
    std::vector<std::thread::id> threads;
    TInOutPort port;
    port.DeviceFactory = [line] { return std::make_unique<FakeCommDevice>(line); };
    auto record = [&](TInOutPort&) {
        {
            std::lock_guard lock(mutex);
            threads.push_back(std::this_thread::get_id());
        }
        done.notify_all();
    };
    port.OnPriemDataReady = record;
    port.OnPeredDataReady = record;
    port.SetPortActive(true);
    port.StartLooker();
    line->Receive(ReadTwo);
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(done.wait_for(lock, 3s, [&] { return threads.size() == 2; }));
        EXPECT_NE(threads[0], std::this_thread::get_id());
        EXPECT_EQ(threads[0], threads[1]);
    }
    port.StopLooker();
    std::lock_guard lock(line->Mutex);
    EXPECT_EQ(line->Output, ReadTwoAnswer);
}
