#include "platform/message_loop.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <utility>

#include "platform/dialogs.h"

namespace hydrix::platform {

namespace {

using SteadyTime = std::chrono::steady_clock::time_point;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

// A wait that processes messages re-checks its condition at least this often, since
// the condition may be changed by another thread without queueing anything.
constexpr milliseconds kPollInterval{2};

// The state a sending thread waits on.
struct Completion {
    bool done = false;
    bool dropped = false;  // the window was destroyed before the message was handled
    LResult result = 0;
    std::exception_ptr error;
};

enum class ItemKind { Post, Send, Call, Timer };

struct Item {
    uint64_t seq;
    ItemKind kind;
    WindowHandle window;
    uint32_t msg;
    WParam w;
    LParam l;
    std::shared_ptr<Completion> completion;  // Send and Call
    std::function<void()> fn;                // Call
};

struct TimerState {
    uint32_t intervalMs;
    SteadyTime due;
    bool queued;  // a WM_TIMER for it waits in the queue: at most one at a time
};

using TimerKey = std::pair<WindowHandle, uint32_t>;

LResult InvokeProc(const WindowProc& proc, uint32_t msg, WParam w, LParam l) {
    // An exception that escapes a window procedure is reported and the loop goes on.
    try {
        return proc(msg, w, l);
    } catch (const std::exception& e) {
        ShowExceptionReport(e.what());
    } catch (...) {
        ShowExceptionReport("Unknown exception");
    }
    return 0;
}

}  // namespace

struct MessageLoop::Impl {
    mutable std::mutex lock;
    std::condition_variable queueChanged;  // threads that pump or drive the loop
    std::condition_variable completed;     // threads waiting for a sent message
    std::deque<Item> queue;
    std::unordered_map<WindowHandle, std::shared_ptr<WindowProc>> windows;
    std::map<TimerKey, TimerState> timers;
    WindowHandle lastHandle = 0;
    uint64_t nextSeq = 1;
    bool quit = false;
    int exitCode = 0;
    std::atomic<std::thread::id> owner{};

    std::mutex driverLock;  // held while calling the driver so SetDriver(nullptr) is final
    LoopDriver* driver = nullptr;

    // Owner-side operations claim a loop that has no owner yet. Pumping claims it only on
    // the process's main thread, so that a worker thread that waits processing messages
    // before the GUI thread touched the loop cannot take the loop away from it.
    bool ClaimOrIsOwner(bool anyThread) {
        const std::thread::id self = std::this_thread::get_id();
        std::thread::id current = owner.load();
        if (current == self) {
            return true;
        }
        if (current != std::thread::id{} || !(anyThread || ::gettid() == ::getpid())) {
            return false;
        }
        return owner.compare_exchange_strong(current, self) || current == self;
    }

    void Wake() {
        queueChanged.notify_all();
        std::lock_guard<std::mutex> guard(driverLock);
        if (driver) {
            driver->Wake();
        }
    }

    std::shared_ptr<WindowProc> FindProc(WindowHandle window) const {
        auto it = windows.find(window);
        return it == windows.end() ? nullptr : it->second;
    }

    void Complete(Completion& c, LResult result, bool dropped) {
        c.done = true;
        c.dropped = dropped;
        c.result = result;
        completed.notify_all();
    }

    // Removes queued items matching pred, releasing their senders with result 0.
    template <typename Pred>
    void DropQueued(Pred pred) {
        for (auto it = queue.begin(); it != queue.end();) {
            if (!pred(*it)) {
                ++it;
                continue;
            }
            if (it->completion) {
                Complete(*it->completion, 0, true);
            }
            it = queue.erase(it);
        }
    }

    void DropQueuedTimer(const TimerKey& key) {
        DropQueued([&](const Item& item) {
            return item.kind == ItemKind::Timer && item.window == key.first && item.w == key.second;
        });
    }

    void QueueDueTimers(SteadyTime now) {
        for (auto& [key, timer] : timers) {
            if (timer.queued || timer.due > now) {
                continue;
            }
            timer.queued = true;
            timer.due = now + milliseconds(timer.intervalMs);
            queue.push_back(Item{nextSeq++, ItemKind::Timer, key.first, WM_TIMER, key.second, 0, nullptr, nullptr});
        }
    }

    std::optional<SteadyTime> NextTimerDue() const {
        std::optional<SteadyTime> next;
        for (const auto& entry : timers) {
            const TimerState& timer = entry.second;
            if (!timer.queued && (!next || timer.due < *next)) {
                next = timer.due;
            }
        }
        return next;
    }

