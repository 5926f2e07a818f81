#include "MtaWorker.h"

#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <system_error>

namespace pelmbus::com {

namespace {

HANDLE HandOverWake = nullptr;
std::function<void()> HandOverRun;

HANDLE NewAutoResetEvent() {
    const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (event == nullptr) {
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "CreateEvent");
    }
    return event;
}

} // namespace

void SetWaitHandOvers(HANDLE wake, std::function<void()> run) {
    HandOverWake = run ? wake : nullptr;
    HandOverRun = std::move(run);
}

// Jobs are numbered in order; the worker publishes the number of the last
// one it finished. Two auto-reset events carry the wake-ups, so a call
// costs few kernel transitions (under Wine each one is a server round trip).
struct MtaWorker::State {
    State() : WorkReady(NewAutoResetEvent()), JobDone(NewAutoResetEvent()) {}
    ~State() {
        CloseHandle(WorkReady);
        CloseHandle(JobDone);
    }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    std::mutex Mutex;
    std::deque<std::pair<uint64_t, Job>> Jobs;
    uint64_t LastQueued = 0;
    bool Busy = false;
    bool Quit = false;
    std::atomic<uint64_t> LastFinished{0};
    HANDLE WorkReady;
    HANDLE JobDone;
};

MtaWorker::MtaWorker() : state_(std::make_shared<State>()) {
    thread_ = std::thread(&MtaWorker::Loop, state_);
}

MtaWorker::~MtaWorker() {
    bool idle = false;
    {
        std::lock_guard lock(state_->Mutex);
        state_->Quit = true;
        idle = !state_->Busy && state_->Jobs.empty();
    }
    SetEvent(state_->WorkReady);
    if (idle) {
        thread_.join();
    } else {
        thread_.detach(); // it ends after its last job, whenever that returns
    }
}

void MtaWorker::Loop(std::shared_ptr<State> state) {
    const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    while (true) {
        std::pair<uint64_t, Job> job;
        {
            std::unique_lock lock(state->Mutex);
            if (state->Jobs.empty()) {
                state->Busy = false;
                if (state->Quit) {
                    break;
                }
                lock.unlock();
                WaitForSingleObject(state->WorkReady, INFINITE);
                continue;
            }
            job = std::move(state->Jobs.front());
            state->Jobs.pop_front();
            state->Busy = true;
        }
        try {
            job.second();
        } catch (...) {
            // A job reports through what it captured; nothing escapes the thread.
        }
        job.second = nullptr; // its references go on this thread
        state->LastFinished.store(job.first);
        SetEvent(state->JobDone);
    }
    if (SUCCEEDED(init)) {
        CoUninitialize();
    }
}

uint64_t MtaWorker::Queue(Job job) {
    uint64_t number = 0;
    {
        std::lock_guard lock(state_->Mutex);
        number = ++state_->LastQueued;
        state_->Jobs.emplace_back(number, std::move(job));
    }
    SetEvent(state_->WorkReady);
    return number;
}

bool MtaWorker::Run(Job job, int32_t timeoutMs) {
    const uint64_t number = Queue(std::move(job));
    const std::shared_ptr<State> state = state_;
    return WaitServingApartment(
        state->JobDone, [&] { return state->LastFinished.load() >= number; }, timeoutMs);
}

void MtaWorker::Post(Job job) {
    Queue(std::move(job));
}

bool WaitServingApartment(HANDLE signal, const std::function<bool()>& finished, int32_t timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(std::max(0, timeoutMs));
    while (!finished()) {
        HANDLE handles[2] = {signal, HandOverWake};
        const DWORD count = HandOverWake != nullptr ? 2 : 1;
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            return false;
        }
        const DWORD remaining = static_cast<DWORD>(deadline - now);
        DWORD index = 0;
        const HRESULT hr = CoWaitForMultipleHandles(0, remaining, count, handles, &index);
        if (hr == RPC_S_CALLPENDING) {
            return finished();
        }
        if (FAILED(hr)) {
            // Not in an apartment: a plain wait, without hand-overs.
            WaitForSingleObject(signal, remaining);
        } else if (index == 1) {
            HandOverRun();
        }
    }
    return true;
}

} // namespace pelmbus::com
