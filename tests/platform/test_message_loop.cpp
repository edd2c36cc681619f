#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/dialogs.h"
#include "platform/event.h"
#include "platform/message_loop.h"

namespace hydrix::platform {
namespace {

constexpr uint32_t kLong = 20000;  // generous: only a fault reaches it
constexpr uint32_t kPostMsg = WM_USER + 1;
constexpr uint32_t kSendMsg = WM_USER + 2;

struct Received {
    uint32_t msg;
    WParam w;
    LParam l;
};

// A window that records what it is given; its procedure runs on the owner thread only.
class RecordingWindow {
public:
    RecordingWindow() {
        handle_ = Loop().CreateWindow([this](uint32_t msg, WParam w, LParam l) -> LResult {
            EXPECT_TRUE(Loop().IsOwnerThread());
            received_.push_back({msg, w, l});
            count_.store(received_.size());
            if (onMessage) {
                return onMessage(msg, w, l);
            }
            return static_cast<LResult>(w) * 2;
        });
    }
    ~RecordingWindow() { Loop().DestroyWindow(handle_); }

    static MessageLoop& Loop() { return MessageLoop::Instance(); }
    WindowHandle Handle() const { return handle_; }
    const std::vector<Received>& All() const { return received_; }
    size_t Count() const { return count_.load(); }
    size_t CountOf(uint32_t msg) const {
        size_t n = 0;
        for (const auto& r : received_) {
            n += r.msg == msg;
        }
        return n;
    }

    std::function<LResult(uint32_t, WParam, LParam)> onMessage;

private:
    WindowHandle handle_;
    std::vector<Received> received_;
    std::atomic<size_t> count_{0};
};

class MessageLoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        loop_.AttachToCurrentThread();
        loop_.ResetQuit();
        loop_.ProcessMessages();  // nothing left over from an earlier test
    }
    void TearDown() override { loop_.ResetQuit(); }

    MessageLoop& loop_ = MessageLoop::Instance();
};

// Counts wake-ups and signals once a number of them has arrived.
class CountingDriver : public LoopDriver {
public:
    explicit CountingDriver(int target) : target_(target) {}
    void Wake() override {
        if (++wakes_ >= target_) {
            reached.Set();
        }
    }
    Event reached{true};

private:
    int target_;
    std::atomic<int> wakes_{0};
};

TEST_F(MessageLoopTest, HandlesAreNonzeroAndNeverReused) {
    const WindowHandle a = loop_.CreateWindow([](uint32_t, WParam, LParam) { return LResult{0}; });
    loop_.DestroyWindow(a);
    const WindowHandle b = loop_.CreateWindow([](uint32_t, WParam, LParam) { return LResult{0}; });
    EXPECT_NE(a, 0u);
    EXPECT_NE(a, b);
    EXPECT_FALSE(loop_.IsWindow(a));
    EXPECT_TRUE(loop_.IsWindow(b));
    loop_.DestroyWindow(b);
}

TEST_F(MessageLoopTest, SendOnOwnerThreadIsADirectCall) {
    RecordingWindow window;
    EXPECT_EQ(loop_.SendMessage(window.Handle(), kSendMsg, 21, 0), 42);
    ASSERT_EQ(window.Count(), 1u);
    LResult result = 0;
    EXPECT_TRUE(loop_.SendMessageTimeout(window.Handle(), kSendMsg, 5, 0, 0, &result));
    EXPECT_EQ(result, 10);
}

// Each worker posts two messages and then sends one; the send must not overtake the
// posts of its own thread, and each thread's messages keep their order.
TEST_F(MessageLoopTest, SentMessagesDoNotOvertakeEarlierPosts) {
    RecordingWindow window;
    constexpr int kWorkers = 3;
    constexpr int kRounds = 50;
    std::vector<std::thread> workers;
    std::atomic<int> wrongResults{0};
    for (int t = 0; t < kWorkers; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                const WParam seq = static_cast<WParam>(i * 3);
                PostMessage(window.Handle(), kPostMsg, seq, t);
                PostMessage(window.Handle(), kPostMsg, seq + 1, t);
                if (SendMessage(window.Handle(), kSendMsg, seq + 2, t) != LResult(seq + 2) * 2) {
                    ++wrongResults;
                }
            }
        });
    }
    const size_t expected = kWorkers * kRounds * 3;
    EXPECT_TRUE(loop_.ProcessUntil([&] { return window.Count() == expected; }, kLong));
    for (auto& w : workers) {
        w.join();
    }

    EXPECT_EQ(wrongResults.load(), 0);
    std::map<LParam, WParam> next;
    for (const Received& r : window.All()) {
        EXPECT_EQ(r.w, next[r.l]) << "thread " << r.l;
        EXPECT_EQ(r.msg, r.w % 3 == 2 ? kSendMsg : kPostMsg);
        next[r.l] = r.w + 1;
    }
}

