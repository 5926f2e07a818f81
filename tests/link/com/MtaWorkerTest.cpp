// The main thread's wait for a call on the apartment worker: the receive
// thread's hand-overs run the moment their event is set, while the call
// goes on, and the wait does not poll for them.
#include "MtaWorker.h"
#include "ComApartment.h"
#include "HandOverQueue.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace pelmbus::com {
namespace {

// The host's queue, counting how often the wait looks into it.
class CountingHandOvers : public THandOverQueue {
public:
    void RunPending() override {
        ++Looks;
        THandOverQueue::RunPending();
    }
    std::atomic<int> Looks{0};
};

struct Event {
    Event() : Handle(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    ~Event() { CloseHandle(Handle); }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    HANDLE Handle;
};

TEST(MtaWorker, AHandOverRunsDuringTheCallWhenItsEventIsSetAndTheWaitDoesNotPoll) {
    const ComApartment apartment;
    CountingHandOvers handOvers;
    Event posted;
    Event started;
    Event handedOver;
    MtaWorker worker(&handOvers, posted.Handle);

    const DWORD mainThread = GetCurrentThreadId();
    std::atomic<DWORD> ranOn{0};
    // The receive thread hands work over a while after the call started.
    std::thread receiveThread([&] {
        ASSERT_EQ(WaitForSingleObject(started.Handle, 10000), WAIT_OBJECT_0);
        Sleep(300); // the wait is under way meanwhile
        if (handOvers.Post([&] {
                ranOn = GetCurrentThreadId();
                SetEvent(handedOver.Handle);
            })) {
            SetEvent(posted.Handle);
        }
    });
    // The call ends only once the hand-over has run on the main thread.
    const bool finished = worker.Run(
        [&] {
            SetEvent(started.Handle);
            WaitForSingleObject(handedOver.Handle, 10000);
        },
        20000);
    receiveThread.join();

    EXPECT_TRUE(finished);
    EXPECT_EQ(ranOn.load(), mainThread);
    // Once before the wait, once for the hand-over, at most once for a
    // wake-up that found nothing; a poll would look every few milliseconds.
    EXPECT_LE(handOvers.Looks.load(), 3);
}

TEST(MtaWorker, HandOversWithoutTheirEventAreRefused) {
    THandOverQueue handOvers;
    EXPECT_THROW(MtaWorker(&handOvers, nullptr), std::invalid_argument);
}

} // namespace
} // namespace pelmbus::com
