// The register images shared by the main thread and the receive thread: a
// master writing while report refreshes and the register inspector run, and
// the slave address changed while requests are answered. Run under
// ThreadSanitizer as well.
#include "ByteOrder.h"
#include "DataKinds.h"
#include "FormFixture.h"
#include "InOutPort.h"
#include "ReportRefresh.h"

#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>
#include <ctime>

#include <atomic>
#include <bit>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

using namespace pelmbus;
using namespace pelmbus::testsupport;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int MasterRegister = 400;
constexpr int Refreshes = 40;

Bytes WithCrc(Bytes frame) {
    const uint16_t crc = TInOutPort::CalcCRC(frame.data(), static_cast<int32_t>(frame.size()));
    frame.push_back(static_cast<uint8_t>(crc));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

// Runs one request through the port's request handling, as the receive
// thread does; returns the response.
Bytes Answer(TInOutPort& port, const Bytes& request) {
    std::copy(request.begin(), request.end(), port.BufIn.begin());
    port.LenIn = static_cast<int32_t>(request.size());
    port.ProcessRequest();
    return Bytes(port.BufOut.begin(), port.BufOut.begin() + port.LenOut);
}

// A Modbus master on its own thread that writes register 400 with function 16
// over and over, each time with a new value.
class Master {
public:
    explicit Master(TInOutPort& port) : port_(port) {
        thread_ = std::thread([this] { Run(); });
    }
    ~Master() { Stop(); }

    void Stop() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    // Blocks until the master has finished one more write than it had now.
    bool WaitForNextWrite() {
        std::unique_lock lock(mutex_);
        const uint64_t target = writes_ + 1;
        return written_.wait_for(lock, 5s, [&] { return writes_ >= target; });
    }
    uint16_t LastValue() {
        std::lock_guard lock(mutex_);
        return last_;
    }
    int WrongAnswers() const { return wrong_; }

private:
    void Run() {
        for (uint16_t value = 1; !stop_; ++value) {
            const Bytes request =
                WithCrc({0x01, 0x10, 0x01, 0x90, 0x00, 0x01, 0x02, static_cast<uint8_t>(value >> 8),
                         static_cast<uint8_t>(value)});
            if (Answer(port_, request) != WithCrc({0x01, 0x10, 0x01, 0x90, 0x00, 0x01})) {
                ++wrong_;
            }
            {
                std::lock_guard lock(mutex_);
                ++writes_;
                last_ = value;
            }
            written_.notify_all();
        }
    }

    TInOutPort& port_;
    std::atomic<bool> stop_{false};
    std::atomic<int> wrong_{0};
    std::mutex mutex_;
    std::condition_variable written_;
    uint64_t writes_ = 0;
    uint16_t last_ = 0;
    std::thread thread_;
};

// What refresh n reports for kind k: a date and time and eleven values that
// no other refresh or kind has.
float Value(int n, int k, int i) {
    return static_cast<float>(n * 1000 + k * 20 + i) + 0.25f;
}
RepTime Time(int n, int k) {
    return {static_cast<uint16_t>(2000 + n),   static_cast<uint16_t>(1 + k),
            static_cast<uint16_t>(1 + n % 28), static_cast<uint16_t>(k),
            static_cast<uint16_t>(n % 60),     static_cast<uint16_t>(7 * n % 60)};
}
int KindOf(const std::string& command) {
    for (int k = 0; k < DataKindCount; ++k) {
        if (DataKinds[k].Command == command) {
            return k;
        }
    }
    return -1;
}
std::string Reply(int n, const std::string& command) {
    const int k = KindOf(command);
    if (k < 0) {
        throw std::runtime_error("unknown command " + command);
    }
    const RepTime t = Time(n, k);
    char header[64];
    std::snprintf(header, sizeof header, "Отчет\r\n%02u.%02u.%04u\r\n%02u:%02u:%02u\r\n", t.Day,
                  t.Month, t.Year, t.Hour, t.Minute, t.Second);
    std::string text = header;
    for (int i = 0; i < 11; ++i) {
        text += std::to_string(Value(n, k, i)) + "\r\n";
    }
    return text;
}

uint16_t Register(const TInOutPort& port, int r) {
    return LoadBigEndian16(&port.BufReg[2 * r]);
}

// Empty when every kind's registers hold refresh n's values and dates, with
// one master and one sample in each average; otherwise the first difference.
std::string DifferenceFromRefresh(TInOutPort& port, int n) {
    std::lock_guard lock(port.ImageMutex);
    const auto differs = [&](int r, uint16_t expected) {
        return Register(port, r) == expected
                   ? std::string()
                   : "register " + std::to_string(r) + " is " + std::to_string(Register(port, r)) +
                         ", refresh " + std::to_string(n) + " put " + std::to_string(expected);
    };
    const auto floatDiffers = [&](int index, float value) {
        const uint32_t bits = std::bit_cast<uint32_t>(value);
        std::string text = differs(2 * index, static_cast<uint16_t>(bits >> 16));
        return text.empty() ? differs(2 * index + 1, static_cast<uint16_t>(bits)) : text;
    };
    const auto timeDiffers = [&](int firstRegister, const RepTime& t) {
        const uint16_t fields[] = {t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second};
        for (int i = 0; i < 6; ++i) {
            if (std::string text = differs(firstRegister + i, fields[i]); !text.empty()) {
                return text;
            }
        }
        return std::string();
    };
    for (int k = 0; k < DataKindCount; ++k) {
        const DataKind& kind = DataKinds[k];
        const RepTime time = kind.Command.empty() ? Time(n, 0) : Time(n, k);
        if (std::string text = timeDiffers(kind.FirstTimeRegister, time); !text.empty()) {
            return text;
        }
        for (int i = 0; i < 11 && !kind.Command.empty(); ++i) {
            if (std::string text = floatDiffers(kind.FirstFloat + i, Value(n, k, i));
                !text.empty()) {
                return text;
            }
        }
    }
    // One sample per period: the sums of floats 7 to 10 are those floats.
    for (int i = 7; i <= 10; ++i) {
        if (std::string text = floatDiffers(11 + i, Value(n, 0, i)); !text.empty()) {
            return text;
        }
    }
    const double flow = static_cast<double>(Value(n, 0, 7)) / Value(n, 0, 10) * 3600.0;
    return floatDiffers(88, static_cast<float>(flow));
}

void UseOneSamplePerAverage(TInOutPort& port) {
    port.UstUsredn = 1;
    port.SetUstUsrednCl(1);
}

} // namespace