TEST_F(MessageLoopTest, SendTimeoutEndsOnlyTheWait) {
    RecordingWindow window;
    bool delivered = true;
    LResult result = -1;
    // The owner does not pump until the worker gave up.
    std::thread worker([&] { delivered = loop_.SendMessageTimeout(window.Handle(), kSendMsg, 7, 0, 30, &result); });
    worker.join();
    EXPECT_FALSE(delivered);
    EXPECT_EQ(window.Count(), 0u);

    loop_.ProcessMessages();
    ASSERT_EQ(window.Count(), 1u);
    EXPECT_EQ(window.All()[0].msg, kSendMsg);
    EXPECT_EQ(window.All()[0].w, 7u);
}

TEST_F(MessageLoopTest, DeadWindowRefusesPostAndSend) {
    WindowHandle dead;
    {
        RecordingWindow window;
        dead = window.Handle();
    }
    bool posted = true, sent = true;
    LResult result = -1, plain = -1;
    std::thread worker([&] {
        posted = PostMessage(dead, kPostMsg, 1, 0);
        sent = loop_.SendMessageTimeout(dead, kSendMsg, 1, 0, kLong, &result);
        plain = SendMessage(dead, kSendMsg, 1, 0);
    });
    worker.join();
    EXPECT_FALSE(posted);
    EXPECT_FALSE(sent);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(plain, 0);
    EXPECT_EQ(loop_.SendMessage(dead, kSendMsg, 1, 0), 0);
}

// The window is destroyed by a message queued ahead of a blocked send: the queued send
// is dropped and its sender released with 0.
TEST_F(MessageLoopTest, DestroyWindowReleasesBlockedSender) {
    auto window = std::make_unique<RecordingWindow>();
    const WindowHandle handle = window->Handle();
    window->onMessage = [&](uint32_t msg, WParam, LParam) -> LResult {
        if (msg == kPostMsg) {
            loop_.DestroyWindow(handle);
        }
        return 99;
    };
    CountingDriver driver(3);  // installing it, then the post and the send queued
    loop_.SetDriver(&driver);
    bool sent = true;
    LResult result = -1;
    std::thread worker([&] {
        PostMessage(handle, kPostMsg, 0, 0);
        sent = loop_.SendMessageTimeout(handle, kSendMsg, 0, 0, kInfinite, &result);
    });
    ASSERT_TRUE(driver.reached.Wait(kLong));
    loop_.SetDriver(nullptr);
    loop_.ProcessMessages();
    worker.join();
    EXPECT_FALSE(sent);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(window->Count(), 1u);
    EXPECT_EQ(window->CountOf(kSendMsg), 0u);
}

TEST_F(MessageLoopTest, RunOnOwnerThreadFromWorkers) {
    const auto owner = std::this_thread::get_id();
    int calls = 0;  // touched only on the owner thread
    bool wrongThread = false;
    std::atomic<int> finished{0};
    std::atomic<int> rethrown{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&] {
            for (int i = 0; i < 25; ++i) {
                loop_.RunOnOwnerThread([&] {
                    wrongThread |= std::this_thread::get_id() != owner;
                    ++calls;
                });
            }
            try {
                loop_.RunOnOwnerThread([] { throw std::runtime_error("from the GUI thread"); });
            } catch (const std::runtime_error& e) {
                if (std::string(e.what()) == "from the GUI thread") {
                    ++rethrown;
                }
            }
            ++finished;
        });
    }
    EXPECT_TRUE(loop_.ProcessUntil([&] { return finished == 4; }, kLong));
    for (auto& w : workers) {
        w.join();
    }
    EXPECT_EQ(calls, 100);
    EXPECT_FALSE(wrongThread);
    EXPECT_EQ(rethrown.load(), 4);

    bool direct = false;
    loop_.RunOnOwnerThread([&] { direct = true; });
    EXPECT_TRUE(direct);
}

