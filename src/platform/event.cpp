#include "platform/event.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace hydrix::platform {

namespace {

// One lock for all events keeps a wait on several events simple and race-free; each
// waiter has its own condition variable so that Set wakes only the threads concerned.
// Set notifies after unlocking, so the woken thread does not block at once on the lock
// the setter still holds; the waiter is shared so that it outlives a notify that races
// with the end of its wait.
std::mutex& EventLock() {
    static std::mutex lock;
    return lock;
}

struct Waiter {
    std::condition_variable cv;
};

}  // namespace

struct Event::Impl {
    bool manualReset;
    bool signalled;
    std::vector<std::shared_ptr<Waiter>> waiters;
};

Event::Event(bool manualReset, bool initiallySet) : impl_(new Impl{manualReset, initiallySet, {}}) {}

Event::~Event() {
    delete impl_;
}

void Event::Set() {
    // Nearly always one waiter at most (a worker thread); more take the slow path.
    std::shared_ptr<Waiter> one;
    std::vector<std::shared_ptr<Waiter>> more;
    {
        std::lock_guard<std::mutex> lock(EventLock());
        impl_->signalled = true;
        if (impl_->waiters.size() == 1) {
            one = impl_->waiters.front();
        } else if (!impl_->waiters.empty()) {
            more = impl_->waiters;
        }
    }
    if (one) {
        one->cv.notify_one();
    }
    for (const auto& w : more) {
        w->cv.notify_one();
    }
}

void Event::Reset() {
    std::lock_guard<std::mutex> lock(EventLock());
    impl_->signalled = false;
}

bool Event::Wait(uint32_t timeoutMs) {
    return WaitAny({this}, timeoutMs) == 0;
}

int Event::WaitAny(std::initializer_list<Event*> events, uint32_t timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(EventLock());

    auto takeSignalled = [&]() -> int {
        int index = 0;
        for (Event* e : events) {
            if (e->impl_->signalled) {
                if (!e->impl_->manualReset) {
                    e->impl_->signalled = false;
                }
                return index;
            }
            ++index;
        }
        return kWaitTimeout;
    };

    int result = takeSignalled();
    if (result != kWaitTimeout || timeoutMs == 0) {
        return result;
    }

    const auto waiter = std::make_shared<Waiter>();
    for (Event* e : events) {
        e->impl_->waiters.push_back(waiter);
    }
    while (result == kWaitTimeout) {
        if (timeoutMs == kInfinite) {
            waiter->cv.wait(lock);
        } else if (waiter->cv.wait_until(lock, deadline) == std::cv_status::timeout) {
            result = takeSignalled();
            break;
        }
        result = takeSignalled();
    }
    for (Event* e : events) {
        auto& list = e->impl_->waiters;
        list.erase(std::find(list.begin(), list.end(), waiter));
    }
    return result;
}

}  // namespace hydrix::platform