// Every call of the application lets the master write once more, so a write
// falls between every two replies of a refresh.
TEST(ImagesUnderThreads, MasterWritesDuringRefreshesNeverBringOldValuesBack) {
    TInOutPort port;
    UseOneSamplePerAverage(port);
    Master master(port);
    int n = 0;
    ReportSources sources;
    sources.DoCommand = [&](const std::string& command) {
        EXPECT_TRUE(master.WaitForNextWrite());
        return Reply(n, command);
    };
    sources.GetTickCount = [&] { return static_cast<uint32_t>(n); };
    uint32_t tick = 0;
    for (n = 1; n <= Refreshes; ++n) {
        ReportRefresh(port, sources, tick);
        ASSERT_EQ(DifferenceFromRefresh(port, n), "");
        ASSERT_EQ(tick, static_cast<uint32_t>(n));
    }
    master.Stop();
    EXPECT_EQ(master.WrongAnswers(), 0);
    EXPECT_EQ(Register(port, MasterRegister), master.LastValue());
    // The write reached the float image too.
    EXPECT_EQ(std::bit_cast<uint32_t>(port.BufFloat[MasterRegister / 2]) >> 16, master.LastValue());
}

namespace {

// The application of the window's refreshes: each refresh gets new replies,
// and each reply lets the master write once more first.
class ChangingReportsLink : public MeteringLink {
public:
    ChangingReportsLink(Master& master, const int& refresh) : master_(master), refresh_(refresh) {}
    void Connect() override { connected_ = true; }
    void Disconnect() override { connected_ = false; }
    bool Connected() const override { return connected_; }
    std::string DoCommand(const std::string& command) override {
        EXPECT_TRUE(master_.WaitForNextWrite());
        return Reply(refresh_, command);
    }

private:
    Master& master_;
    const int& refresh_;
    bool connected_ = true;
};

class ImagesUnderThreadsForm : public FormFixture {};

} // namespace

