// The dispatcher under a stream that never pauses: while cycles keep finding bytes the
// dispatcher thread waits on the device itself, and everything the threads promise must
// still hold: order, triggers, timers, the hang-up report and a prompt close.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "comm/dispatcher.h"
#include "comm/posix_port_device.h"
#include "forwarding_device.h"
#include "platform/message_loop.h"
#include "pty_dispatcher.h"

namespace hydrix::comm {
namespace {

using hydrix::test::Pattern;
using hydrix::test::PtyDispatcher;
using hydrix::test::PumpUntil;
using Clock = std::chrono::steady_clock;

constexpr auto kDeadline = std::chrono::seconds(20);

// Reads every offered byte, as the terminal does, and remembers how much had come when
// each data trigger fired.
class Collector {
public:
    void Attach(BaseDispatcher& d) {
        d.SetAvailThreshold(1);
        d.AttachMethodHandler(this, [this, &d](uint32_t msg, uint32_t count, int32_t) {
            std::lock_guard guard(lock_);
            if (msg == kTriggerDataMsg) {
                atTrigger_.push_back(got_.size());
            } else if (msg == kTriggerAvailMsg) {
                std::string chunk(count, '\0');
                if (d.ReadBytes(chunk.data(), static_cast<int>(count)) == static_cast<int>(count)) {
                    got_ += chunk;
                }
            } else if (msg == kTriggerTimerMsg) {
                ++timers_;
            }
            changed_.notify_all();
        });
    }
    // Waits until at least size bytes came; false when the deadline passed first.
    bool WaitForBytes(size_t size) {
        std::unique_lock held(lock_);
        return changed_.wait_for(held, kDeadline, [&] { return got_.size() >= size; });
    }
    bool WaitForTimer() {
        std::unique_lock held(lock_);
        return changed_.wait_for(held, kDeadline, [&] { return timers_ > 0; });
    }
    std::string Got() {
        std::lock_guard guard(lock_);
        return got_;
    }
    std::vector<size_t> AtTrigger() {
        std::lock_guard guard(lock_);
        return atTrigger_;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::string got_;
    std::vector<size_t> atTrigger_;
    int timers_ = 0;
};

// Writes a pattern into the pty master without a pause until stopped, or until its
// deadline passes (then it ran out: whatever it waited for never came).
class Flood {
public:
    explicit Flood(hydrix::test::PtyPair& pty) : pty_(pty), thread_([this] { Run(); }) {}
    ~Flood() { Stop(); }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    bool RanOut() const { return ranOut_; }

private:
    void Run() {
        const std::string block = Pattern(64 * 1024, 3);
        const auto deadline = Clock::now() + kDeadline;
        while (!stop_) {
            if (Clock::now() > deadline) {
                ranOut_ = true;
                return;
            }
            // A short wait for room, so that a stop is seen soon also when nobody reads.
            pty_.WriteMaster(block, 20);
        }
    }

    hydrix::test::PtyPair& pty_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> ranOut_{false};
    std::thread thread_;
};

class PtyFlood : public PtyDispatcher {
protected:
    // A member, so that it outlives the dispatcher whose thread calls it.
    Collector collector_;
};

TEST_F(PtyFlood, EveryPromptInAFloodFiresAfterExactlyTheBytesBeforeIt) {
    auto d = Open();
    d->NewDataTrigger(">", false, 1);
    collector_.Attach(*d);
    std::string stream;
    std::vector<size_t> prompts;
    for (int line = 0; line < 2000; ++line) {
        stream += "record " + std::to_string(line) + " " + std::string(static_cast<size_t>(line % 300), 'x') + "\r\n";
        prompts.push_back(stream.size());
        stream += ">";
    }
    ASSERT_TRUE(pty_.WriteMaster(stream, 20000));
    ASSERT_TRUE(collector_.WaitForBytes(stream.size()));
    EXPECT_EQ(collector_.AtTrigger(), prompts);
}

// Counts the device waits the com thread makes (those without a time-out).
class HandOffCounter : public hydrix::test::ForwardingDevice {
public:
    explicit HandOffCounter(std::atomic<int>& comWaits)
        : ForwardingDevice(std::make_unique<PosixPortDevice>()), comWaits_(comWaits) {}
    int WaitEvent(uint32_t& events, uint32_t timeoutMs) override {
        if (timeoutMs == platform::kInfinite) {
            ++comWaits_;
        }
        return ForwardingDevice::WaitEvent(events, timeoutMs);
    }

private:
    std::atomic<int>& comWaits_;
};

TEST_F(PtyFlood, AStreamIsNotHandedBetweenTheThreadsAtEveryRead) {
    std::atomic<int> comWaits{0};
    auto d = Open(115200, 4096, platform::SystemClock(), std::make_unique<HandOffCounter>(comWaits));
    collector_.Attach(*d);
    // Each piece comes soon after the last was delivered, well within one cycle.
    constexpr int kPieces = 100;
    const std::string piece = Pattern(1000, 5);
    for (int i = 1; i <= kPieces; ++i) {
        ASSERT_TRUE(pty_.WriteMaster(piece));
        ASSERT_TRUE(collector_.WaitForBytes(piece.size() * static_cast<size_t>(i)));
    }
    EXPECT_LT(comWaits.load(), kPieces / 4);
}

TEST_F(PtyFlood, ACloseInTheMiddleOfAFloodDoesNotWaitForItsEnd) {
    auto d = Open();
    collector_.Attach(*d);
    Flood flood(pty_);
    ASSERT_TRUE(collector_.WaitForBytes(256 * 1024));
    d->CloseDevice();
    flood.Stop();
    EXPECT_FALSE(flood.RanOut());
}

TEST_F(PtyFlood, ATimerTriggerFiresInTheMiddleOfAFlood) {
    auto d = Open();
    collector_.Attach(*d);
    const int timer = d->NewTimerTrigger();
    Flood flood(pty_);
    ASSERT_TRUE(collector_.WaitForBytes(64 * 1024));
    ASSERT_EQ(d->ArmTimerTrigger(timer, 2, true), 0);
    const bool fired = collector_.WaitForTimer();
    flood.Stop();
    EXPECT_TRUE(fired && !flood.RanOut());
}

TEST_F(PtyFlood, ALineHungUpInTheMiddleOfAFloodIsReported) {
    auto& loop = platform::MessageLoop::Instance();
    bool lost = false;
    const platform::WindowHandle window = loop.CreateWindow([&](uint32_t msg, platform::WParam, platform::LParam) {
        lost = lost || msg == kDeviceLostMsg;
        return platform::LResult{0};
    });
    auto d = Open();
    d->AttachWindowHandler(window);
    collector_.Attach(*d);
    std::thread writer([&] {
        pty_.WriteMaster(Pattern(512 * 1024, 7), 20000);
        pty_.CloseMaster();
    });
    const bool reported = PumpUntil([&] { return lost; }, 20000);
    writer.join();
    EXPECT_TRUE(reported);
    d->DetachWindowHandler(window);
    d.reset();
    loop.DestroyWindow(window);
}

}  // namespace
}  // namespace hydrix::comm
