#include "MtaWorker.h"

#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <system_error>

namespace pelmbus::com {

namespace {

HANDLE NewAutoResetEvent() {
    const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (event == nullptr) {
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "CreateEvent");
    }
    return event;
}

} // namespace

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

MtaWorker::MtaWorker(MainThreadHandOvers* handOvers, HANDLE handOverPosted)
    : handOvers_(handOvers), handOverPosted_(handOverPosted), state_(std::make_shared<State>()) {
    if (handOvers_ != nullptr && handOverPosted_ == nullptr) {
        // Without their event they would wait for the end of each call.
        throw std::invalid_argument("hand-overs need their event");
    }
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
    const bool finished = WaitServingApartment(
        state->JobDone, [&] { return state->LastFinished.load() >= number; }, timeoutMs, handOvers_,
        handOverPosted_);
    if (!finished) {
        lastAbandoned_ = number;
    }
    return finished;
}

bool MtaWorker::Stuck() const {
    return state_->LastFinished.load() < lastAbandoned_;
}

void MtaWorker::Post(Job job) {
    Queue(std::move(job));
}

bool WaitServingApartment(HANDLE signal, const std::function<bool()>& finished, int32_t timeoutMs,
                          MainThreadHandOvers* handOvers, HANDLE handOverPosted) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(std::max(0, timeoutMs));
    HANDLE handles[] = {signal, handOverPosted};
    const DWORD count = handOvers != nullptr && handOverPosted != nullptr ? 2 : 1;
    while (!finished()) {
        if (handOvers != nullptr) {
            handOvers->RunPending();
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            return finished();
        }
        const auto left = static_cast<DWORD>(deadline - now);
        DWORD index = 0;
        // Serves the apartment meanwhile: COM's own calls and the
        // application's events (which only post messages) get through.
        const HRESULT hr = CoWaitForMultipleHandles(0, left, count, handles, &index);
        if (FAILED(hr) && hr != RPC_S_CALLPENDING) {
            // Not in an apartment: a plain wait.
            WaitForMultipleObjects(count, handles, FALSE, left);
        }
    }
    return true;
}

} // namespace pelmbus::com