    // Queues a sent message or a call; nullptr when the window does not exist.
    std::shared_ptr<Completion> Enqueue(ItemKind kind, WindowHandle window, uint32_t msg, WParam w, LParam l,
                                        std::function<void()> fn) {
        auto completion = std::make_shared<Completion>();
        {
            std::lock_guard<std::mutex> guard(lock);
            if (kind != ItemKind::Call && !windows.count(window)) {
                return nullptr;
            }
            queue.push_back(Item{nextSeq++, kind, window, msg, w, l, completion, std::move(fn)});
        }
        Wake();
        return completion;
    }

    // Handles one item taken from the queue; the lock is released around the call.
    void Dispatch(std::unique_lock<std::mutex>& held, Item item) {
        if (item.kind == ItemKind::Call) {
            held.unlock();
            std::exception_ptr error;
            try {
                item.fn();
            } catch (...) {
                error = std::current_exception();
            }
            held.lock();
            item.completion->error = error;
            Complete(*item.completion, 0, false);
            return;
        }
        if (item.kind == ItemKind::Timer) {
            auto it = timers.find({item.window, static_cast<uint32_t>(item.w)});
            if (it != timers.end()) {
                it->second.queued = false;
            }
        }
        std::shared_ptr<WindowProc> proc = FindProc(item.window);
        if (!proc) {
            if (item.completion) {
                Complete(*item.completion, 0, true);
            }
            return;
        }
        held.unlock();
        const LResult result = InvokeProc(*proc, item.msg, item.w, item.l);
        held.lock();
        if (item.completion) {
            Complete(*item.completion, result, false);
        }
    }
};

MessageLoop& MessageLoop::Instance() {
    // Never destroyed: worker threads may still post while static objects go away.
    static MessageLoop* loop = new MessageLoop;
    return *loop;
}

MessageLoop::MessageLoop() : impl_(new Impl) {}

MessageLoop::~MessageLoop() {
    delete impl_;
}

void MessageLoop::AttachToCurrentThread() {
    impl_->owner.store(std::this_thread::get_id());
}

bool MessageLoop::IsOwnerThread() const {
    return impl_->owner.load() == std::this_thread::get_id();
}

void MessageLoop::SetDriver(LoopDriver* driver) {
    {
        std::lock_guard<std::mutex> guard(impl_->driverLock);
        impl_->driver = driver;
    }
    impl_->Wake();
}

WindowHandle MessageLoop::CreateWindow(WindowProc proc) {
    impl_->ClaimOrIsOwner(true);
    std::lock_guard<std::mutex> guard(impl_->lock);
    do {
        ++impl_->lastHandle;
    } while (impl_->lastHandle == 0);
    impl_->windows.emplace(impl_->lastHandle, std::make_shared<WindowProc>(std::move(proc)));
    return impl_->lastHandle;
}

void MessageLoop::DestroyWindow(WindowHandle window) {
    {
        std::lock_guard<std::mutex> guard(impl_->lock);
        if (impl_->windows.erase(window) == 0) {
            return;
        }
        std::erase_if(impl_->timers, [&](const auto& entry) { return entry.first.first == window; });
        impl_->DropQueued([&](const Item& item) { return item.kind != ItemKind::Call && item.window == window; });
    }
    impl_->Wake();
}

bool MessageLoop::IsWindow(WindowHandle window) const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->windows.count(window) != 0;
}

bool MessageLoop::PostMessage(WindowHandle window, uint32_t msg, WParam w, LParam l) {
    {
        std::lock_guard<std::mutex> guard(impl_->lock);
        if (!impl_->windows.count(window)) {
            return false;
        }
        impl_->queue.push_back(Item{impl_->nextSeq++, ItemKind::Post, window, msg, w, l, nullptr, nullptr});
    }
    impl_->Wake();
    return true;
}

LResult MessageLoop::SendMessage(WindowHandle window, uint32_t msg, WParam w, LParam l) {
    LResult result = 0;
    SendMessageTimeout(window, msg, w, l, kInfinite, &result);
    return result;
}

bool MessageLoop::SendMessageTimeout(WindowHandle window, uint32_t msg, WParam w, LParam l, uint32_t timeoutMs,
                                     LResult* result) {
    if (result) {
        *result = 0;
    }
    if (IsOwnerThread()) {
        std::shared_ptr<WindowProc> proc;
        {
            std::lock_guard<std::mutex> guard(impl_->lock);
            proc = impl_->FindProc(window);
        }
        if (!proc) {
            return false;
        }
        const LResult r = InvokeProc(*proc, msg, w, l);
        if (result) {
            *result = r;
        }
        return true;
    }
    std::shared_ptr<Completion> c = impl_->Enqueue(ItemKind::Send, window, msg, w, l, nullptr);
    if (!c) {
        return false;
    }
    std::unique_lock<std::mutex> held(impl_->lock);
    auto done = [&] { return c->done; };
    if (timeoutMs == kInfinite) {
        impl_->completed.wait(held, done);
    } else if (!impl_->completed.wait_for(held, milliseconds(timeoutMs), done)) {
        return false;  // still queued: it is handled later, nobody waits for the result
    }
    if (result) {
        *result = c->result;
    }
    return !c->dropped;
}

