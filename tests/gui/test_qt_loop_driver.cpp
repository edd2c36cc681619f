// The Qt driver of the message loop: posts and sends from worker threads, window timers,
// run-and-wait and quit, served by Qt's event loop, also inside a modal dialog's exec.
#include <QApplication>
#include <QDialog>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>
#include <vector>

#include "gui_test_util.h"

namespace hydrix::gui {
namespace {

using platform::LParam;
using platform::MessageLoop;
using platform::WParam;

constexpr uint32_t kMsgPost = platform::WM_USER + 1;
constexpr uint32_t kMsgSend = platform::WM_USER + 2;
constexpr uint32_t kMsgClose = platform::WM_USER + 3;

class QtLoopDriverTest : public ::testing::Test {
protected:
    ~QtLoopDriverTest() override {
        if (window_ != 0) {
            MessageLoop::Instance().DestroyWindow(window_);
        }
    }
    test::InstalledQtDriver installed_;
    platform::WindowHandle window_ = 0;
};

TEST_F(QtLoopDriverTest, PostsFromWorkersArriveOnGuiThreadInOrderPerThread) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 2000;
    std::map<int, std::vector<int>> seen;
    bool offThread = false;
    int total = 0;
    window_ = MessageLoop::Instance().CreateWindow([&](uint32_t msg, WParam w, LParam l) {
        if (msg != kMsgPost) {
            return LParam{0};
        }
        if (QThread::currentThread() != qApp->thread()) {
            offThread = true;
        }
        seen[static_cast<int>(w)].push_back(static_cast<int>(l));
        ++total;
        return LParam{0};
    });
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([this, t] {
            for (int i = 0; i < kPerThread; ++i) {
                platform::PostMessage(window_, kMsgPost, static_cast<WParam>(t), i);
            }
        });
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return total == kThreads * kPerThread; }, 10000));
    for (auto& worker : workers) {
        worker.join();
    }
    EXPECT_FALSE(offThread);
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(seen[t].size(), static_cast<size_t>(kPerThread));
        for (int i = 0; i < kPerThread; ++i) {
            ASSERT_EQ(seen[t][i], i) << "thread " << t;
        }
    }
}

// Counts the wake-ups Qt delivers to the driver's notifier.
class WakeCounter : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::SockAct) {
            ++count;
        }
        return false;
    }
    int count = 0;
};

TEST_F(QtLoopDriverTest, FloodOfPostsQueuesOneDrain) {
    int handled = 0;
    window_ = MessageLoop::Instance().CreateWindow([&](uint32_t msg, WParam, LParam) {
        if (msg == kMsgPost) {
            ++handled;
        }
        return LParam{0};
    });
    QTest::qWait(10);  // drains queued by the window's creation are done
    WakeCounter counter;
    auto* notifier = installed_.driver.findChild<QSocketNotifier*>();
    ASSERT_NE(notifier, nullptr);
    notifier->installEventFilter(&counter);
    // The GUI thread does not run Qt's loop while the worker posts.
    std::thread worker([this] {
        for (int i = 0; i < 5000; ++i) {
            platform::PostMessage(window_, kMsgPost, 0, 0);
        }
    });
    worker.join();
    EXPECT_TRUE(QTest::qWaitFor([&] { return handled == 5000; }, 5000));
    EXPECT_EQ(counter.count, 1);
    notifier->removeEventFilter(&counter);
}

TEST_F(QtLoopDriverTest, ModalDialogKeepsServingSendsTimersAndCalls) {
    QDialog dialog;
    std::atomic<int> timerTicks{0};
    std::atomic<bool> sendOnGui{false};
    window_ = MessageLoop::Instance().CreateWindow([&](uint32_t msg, WParam w, LParam) {
        switch (msg) {
        case platform::WM_TIMER:
            ++timerTicks;
            return LParam{0};
        case kMsgSend:
            sendOnGui = QThread::currentThread() == qApp->thread() && dialog.isVisible();
            return static_cast<LParam>(w * 2);
        case kMsgClose:
            dialog.accept();
            return LParam{0};
        default:
            return LParam{0};
        }
    });
    ASSERT_TRUE(MessageLoop::Instance().SetTimer(window_, 1, 20));

    platform::LResult sendResult = 0;
    bool callOnGui = false;
    std::thread worker;
    // The worker starts once the dialog runs its own loop, so everything it sends is
    // served from inside exec.
    QTimer::singleShot(0, &dialog, [&] {
        worker = std::thread([&] {
            sendResult = platform::SendMessage(window_, kMsgSend, 21, 0);
            MessageLoop::Instance().RunOnOwnerThread([&] { callOnGui = QThread::currentThread() == qApp->thread(); });
            // Closed also when the ticks do not come: the count below fails the test.
            const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (timerTicks < 3 && std::chrono::steady_clock::now() < giveUp) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            platform::PostMessage(window_, kMsgClose, 0, 0);
        });
    });
    const int result = dialog.exec();
    worker.join();
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(sendResult, 42);
    EXPECT_TRUE(sendOnGui);
    EXPECT_TRUE(callOnGui);
    EXPECT_GE(timerTicks.load(), 3);
}

