#include "MtaWorker.h"

#include <objbase.h>

#include <algorithm>
#include <system_error>

namespace pelmbus::com {

namespace {

HANDLE HandOverWake = nullptr;
std::function<void()> HandOverRun;

} // namespace

void SetWaitHandOvers(HANDLE wake, std::function<void()> run) {
    HandOverWake = run ? wake : nullptr;
    HandOverRun = std::move(run);
}

struct MtaWorker::Task {
    explicit Task(Job work)
        : Work(std::move(work)), Done(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Task() {
        if (Done != nullptr) {
            CloseHandle(Done);
        }
    }
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;

    Job Work;
    HANDLE Done;
};

struct MtaWorker::State {
    std::mutex Mutex;
    std::condition_variable Wakeup;
    std::deque<std::shared_ptr<Task>> Tasks;
    bool Busy = false;
    bool Quit = false;
};

MtaWorker::MtaWorker() : state_(std::make_shared<State>()) {
    thread_ = std::thread(&MtaWorker::Loop, state_);
}

MtaWorker::~MtaWorker() {
    bool idle = false;
    {
        std::lock_guard lock(state_->Mutex);
        state_->Quit = true;
        idle = !state_->Busy && state_->Tasks.empty();
    }
    state_->Wakeup.notify_all();
    if (idle) {
        thread_.join();
    } else {
        thread_.detach(); // it ends after its last job, whenever that returns
    }
}

void MtaWorker::Loop(std::shared_ptr<State> state) {
    const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    while (true) {
        std::shared_ptr<Task> task;
        {
            std::unique_lock lock(state->Mutex);
            state->Busy = false;
            state->Wakeup.wait(lock, [&] { return state->Quit || !state->Tasks.empty(); });
            if (state->Tasks.empty()) {
                break;
            }
            task = std::move(state->Tasks.front());
            state->Tasks.pop_front();
            state->Busy = true;
        }
        try {
            task->Work();
        } catch (...) {
            // A job reports through what it captured; nothing escapes the thread.
        }
        task->Work = nullptr; // its references go on this thread
        SetEvent(task->Done);
    }
    if (SUCCEEDED(init)) {
        CoUninitialize();
    }
}

std::shared_ptr<MtaWorker::Task> MtaWorker::Queue(Job job) {
    auto task = std::make_shared<Task>(std::move(job));
    if (task->Done == nullptr) {
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "CreateEvent");
    }
    {
        std::lock_guard lock(state_->Mutex);
        state_->Tasks.push_back(task);
    }
    state_->Wakeup.notify_one();
    return task;
}

bool MtaWorker::Run(Job job, int32_t timeoutMs) {
    const std::shared_ptr<Task> task = Queue(std::move(job));
    return WaitServingApartment(task->Done, timeoutMs);
}

void MtaWorker::Post(Job job) {
    Queue(std::move(job));
}

bool WaitServingApartment(HANDLE done, int32_t timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(std::max(0, timeoutMs));
    while (true) {
        HANDLE handles[2] = {done, HandOverWake};
        const DWORD count = HandOverWake != nullptr ? 2 : 1;
        const ULONGLONG now = GetTickCount64();
        const DWORD remaining = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        DWORD index = 0;
        const HRESULT hr = CoWaitForMultipleHandles(0, remaining, count, handles, &index);
        if (hr == RPC_S_CALLPENDING) {
            return false; // timed out
        }
        if (FAILED(hr)) {
            // Not in an apartment: a plain wait, without hand-overs.
            return WaitForSingleObject(done, remaining) == WAIT_OBJECT_0;
        }
        if (index == 0) {
            return true;
        }
        HandOverRun();
    }
}

} // namespace pelmbus::com