void MessageLoop::RunOnOwnerThread(const std::function<void()>& fn) {
    if (IsOwnerThread()) {
        fn();
        return;
    }
    std::shared_ptr<Completion> c = impl_->Enqueue(ItemKind::Call, 0, 0, 0, 0, fn);
    std::unique_lock<std::mutex> held(impl_->lock);
    impl_->completed.wait(held, [&] { return c->done; });
    if (c->error) {
        std::rethrow_exception(c->error);
    }
}

bool MessageLoop::ProcessMessages() {
    if (!impl_->ClaimOrIsOwner(false)) {
        return !QuitRequested();
    }
    std::unique_lock<std::mutex> held(impl_->lock);
    impl_->QueueDueTimers(steady_clock::now());
    // Only what is queued now: a handler that posts again is served by the next call.
    const uint64_t limit = impl_->nextSeq;
    while (!impl_->queue.empty() && impl_->queue.front().seq < limit) {
        Item item = std::move(impl_->queue.front());
        impl_->queue.pop_front();
        impl_->Dispatch(held, std::move(item));
    }
    return !impl_->quit;
}

bool MessageLoop::ProcessUntil(const std::function<bool()>& pred, uint32_t timeoutMs) {
    const bool owner = impl_->ClaimOrIsOwner(false);
    const bool limited = timeoutMs != kInfinite;
    const SteadyTime deadline = steady_clock::now() + milliseconds(limited ? timeoutMs : 0);
    for (;;) {
        if (pred()) {
            return true;
        }
        if (owner) {
            ProcessMessages();
            if (pred()) {
                return true;
            }
        }
        std::unique_lock<std::mutex> held(impl_->lock);
        const auto now = steady_clock::now();
        if (limited && now >= deadline) {
            break;
        }
        SteadyTime wakeAt = now + kPollInterval;
        if (limited) {
            wakeAt = std::min(wakeAt, deadline);
        }
        if (owner) {
            if (auto due = impl_->NextTimerDue()) {
                wakeAt = std::min(wakeAt, *due);
            }
        }
        impl_->queueChanged.wait_until(held, wakeAt, [&] { return owner && !impl_->queue.empty(); });
    }
    return pred();
}

void MessageLoop::Quit(int exitCode) {
    {
        std::lock_guard<std::mutex> guard(impl_->lock);
        impl_->quit = true;
        impl_->exitCode = exitCode;
    }
    impl_->Wake();
}

bool MessageLoop::QuitRequested() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->quit;
}

void MessageLoop::ResetQuit() {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->quit = false;
    impl_->exitCode = 0;
}

int MessageLoop::Run() {
    impl_->ClaimOrIsOwner(true);
    for (;;) {
        ProcessMessages();
        std::unique_lock<std::mutex> held(impl_->lock);
        auto ready = [&] { return impl_->quit || !impl_->queue.empty(); };
        if (auto due = impl_->NextTimerDue()) {
            impl_->queueChanged.wait_until(held, *due, ready);
        } else {
            impl_->queueChanged.wait(held, ready);
        }
        if (impl_->quit) {
            return impl_->exitCode;
        }
    }
}

bool MessageLoop::SetTimer(WindowHandle window, uint32_t id, uint32_t intervalMs) {
    {
        std::lock_guard<std::mutex> guard(impl_->lock);
        if (!impl_->windows.count(window)) {
            return false;
        }
        const TimerKey key{window, id};
        // A restart also withdraws a tick that was due under the old interval.
        impl_->DropQueuedTimer(key);
        intervalMs = std::max<uint32_t>(intervalMs, 1);
        const SteadyTime due = steady_clock::now() + milliseconds(intervalMs);
        impl_->timers[key] = TimerState{intervalMs, due, false};
    }
    impl_->Wake();
    return true;
}

bool MessageLoop::KillTimer(WindowHandle window, uint32_t id) {
    {
        std::lock_guard<std::mutex> guard(impl_->lock);
        const TimerKey key{window, id};
        if (impl_->timers.erase(key) == 0) {
            return false;
        }
        impl_->DropQueuedTimer(key);
    }
    impl_->Wake();
    return true;
}

int64_t MessageLoop::NextTimerDelayMs() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    const std::optional<SteadyTime> due = impl_->NextTimerDue();
    if (!due) {
        return -1;
    }
    const auto now = steady_clock::now();
    if (*due <= now) {
        return 0;
    }
    // Rounded up, so that a driver sleeping this long finds the timer due.
    return std::chrono::ceil<milliseconds>(*due - now).count();
}

}  // namespace hydrix::platform