// A handler that shows a modal box (the watchdog's message, say) runs inside a drain;
// the box's own loop must go on serving posts, sends and timers.
TEST_F(QtLoopDriverTest, ModalDialogOpenedByAHandlerKeepsTheLoopRunning) {
    for (const uint32_t opener : {kMsgPost, platform::WM_TIMER}) {
        std::atomic<int> posts{0};
        std::atomic<int> otherTicks{0};
        std::atomic<bool> inDialog{false};
        std::atomic<bool> closed{false};
        platform::LResult sendResult = 0;
        int ticksBeforePosts = 0;
        std::thread worker;
        window_ = MessageLoop::Instance().CreateWindow([&](uint32_t msg, WParam w, LParam) {
            if (msg == platform::WM_TIMER && w == 2) {
                ++otherTicks;
                return LParam{0};
            }
            if (msg == kMsgSend) {
                return LParam{7};
            }
            if (msg == kMsgClose) {
                if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                    d->accept();
                }
                return LParam{0};
            }
            if (msg == kMsgPost && inDialog) {
                ++posts;
                return LParam{0};
            }
            if (msg != opener || inDialog || closed) {
                return LParam{0};
            }
            if (opener == platform::WM_TIMER) {
                MessageLoop::Instance().KillTimer(window_, 1);
            }
            QDialog dialog;
            inDialog = true;
            worker = std::thread([&] {
                // Timers first, with nothing posted that would wake the loop meanwhile.
                const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(3);
                while (otherTicks < 3 && std::chrono::steady_clock::now() < giveUp) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
                ticksBeforePosts = otherTicks.load();
                for (int i = 0; i < 10; ++i) {
                    platform::PostMessage(window_, kMsgPost, 0, 0);
                }
                sendResult = platform::SendMessage(window_, kMsgSend, 0, 0);
                // Closed also when the posts do not come: the count below fails the test.
                const auto postsDue = std::chrono::steady_clock::now() + std::chrono::seconds(3);
                while (posts < 10 && std::chrono::steady_clock::now() < postsDue) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
                platform::PostMessage(window_, kMsgClose, 0, 0);
            });
            dialog.exec();
            inDialog = false;
            closed = true;
            return LParam{0};
        });
        MessageLoop::Instance().SetTimer(window_, 2, 15);
        if (opener == platform::WM_TIMER) {
            MessageLoop::Instance().SetTimer(window_, 1, 10);
        } else {
            std::thread([this] { platform::PostMessage(window_, kMsgPost, 0, 0); }).join();
        }
        EXPECT_TRUE(QTest::qWaitFor([&] { return closed.load(); }, 5000)) << opener;
        if (worker.joinable()) {
            worker.join();
        }
        EXPECT_EQ(posts.load(), 10);
        EXPECT_EQ(sendResult, 7);
        EXPECT_GE(ticksBeforePosts, 3) << opener;
        MessageLoop::Instance().DestroyWindow(window_);
        window_ = 0;
    }
}

TEST_F(QtLoopDriverTest, SendMessageTimeoutStillDeliversLater) {
    int handled = 0;
    window_ = MessageLoop::Instance().CreateWindow([&](uint32_t msg, WParam, LParam) {
        if (msg == kMsgSend) {
            ++handled;
        }
        return LParam{0};
    });
    // The GUI thread is busy (not in Qt's loop) while the worker's wait runs out.
    bool delivered = true;
    std::thread worker([&] { delivered = MessageLoop::Instance().SendMessageTimeout(window_, kMsgSend, 0, 0, 20); });
    worker.join();
    EXPECT_FALSE(delivered);
    EXPECT_EQ(handled, 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return handled == 1; }, 5000));
}

TEST_F(QtLoopDriverTest, TimerFollowsRestartAndKill) {
    int ticks = 0;
    window_ = MessageLoop::Instance().CreateWindow([&](uint32_t msg, WParam, LParam) {
        if (msg == platform::WM_TIMER) {
            ++ticks;
        }
        return LParam{0};
    });
    // A long interval first, then a short one: the driver's timer must be re-armed.
    MessageLoop::Instance().SetTimer(window_, 7, 60000);
    QTest::qWait(20);
    MessageLoop::Instance().SetTimer(window_, 7, 10);
    EXPECT_TRUE(QTest::qWaitFor([&] { return ticks >= 3; }, 5000));
    MessageLoop::Instance().KillTimer(window_, 7);
    QTest::qWait(10);
    const int after = ticks;
    QTest::qWait(60);
    EXPECT_EQ(ticks, after);
}

TEST_F(QtLoopDriverTest, QuitIsSignalledOnce) {
    QSignalSpy spy(&installed_.driver, &QtLoopDriver::QuitRequested);
    window_ = MessageLoop::Instance().CreateWindow([](uint32_t, WParam, LParam) { return LParam{0}; });
    MessageLoop::Instance().Quit(3);
    EXPECT_TRUE(QTest::qWaitFor([&] { return spy.count() == 1; }, 5000));
    platform::PostMessage(window_, kMsgPost, 0, 0);
    QTest::qWait(20);
    EXPECT_EQ(spy.count(), 1);
}

TEST_F(QtLoopDriverTest, UninstalledDriverLeavesQueueAlone) {
    int handled = 0;
    window_ = MessageLoop::Instance().CreateWindow([&](uint32_t msg, WParam, LParam) {
        if (msg == kMsgPost) {
            ++handled;
        }
        return LParam{0};
    });
    installed_.driver.Uninstall();
    platform::PostMessage(window_, kMsgPost, 0, 0);
    QTest::qWait(20);
    EXPECT_EQ(handled, 0);
    installed_.driver.Install();  // installing serves what waited meanwhile
    EXPECT_TRUE(QTest::qWaitFor([&] { return handled == 1; }, 5000));
}

}  // namespace
}  // namespace hydrix::gui