// A handler that waits, processing messages, serves what arrives meanwhile, including a
// worker blocked in a send: the shape of a close that waits for the port's threads.
TEST_F(MessageLoopTest, NestedWaitServesPostsAndBlockedWorkers) {
    RecordingWindow window;
    std::atomic<bool> workerDone{false};
    std::thread worker;
    bool waited = false;
    window.onMessage = [&](uint32_t msg, WParam w, LParam) -> LResult {
        if (msg != kPostMsg || w != 1) {
            return 0;
        }
        PostMessage(window.Handle(), kPostMsg, 2, 0);
        worker = std::thread([&] {
            SendMessage(window.Handle(), kSendMsg, 3, 0);
            loop_.RunOnOwnerThread([] {});
            workerDone = true;
        });
        waited = loop_.ProcessUntil([&] { return workerDone.load(); }, kLong);
        return 0;
    };
    loop_.Quit();  // a requested quit must not stop the nested wait from serving
    PostMessage(window.Handle(), kPostMsg, 1, 0);
    EXPECT_FALSE(loop_.ProcessMessages());
    worker.join();
    EXPECT_TRUE(waited);
    ASSERT_EQ(window.Count(), 3u);
    EXPECT_EQ(window.All()[1].w, 2u);
    EXPECT_EQ(window.All()[2].msg, kSendMsg);
}

TEST_F(MessageLoopTest, ProcessMessagesLeavesRepostsForTheNextCall) {
    RecordingWindow window;
    window.onMessage = [&](uint32_t, WParam w, LParam) -> LResult {
        PostMessage(window.Handle(), kPostMsg, w + 1, 0);
        return 0;
    };
    PostMessage(window.Handle(), kPostMsg, 0, 0);
    loop_.ProcessMessages();
    EXPECT_EQ(window.Count(), 1u);
    loop_.ProcessMessages();
    EXPECT_EQ(window.Count(), 2u);
    loop_.DestroyWindow(window.Handle());
    loop_.ProcessMessages();
    EXPECT_EQ(window.Count(), 2u);
}

class CapturingUserInterface : public UserInterface {
public:
    void ShowMessage(const std::string& text, const std::string&, MessageIcon) override {
        std::lock_guard<std::mutex> g(lock);
        messages.push_back(text);
    }
    void ShowException(const std::string& text) override {
        std::lock_guard<std::mutex> g(lock);
        exceptions.push_back(text);
    }
    void Beep() override {}
    void SetClipboardText(const std::string&) override {}
    std::string ClipboardText() override { return {}; }

    std::mutex lock;
    std::vector<std::string> messages;
    std::vector<std::string> exceptions;
};

TEST_F(MessageLoopTest, ExceptionFromWindowProcedureIsReportedAndLoopGoesOn) {
    auto ui = std::make_shared<CapturingUserInterface>();
    auto previous = SetUserInterface(ui);
    RecordingWindow window;
    window.onMessage = [](uint32_t, WParam w, LParam) -> LResult {
        if (w == 1) {
            throw std::runtime_error("Cannot create file");
        }
        return 5;
    };
    LResult result = -1;
    std::thread worker([&] { result = SendMessage(window.Handle(), kSendMsg, 1, 0); });
    PostMessage(window.Handle(), kPostMsg, 2, 0);
    EXPECT_TRUE(loop_.ProcessUntil([&] { return window.Count() == 2; }, kLong));
    worker.join();
    SetUserInterface(previous);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ui->exceptions, std::vector<std::string>{"Cannot create file"});
}

TEST_F(MessageLoopTest, TimerFiresUntilKilled) {
    RecordingWindow window;
    EXPECT_EQ(loop_.NextTimerDelayMs(), -1);
    ASSERT_TRUE(loop_.SetTimer(window.Handle(), 7, 5));
    EXPECT_GE(loop_.NextTimerDelayMs(), 0);
    EXPECT_TRUE(loop_.ProcessUntil([&] { return window.Count() >= 3; }, kLong));
    for (const Received& r : window.All()) {
        EXPECT_EQ(r.msg, WM_TIMER);
        EXPECT_EQ(r.w, 7u);
    }
    EXPECT_TRUE(loop_.KillTimer(window.Handle(), 7));
    EXPECT_FALSE(loop_.KillTimer(window.Handle(), 7));
    EXPECT_EQ(loop_.NextTimerDelayMs(), -1);
    const size_t count = window.Count();
    loop_.ProcessUntil([] { return false; }, 40);
    EXPECT_EQ(window.Count(), count);
}