// The window's refreshes and inspector writes on the main thread, a master on
// another: each keeps what it wrote, and every refresh is whole.
TEST_F(ImagesUnderThreadsForm, InspectorRefreshesAndMasterAtOnce) {
    Create();
    TInOutPort& port = *Form->InOutPort1;
    UseOneSamplePerAverage(port);
    ASSERT_TRUE(Form->PageControl1.UserSelectPage(3));
    Form->SpinButton1.UserClick(TUDBtnType::btPrev); // the last register, beyond the reports
    ASSERT_EQ(Form->Edit4.Text(), "511");

    int n = 0;
    Master master(port);
    Form->AutoPel = std::make_unique<ChangingReportsLink>(master, n);
    for (n = 1; n <= Refreshes; ++n) {
        Form->Edit5.UserKeyPress('0');
        Form->Edit5.UserSetText(std::to_string(n));
        Form->Button3.UserClick();
        Form->RunGuarded([this] { Form->ReportRefresh(); });
        ASSERT_TRUE(Host.Errors.empty()) << Host.Errors.front();
        ASSERT_EQ(DifferenceFromRefresh(port, n), "");
        ASSERT_EQ(Form->Edit5.Text(), std::to_string(n));
    }
    master.Stop();
    EXPECT_EQ(master.WrongAnswers(), 0);
    EXPECT_EQ(Register(port, 511), Refreshes);
    EXPECT_EQ(Register(port, MasterRegister), master.LastValue());
    Form->AutoPel.reset();
}

// The port whose address the timer signal changes.
std::atomic<TInOutPort*> AddressChanged{nullptr};

void ChangeAddress(int) {
    if (TInOutPort* port = AddressChanged) {
        port->SlaveNomer = port->SlaveNomer == 1 ? 2 : 1;
    }
}

// The window may change the address at any instant while the receive thread
// handles a request; a timer signal every 20 us does it here, at arbitrary
// points of the handling, even with a single processor. An answer always
// carries the address its request was accepted with.
TEST(ImagesUnderThreads, AnswersCarryTheAddressTheyWereAcceptedWith) {
    TInOutPort port;
    const Bytes request = WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x02});
    AddressChanged = &port;
    struct sigaction action {};
    action.sa_handler = ChangeAddress;
    ASSERT_EQ(sigaction(SIGUSR2, &action, nullptr), 0);
    sigevent event{};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = SIGUSR2;
    event._sigev_un._tid = static_cast<pid_t>(syscall(SYS_gettid));
    timer_t timer{};
    ASSERT_EQ(timer_create(CLOCK_MONOTONIC, &event, &timer), 0);
    itimerspec interval{};
    interval.it_value.tv_nsec = 20000;
    interval.it_interval.tv_nsec = 20000;
    timer_settime(timer, 0, &interval, nullptr);

    int answered = 0;
    int wrongAddress = 0;
    const auto until = std::chrono::steady_clock::now() + 1500ms;
    while (std::chrono::steady_clock::now() < until && wrongAddress == 0) {
        for (int i = 0; i < 100; ++i) {
            const Bytes answer = Answer(port, request);
            if (!answer.empty()) {
                ++answered;
                wrongAddress += answer[0] != 0x01;
            }
        }
    }
    timer_delete(timer);
    AddressChanged = nullptr; // a signal still pending finds no port
    EXPECT_GT(answered, 0);
    EXPECT_EQ(wrongAddress, 0);
}
