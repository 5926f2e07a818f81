// A CommDevice whose line the test controls: bytes to receive, the output
// queue count it reports, and how writes behave. Thread-safe, because the
// receive thread drives it while the test feeds it.
#pragma once

#include "CommDevice.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pelmbus::testsupport {

struct FakeLine {
    using Clock = std::chrono::steady_clock;

    std::mutex Mutex;
    std::condition_variable Changed;

    // What the channel asked for.
    bool Open = false;
    std::string OpenedName;
    CommMode Mode;
    uint32_t InputQueueSize = 0;
    uint32_t OutputQueueSize = 0;
    uint32_t EventMask = 0;
    CommTimeouts Timeouts;
    int Calls = 0; // every call but Wake
    bool Waiting = false;
    int Wakes = 0;
    Clock::time_point FirstReadAt{};

    // What the test sets.
    bool FailOpen = false;
    bool FailState = false;
    bool FailMask = false;
    // Every wait fails: as a line error would, or because the device is
    // gone (pulled out: an open fails too while it lasts).
    bool FailWaits = false;
    bool Unplugged = false;
    int FailedWaits = 0;
    int Opens = 0;
    std::deque<uint8_t> Input;
    uint32_t OutQueue = 0;
    uint32_t MaxPerWrite = std::numeric_limits<uint32_t>::max();
    uint32_t MaxPerRead = std::numeric_limits<uint32_t>::max();
    bool WritesPending = false; // Write reports Pending, WaitWrite completes
    int FailingWrites = 0;      // the next writes fail; negative: all of them
    // Runs on the receive thread as each event wait starts, before the
    // device looks at anything; set before the thread starts.
    std::function<void()> BeforeWaitEvent;

    int Reads = 0; // ReadByte and ReadBytes calls

    // What went out, and when the last write did.
    std::vector<uint8_t> Output;
    int Writes = 0;
    Clock::time_point LastWriteAt{};

    void Receive(const std::vector<uint8_t>& bytes) {
        {
            std::lock_guard lock(Mutex);
            Input.insert(Input.end(), bytes.begin(), bytes.end());
        }
        Changed.notify_all();
    }

    template <class Predicate> bool WaitFor(Predicate done, std::chrono::milliseconds timeout) {
        std::unique_lock lock(Mutex);
        return Changed.wait_for(lock, timeout, [&] { return done(*this); });
    }

private:
    friend class FakeCommDevice;
    bool WakePending = false;
    uint32_t PendingCount = 0;
};

class FakeCommDevice final : public CommDevice {
public:
    explicit FakeCommDevice(std::shared_ptr<FakeLine> line) : line_(std::move(line)) {}

    bool Open(const std::string& name) override {
        auto lock = Touch();
        ++line_->Opens;
        line_->Open = !line_->FailOpen && !line_->Unplugged && !name.empty();
        line_->OpenedName = name;
        return line_->Open;
    }
    bool IsOpen() const override {
        std::lock_guard lock(line_->Mutex);
        return line_->Open;
    }
    void Close() override {
        auto lock = Touch();
        line_->Open = false;
    }
    bool Gone() const override {
        std::lock_guard lock(line_->Mutex);
        return line_->Open && line_->Unplugged;
    }
    bool SetQueueSizes(uint32_t input, uint32_t output) override {
        auto lock = Touch();
        line_->InputQueueSize = input;
        line_->OutputQueueSize = output;
        return line_->Open;
    }
    bool SetState(const CommMode& mode) override {
        auto lock = Touch();
        line_->Mode = mode;
        return line_->Open && !line_->FailState;
    }
    bool SetEventMask(uint32_t mask) override {
        auto lock = Touch();
        line_->EventMask = mask;
        return line_->Open && !line_->FailMask;
    }
    bool SetTimeouts(const CommTimeouts& timeouts) override {
        auto lock = Touch();
        line_->Timeouts = timeouts;
        return line_->Open;
    }
    CommWait WaitEvent(uint32_t& mask) override {
        if (line_->BeforeWaitEvent) {
            line_->BeforeWaitEvent();
        }
        auto lock = Touch();
        mask = 0;
        line_->WakePending = false;
        if (!line_->Open || line_->EventMask != EvRxChar || line_->FailWaits || line_->Unplugged) {
            ++line_->FailedWaits;
            return CommWait::Failed;
        }
        if (!line_->Input.empty()) {
            mask = EvRxChar;
            return CommWait::Completed;
        }
        return CommWait::Pending;
    }
    bool WaitEventResult(uint32_t& mask) override {
        auto lock = Touch();
        line_->Waiting = true;
        line_->Changed.notify_all();
        line_->Changed.wait(lock, [&] { return line_->WakePending || !line_->Input.empty(); });
        line_->Waiting = false;
        mask = line_->WakePending ? 0 : EvRxChar;
        return !line_->WakePending;
    }
    void Wake() override {
        {
            std::lock_guard lock(line_->Mutex);
            line_->WakePending = true;
            ++line_->Wakes;
        }
        line_->Changed.notify_all();
    }
    bool ClearErrors(CommStatus& status) override {
        auto lock = Touch();
        status.InQueue = static_cast<uint32_t>(line_->Input.size());
        status.OutQueue = line_->OutQueue;
        return line_->Open;
    }
    CommIo ReadBytes(uint8_t* bytes, uint32_t count, uint32_t& read) override {
        auto lock = Touch();
        ++line_->Reads;
        read = 0;
        if (!line_->Open) {
            return CommIo::Failed;
        }
        while (read < std::min(count, line_->MaxPerRead) && !line_->Input.empty()) {
            if (line_->FirstReadAt == FakeLine::Clock::time_point{}) {
                line_->FirstReadAt = FakeLine::Clock::now();
            }
            bytes[read++] = line_->Input.front();
            line_->Input.pop_front();
        }
        return CommIo::Done;
    }
    CommIo ReadByte(uint8_t& byte) override {
        auto lock = Touch();
        ++line_->Reads;
        if (line_->Input.empty()) {
            return CommIo::Pending;
        }
        if (line_->FirstReadAt == FakeLine::Clock::time_point{}) {
            line_->FirstReadAt = FakeLine::Clock::now();
        }
        byte = line_->Input.front();
        line_->Input.pop_front();
        return CommIo::Done;
    }
    CommIo Write(const uint8_t* bytes, uint32_t count, uint32_t& written) override {
        auto lock = Touch();
        written = 0;
        ++line_->Writes;
        if (line_->FailingWrites != 0) {
            if (line_->FailingWrites > 0) {
                --line_->FailingWrites;
            }
            return CommIo::Failed;
        }
        const uint32_t n = std::min(count, line_->MaxPerWrite);
        line_->Output.insert(line_->Output.end(), bytes, bytes + n);
        line_->LastWriteAt = FakeLine::Clock::now();
        line_->Changed.notify_all();
        if (line_->WritesPending) {
            line_->PendingCount = n;
            return CommIo::Pending;
        }
        written = n;
        return CommIo::Done;
    }
    bool WaitWrite(uint32_t& written) override {
        auto lock = Touch();
        written = line_->PendingCount;
        line_->PendingCount = 0;
        return true;
    }

private:
    // Every call wakes the test's waits, for what it changes may be what
    // they wait for; they look once the call has made its change and let go.
    std::unique_lock<std::mutex> Touch() const {
        std::unique_lock lock(line_->Mutex);
        ++line_->Calls;
        line_->Changed.notify_all();
        return lock;
    }

    std::shared_ptr<FakeLine> line_;
};

} // namespace pelmbus::testsupport