TEST_F(MessageLoopTest, OverdueTimerIsDeliveredOnce) {
    RecordingWindow window;
    ASSERT_TRUE(loop_.SetTimer(window.Handle(), 1, 1));
    Event never;
    never.Wait(30);  // many intervals pass without pumping
    loop_.ProcessMessages();
    EXPECT_EQ(window.CountOf(WM_TIMER), 1u);
    loop_.KillTimer(window.Handle(), 1);
}

// A tick that became due under the old setting is withdrawn by a restart or a kill that
// is handled ahead of it, so a restarted watchdog never fires early.
TEST_F(MessageLoopTest, RestartOrKillWithdrawsQueuedTick) {
    for (bool kill : {false, true}) {
        RecordingWindow window;
        window.onMessage = [&](uint32_t msg, WParam, LParam) -> LResult {
            if (msg == kPostMsg) {
                if (kill) {
                    loop_.KillTimer(window.Handle(), 1);
                } else {
                    loop_.SetTimer(window.Handle(), 1, 60000);
                }
            }
            return 0;
        };
        ASSERT_TRUE(loop_.SetTimer(window.Handle(), 1, 1));
        Event never;
        never.Wait(20);
        PostMessage(window.Handle(), kPostMsg, 0, 0);
        loop_.ProcessMessages();  // queues the due tick behind the post
        loop_.ProcessMessages();
        EXPECT_EQ(window.CountOf(WM_TIMER), 0u) << (kill ? "kill" : "restart");
        EXPECT_EQ(window.CountOf(kPostMsg), 1u);
    }
}

TEST_F(MessageLoopTest, DestroyWindowDropsTimersAndQueuedMessages) {
    auto window = std::make_unique<RecordingWindow>();
    ASSERT_TRUE(loop_.SetTimer(window->Handle(), 3, 60000));
    PostMessage(window->Handle(), kPostMsg, 0, 0);
    const WindowHandle handle = window->Handle();
    loop_.DestroyWindow(handle);
    EXPECT_EQ(loop_.NextTimerDelayMs(), -1);
    EXPECT_FALSE(loop_.SetTimer(handle, 3, 10));
    loop_.ProcessMessages();
    EXPECT_EQ(window->Count(), 0u);
}

TEST_F(MessageLoopTest, RunServesTimersAndPostsUntilQuit) {
    RecordingWindow window;
    bool quitting = false;
    window.onMessage = [&](uint32_t, WParam, LParam) -> LResult {
        if (!quitting && window.CountOf(WM_TIMER) >= 3 && window.CountOf(kPostMsg) == 20) {
            quitting = true;
            loop_.KillTimer(window.Handle(), 1);
            std::thread([] { MessageLoop::Instance().Quit(7); }).join();
        }
        return 0;
    };
    std::thread poster([&] {
        for (WParam i = 0; i < 20; ++i) {
            PostMessage(window.Handle(), kPostMsg, i, 0);
        }
    });
    ASSERT_TRUE(loop_.SetTimer(window.Handle(), 1, 5));
    EXPECT_EQ(loop_.Run(), 7);
    poster.join();
    EXPECT_TRUE(loop_.QuitRequested());
    EXPECT_FALSE(loop_.ProcessMessages());
    EXPECT_GE(window.CountOf(WM_TIMER), 3u);
    EXPECT_EQ(window.CountOf(kPostMsg), 20u);
}

TEST_F(MessageLoopTest, NonOwnerThreadProcessesNothing) {
    RecordingWindow window;
    PostMessage(window.Handle(), kPostMsg, 0, 0);
    bool predHeld = false;
    std::atomic<bool> flag{false};
    std::thread other([&] {
        loop_.ProcessMessages();
        flag = true;
        predHeld = loop_.ProcessUntil([&] { return flag.load(); }, kLong);
    });
    other.join();
    EXPECT_TRUE(predHeld);
    EXPECT_EQ(window.Count(), 0u);
    loop_.ProcessMessages();
    EXPECT_EQ(window.Count(), 1u);
}

}  // namespace
}  // namespace hydrix::platform
