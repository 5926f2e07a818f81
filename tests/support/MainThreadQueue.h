// A stand-in for the window's message loop: the receive thread posts its
// event calls here and the test's own thread runs them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace pelmbus::testsupport {

class MainThreadQueue {
public:
    // What TInOutPort::PostToMainThread is set to.
    std::function<void(std::function<void()>)> Poster() {
        return [this](std::function<void()> work) { Post(std::move(work)); };
    }

    void Post(std::function<void()> work) {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(work));
        }
        posted_.notify_all();
    }

    // Runs posted work on the calling thread until `done` holds or the time
    // is up; returns `done()`.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            std::function<void()> work;
            {
                std::unique_lock lock(mutex_);
                if (!posted_.wait_until(lock, deadline, [this] { return !queue_.empty(); })) {
                    return done();
                }
                work = std::move(queue_.front());
                queue_.pop_front();
            }
            work();
        }
        return true;
    }

    // Runs posted work for the whole duration.
    void RunFor(std::chrono::milliseconds duration) {
        RunUntil([] { return false; }, duration);
    }

    // Waits until something is posted, without running it.
    bool WaitForPost(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return posted_.wait_for(lock, timeout, [this] { return !queue_.empty(); });
    }

    // Runs what is queued now.
    void RunPending() {
        std::deque<std::function<void()>> work;
        {
            std::lock_guard lock(mutex_);
            work.swap(queue_);
        }
        for (auto& item : work) {
            item();
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> queue_;
};

} // namespace pelmbus::testsupport
