// The serial channel of TInOutPort: opening and closing the device named by
// StrPort, one receive step, and the send steps of a response.
#include "InOutPort.h"

#include <algorithm>
#include <thread>

namespace pelmbus {
namespace {

// Character of the device's flag event; the channel never waits for it.
constexpr uint8_t EventCharacter = 0x13;

} // namespace

std::unique_lock<std::mutex> TInOutPort::LockChannel() {
    // The receive thread already holds the lock while it runs an event on
    // itself; an event handler that reopens the port must not lock twice.
    if (const TLooker* current = TLooker::Current(); current != nullptr && current->Port == this) {
        return {};
    }
    // A thread blocked in the event wait holds the lock: wake it first. The
    // request stays up until the lock is taken, for a Wake() that came before
    // the thread started its wait is forgotten by that wait.
    ++ChannelSync->WakeRequests;
    if (Device) {
        Device->Wake();
    }
    std::unique_lock lock(ChannelSync->Mutex);
    --ChannelSync->WakeRequests;
    return lock;
}

void TInOutPort::SetPortActive(bool active) {
    auto lock = LockChannel();
    if (active) {
        PortOpen = OpenPortLocked();
    } else {
        if (Device) {
            Device->Close();
        }
        PortOpen = false;
    }
}

bool TInOutPort::OpenPort() {
    auto lock = LockChannel();
    return OpenPortLocked();
}

bool TInOutPort::OpenPortLocked() {
    const size_t colon = StrPort.find(':');
    const std::string name = colon == std::string::npos ? std::string() : StrPort.substr(0, colon);
    const std::string mode = colon == std::string::npos ? std::string() : StrPort.substr(colon + 1);

    // The system's text is taken right after the call that failed, before
    // another call replaces it.
    OpenFailure.clear();
    const auto fail = [this](std::string why) {
        OpenFailure = std::move(why);
        return false;
    };
    if (!Device && DeviceFactory) {
        Device = DeviceFactory();
    }
    if (!Device) {
        return fail("нет последовательного порта");
    }
    if (Device->IsOpen()) {
        Device->Close();
    }
    // From here on a failure keeps the device open until the next open or
    // close, so that nobody else takes the line in between.
    if (!Device->Open(name)) {
        return fail(LastSystemErrorText());
    }
    CommMode settings = Dcb;
    if (!ParseCommMode(mode, settings)) {
        return fail("неверный режим порта \"" + mode + "\"");
    }
    Dcb = settings;
    Dcb.EvtChar = EventCharacter;
    if (!Device->SetQueueSizes(SizeBufIn, SizeBufOut) || !Device->SetState(Dcb)) {
        return fail(LastSystemErrorText());
    }
    LenIn = 0;
    if (!Device->SetEventMask(EvRxChar) || !SetTimeoutsLocked()) {
        return fail(LastSystemErrorText());
    }
    return true;
}

bool TInOutPort::SetTimeouts() {
    auto lock = LockChannel();
    return SetTimeoutsLocked();
}

bool TInOutPort::SetTimeoutsLocked() {
    Timeouts = CommTimeouts{};
    Timeouts.ReadIntervalTimeout = 4;
    Timeouts.ReadTotalTimeoutMultiplier = 0;
    Timeouts.ReadTotalTimeoutConstant = 0;
    Timeouts.WriteTotalTimeoutMultiplier = 1;
    Timeouts.WriteTotalTimeoutConstant = 1;
    return Device && Device->SetTimeouts(Timeouts);
}

void TInOutPort::StartLooker() {
    // Two receive threads on one port would steal each other's bytes.
    if (Looker && !Looker->Stopped()) {
        StopLooker();
    }
    Looker = std::make_shared<TLooker>(this, ChannelSync);
    Looker->Start();
}

void TInOutPort::StopLooker() {
    if (!Looker) {
        return;
    }
    Looker->Stop();
    if (TLooker::Current() == Looker.get()) {
        return; // an event handler on the receive thread: it ends when it returns
    }
    if (Device) {
        Device->Wake();
    }
    // The thread holds the lock only while it touches the port, never while
    // it waits for this thread, and every wait inside that work ends on
    // Stop or Wake: this returns at once, and from here on the stopped
    // thread sees its mark before it could touch the port again.
    std::lock_guard settled(ChannelSync->Mutex);
}

void TInOutPort::CloseChannel() {
    StopLooker();
    auto lock = LockChannel();
    if (Device) {
        Device->Close();
    }
    PortOpen = false;
}

void TInOutPort::CloseLostDevice() {
    if (Device) {
        Device->Close();
    }
    PortOpen = false;
}

bool TInOutPort::ReopenPortLocked() {
    PortOpen = OpenPortLocked();
    return PortOpen;
}

void TInOutPort::ClearCommErrors() {
    if (!Device || !Device->ClearErrors(ComStat)) {
        ComStat = CommStatus{};
    }
}

bool TInOutPort::ChannelPause(uint32_t milliseconds) {
    if (TLooker* looker = TLooker::Current()) {
        return looker->ResponseDelay(std::chrono::milliseconds(milliseconds));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return true;
}

bool TInOutPort::ReceiveFrame() {
    if (!PortOpen) {
        return false;
    }
    LenIn = ReadPortBytes();
    if (LenIn <= 7) {
        if (LenIn > 0) {
            Counters.CountWrongLength();
        }
        return false;
    }
    // Only this request's response may go out: the unsent tail of an earlier
    // one would collide with another slave's answer on a shared line.
    ArrPered.clear();
    PeredPending = false;
    return true;
}

int32_t TInOutPort::ReadPortBytes() {
    // The bytes are taken byte by byte with the response delay after each,
    // and the step ends when the queue is still empty after the pause that
    // follows a byte. The bytes that are already waiting are fetched in one
    // read: while some of them are left, the queue is known not to be empty,
    // so it is asked again only after the pause of the last of them.
    std::array<uint8_t, 256> waiting;
    ClearCommErrors();
    while (ComStat.InQueue > 0) {
        uint32_t count = 0;
        const CommIo read = Device->ReadBytes(
            waiting.data(), std::min<uint32_t>(ComStat.InQueue, waiting.size()), count);
        if (read == CommIo::Failed) {
            break; // a broken device would report its queue for ever
        }
        bool stopped = false;
        // A read that brought nothing still takes one step with its pause.
        for (uint32_t i = 0; i < std::max<uint32_t>(count, 1) && !stopped; ++i) {
            if (i < count) {
                ArrPriem.push_back(waiting[i]);
                if (ArrPriem.size() >= SizeBufIn) {
                    ArrPriem.clear();
                }
            }
            stopped = ZaderOtveta > 0 && !ChannelPause(ZaderOtveta);
        }
        if (stopped) {
            break; // the thread leaves without an event
        }
        ClearCommErrors();
    }
    if (ArrPriem.empty()) {
        return 0;
    }
    // More than BufIn holds cannot be a request (the longest is 209 bytes).
    if (ArrPriem.size() > static_cast<size_t>(BlockSize)) {
        ArrPriem.clear();
        Counters.CountWrongLength();
        return 0;
    }
    const auto count = static_cast<int32_t>(ArrPriem.size());
    std::copy(ArrPriem.begin(), ArrPriem.end(), BufIn.begin());
    ArrPriem.clear();
    return count;
}

void TInOutPort::SendFrame(const uint8_t* frame, int32_t length) {
    // Until a port is open the response simply stays in BufOut/LenOut.
    if (!PortOpen) {
        return;
    }
    length = frame == nullptr ? 0 : std::clamp(length, 0, BlockSize);
    // Last byte first: the unsent tail is always the front of the array.
    ArrPered.assign(std::reverse_iterator(frame + length), std::reverse_iterator(frame));
    WritePort();
    PeredPending = !ArrPered.empty();
}

void TInOutPort::WritePort() {
    LastWrite = TWriteOutcome::Written;
    if (ArrPered.empty()) {
        return;
    }
    // The unsent bytes in frame order, first unsent byte first.
    const size_t unsent = ArrPered.size();
    const size_t count = std::min(unsent, static_cast<size_t>(BlockSize));
    std::array<uint8_t, BlockSize> staging;
    std::copy_n(ArrPered.rbegin(), count, staging.begin());

    ClearCommErrors();
    if (ComStat.OutQueue >= SizeBufOut) {
        LastWrite = TWriteOutcome::QueueFull;
        return;
    }
    uint32_t written = 0;
    bool ok = false;
    if (Device) {
        switch (Device->Write(staging.data(), static_cast<uint32_t>(count), written)) {
        case CommIo::Done:
            ok = true;
            break;
        case CommIo::Pending:
            ok = Device->WaitWrite(written);
            break;
        case CommIo::Failed:
            written = 0;
            break;
        }
    }
    // Bytes that went out are never sent twice, even when the write failed
    // after them.
    ArrPered.resize(unsent - std::min<size_t>(written, count));
    LastWrite = ok ? TWriteOutcome::Written : TWriteOutcome::Failed;
}

void TInOutPort::ResendTail() {
    if (!PortOpen) {
        return;
    }
    WritePort();
    PeredPending = !ArrPered.empty();
}

} // namespace pelmbus
