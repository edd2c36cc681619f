// The POSIX dispatcher with its three threads over a real pseudo-terminal reached
// through the COM mapping of a temporary Wine prefix; the test's main thread is the
// GUI thread that window notifications arrive on.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "capturing_ui.h"
#include "comm/dispatcher.h"
#include "comm/dispatcher_threads.h"
#include "comm/exceptions.h"
#include "comm/posix_port_device.h"
#include "forwarding_device.h"
#include "platform/dialogs.h"
#include "platform/message_loop.h"
#include "pty_dispatcher.h"
#include "pty_helper.h"
#include "stepping_clock.h"

namespace hydrix::comm {
namespace {

using hydrix::test::CapturingUi;
using hydrix::test::kPtyCom;
using hydrix::test::Pattern;
using hydrix::test::PtyDispatcher;
using hydrix::test::PumpUntil;

class BothWays : public PtyDispatcher, public ::testing::WithParamInterface<int32_t> {};

TEST_P(BothWays, MegabyteEachWayArrivesWholeAndInOrder) {
    const size_t size = 1 << 20;
    auto d = Open(GetParam(), 8192);
    std::mutex lock;
    std::string received;
    d->SetAvailThreshold(1);
    d->AttachMethodHandler(&received, [&](uint32_t msg, uint32_t count, int32_t) {
        if (msg != kTriggerAvailMsg) {
            return;
        }
        std::string chunk(count, '\0');
        ASSERT_EQ(d->ReadBytes(chunk.data(), static_cast<int>(count)), static_cast<int>(count));
        std::lock_guard guard(lock);
        received += chunk;
    });

    const std::string inbound = Pattern(size, 1);
    const std::string outbound = Pattern(size, 2);
    std::string atMaster;
    std::thread writer([&] { EXPECT_TRUE(pty_.WriteMaster(inbound, 60000)); });
    std::thread reader([&] { atMaster = pty_.ReadMaster(size, 60000); });

    size_t queued = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (queued < size) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the output ring never made room";
        const int room = d->OutputRoom();
        if (room <= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        const size_t n = std::min(static_cast<size_t>(room), size - queued);
        ASSERT_EQ(d->QueueBytes(outbound.data() + queued, static_cast<int>(n)), 0);
        queued += n;
    }
    writer.join();
    reader.join();
    EXPECT_TRUE(PumpUntil(
        [&] {
            std::lock_guard guard(lock);
            return received.size() >= size;
        },
        60000));
    std::lock_guard guard(lock);
    EXPECT_TRUE(received == inbound) << "received " << received.size() << " bytes";
    EXPECT_TRUE(atMaster == outbound) << "sent " << atMaster.size() << " bytes";
}

INSTANTIATE_TEST_SUITE_P(Rates, BothWays, ::testing::Values(115200, 921600));

TEST_F(PtyDispatcher, DataTriggerReachesAWindowOnTheGuiThread) {
    auto& loop = platform::MessageLoop::Instance();
    struct Seen {
        uint32_t msg;
        platform::WParam w;
        platform::LParam l;
        std::thread::id thread;
    };
    std::vector<Seen> seen;
    const platform::WindowHandle window = loop.CreateWindow([&](uint32_t m, platform::WParam w, platform::LParam l) {
        seen.push_back({m, w, l, std::this_thread::get_id()});
        return platform::LResult{0};
    });
    auto d = Open();
    const int prompt = d->NewDataTrigger(">", false, 1);
    d->AttachWindowHandler(window);
    d->SetHandlerFlags(HandlerFlagsMode::kPortEvents);
    ASSERT_TRUE(pty_.WriteMaster("PS3 ok\r\n>"));
    ASSERT_TRUE(PumpUntil(
        [&] { return std::any_of(seen.begin(), seen.end(), [](const Seen& s) { return s.msg == kTriggerDataMsg; }); }));
    const auto it = std::find_if(seen.begin(), seen.end(), [](const Seen& s) { return s.msg == kTriggerDataMsg; });
    EXPECT_EQ(it->w, static_cast<platform::WParam>(prompt));
    EXPECT_EQ(NotifyDataOf(it->l), 1u);
    EXPECT_EQ(RegistryIndexOf(it->l), d->RegistryIndex());
    EXPECT_EQ(it->thread, std::this_thread::get_id());
    d->DetachWindowHandler(window);
    d.reset();
    loop.DestroyWindow(window);
}

TEST_F(PtyDispatcher, TimerTriggersFireWithNoTraffic) {
    auto d = Open();
    std::atomic<int> fired{0};
    const int timer = d->NewTimerTrigger();
    d->AttachMethodHandler(&fired, [&](uint32_t msg, uint32_t handle, int32_t) {
        if (msg == kTriggerTimerMsg && handle == static_cast<uint32_t>(timer)) {
            ++fired;
        }
    });
    ASSERT_EQ(d->ArmTimerTrigger(timer, 2, true), 0);
    EXPECT_TRUE(PumpUntil([&] { return fired.load() == 1; }, 5000));
    ASSERT_EQ(d->ArmTimerTrigger(timer, 0, true), 0);
    EXPECT_TRUE(PumpUntil([&] { return fired.load() == 2; }, 5000));
}

TEST_F(PtyDispatcher, PurgeDuringALongWriteEmptiesTheRingAndOutputGoesOn) {
    auto d = Open(115200, 16384);
    // Nobody reads the master: the pty fills up and the output thread waits in a write.
    const std::string block(4096, 'x');
    size_t queued = 0;
    for (int spins = 0; spins < 5000 && queued < (1u << 20); ++spins) {
        if (d->OutputRoom() >= 4096) {
            ASSERT_EQ(d->QueueBytes(block.data(), 4096), 0);
            queued += 4096;
        } else if (d->OutputPending() > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (d->OutputRoom() < 4096) {
                break;  // the write is stuck
            }
        }
    }
    ASSERT_GT(d->OutputPending(), 0);
    EXPECT_EQ(d->PurgeOutput(), 0);
    EXPECT_EQ(d->OutputPending(), 0);

    // Drain what the pty still held, then the ring works as before.
    while (!pty_.ReadMaster(1 << 16, 100).empty()) {
    }
    ASSERT_EQ(d->QueueBytes("after", 5), 0);
    EXPECT_EQ(pty_.ReadMaster(5, 5000), "after");
}

TEST_F(PtyDispatcher, CloseFromInsideANotificationIsFinishedByTheDispatcherThread) {
    auto& loop = platform::MessageLoop::Instance();
    std::unique_ptr<BaseDispatcher> d;
    bool pendingSeen = false;
    bool threadsStillRunning = false;
    const platform::WindowHandle window = loop.CreateWindow([&](uint32_t m, platform::WParam, platform::LParam) {
        if (m == kTriggerDataMsg && d->DeviceIsOpen()) {
            d->CloseDevice();
            pendingSeen = d->ClosePending();
            threadsStillRunning = d->ThreadsRunning();
        }
        return platform::LResult{0};
    });
    d = Open();
    d->NewDataTrigger("bye", false, 3);
    d->AttachWindowHandler(window);
    d->SetHandlerFlags(HandlerFlagsMode::kPortEvents);
    ASSERT_TRUE(pty_.WriteMaster("good bye"));
    ASSERT_TRUE(PumpUntil([&] { return pendingSeen; }));
    EXPECT_TRUE(threadsStillRunning);
    EXPECT_TRUE(PumpUntil([&] { return !d->ThreadsRunning(); }));
    EXPECT_EQ(d->RunningThreads(), 0);
    d.reset();
    loop.DestroyWindow(window);
}

TEST_F(PtyDispatcher, ASecondOpenSeesThePortInUseAndAMissingDeviceIsReported) {
    auto first = Open();
    BaseDispatcher second(nullptr);
    EXPECT_EQ(second.OpenDevice("COM" + std::to_string(kPtyCom), 115200, 3, 4096, 4096, 1, 8, 0), -5);
    EXPECT_FALSE(second.ThreadsRunning());
    BaseDispatcher missing(nullptr);
    EXPECT_EQ(missing.OpenDevice("/nonexistent/ttyUSB9", 115200, 3, 4096, 4096, 1, 8, 0), -2);
    // The first is undisturbed.
    ASSERT_EQ(first->QueueBytes("hi", 2), 0);
    EXPECT_EQ(pty_.ReadMaster(2), "hi");
}

TEST_F(PtyDispatcher, Rs485ModeWithoutDriverSupportIsNoErrorAndTheLineWorksOn) {
    auto d = Open();
    d->SetRs485Mode(true);
    EXPECT_TRUE(d->Rs485Mode());
    EXPECT_EQ(d->ApplyLineSettings(9600, 0, 1, 8), 0);
    ASSERT_EQ(d->QueueBytes("485", 3), 0);
    EXPECT_EQ(pty_.ReadMaster(3), "485");
}

TEST_F(PtyDispatcher, StartingRunningThreadsAgainRaises) {
    auto d = Open();
    EXPECT_THROW(d->StartThreads(), ECommException);
    EXPECT_EQ(d->RunningThreads(), 3);
}

TEST_F(PtyDispatcher, AWorkerEndedByAnExceptionIsReportedAndCloseDoesNotHang) {
    auto ui = std::make_shared<CapturingUi>();
    auto previous = platform::SetUserInterface(ui);
    auto d = Open();
    d->SetAvailThreshold(1);
    d->AttachMethodHandler(ui.get(), [](uint32_t msg, uint32_t, int32_t) {
        if (msg == kTriggerAvailMsg) {
            throw std::runtime_error("handler failed");
        }
    });
    ASSERT_TRUE(pty_.WriteMaster("x"));
    EXPECT_TRUE(PumpUntil([&] { return d->RunningThreads() == 2; }));
    EXPECT_FALSE(d->InDispatch());
    EXPECT_EQ(ui->Messages(), std::vector<std::string>{"handler failed"});
    EXPECT_EQ(d->CloseDevice(), 0);
    EXPECT_EQ(d->RunningThreads(), 0);
    d.reset();
    platform::SetUserInterface(previous);
}

TEST_F(PtyDispatcher, AStuckDispatcherThreadIsWaitedForAndCanTakeTheLock) {
    test::SteppingClock clock(1000 * 55);
    auto d = Open(115200, 4096, clock);
    std::atomic<bool> entered{false}, release{false}, finished{false};
    d->NewDataTrigger("!", false, 1);
    d->AttachMethodHandler(&entered, [&](uint32_t msg, uint32_t, int32_t) {
        if (msg != kTriggerDataMsg) {
            return;
        }
        entered = true;
        release.wait(false);
        d->NewTimerTrigger();  // needs the dispatcher lock
        finished = true;
    });
    ASSERT_TRUE(pty_.WriteMaster("!"));
    ASSERT_TRUE(PumpUntil([&] { return entered.load(); }));
    // Each look at the clock is past a bounded wait of the stop.
    clock.Start(100 * platform::kMsPerTick);
    std::atomic<bool> bothWaitsRanOut{false};
    std::thread helper([&] {
        // Two looks at the clock for each of the stop's bounded waits; then it waits on.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (clock.Looks() < 4 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        bothWaitsRanOut = clock.Looks() >= 4;
        release = true;
        release.notify_all();
    });
    d->StopThreads();
    EXPECT_TRUE(finished) << "StopThreads returned while the thread still ran";
    helper.join();
    EXPECT_TRUE(bothWaitsRanOut) << "the stop did not wait out its bounded waits";
    EXPECT_FALSE(d->ThreadsRunning());
    d.reset();
}

// Counts the device waits and reads, to tell a resting thread from a spinning one.
class CountingDevice : public test::ForwardingDevice {
public:
    struct Counts {
        std::atomic<int> reads{0};
        std::atomic<int> waits{0};
    };
    explicit CountingDevice(Counts& counts) : ForwardingDevice(std::make_unique<PosixPortDevice>()), counts_(counts) {}
    int Read(void* buffer, int count) override {
        ++counts_.reads;
        return ForwardingDevice::Read(buffer, count);
    }
    int WaitEvent(uint32_t& events, uint32_t timeoutMs) override {
        ++counts_.waits;
        return ForwardingDevice::WaitEvent(events, timeoutMs);
    }

private:
    Counts& counts_;
};

TEST_F(PtyDispatcher, AHungUpLineMakesNoThreadSpinAndStillCloses) {
    CountingDevice::Counts counts;
    auto d = Open(115200, 4096, platform::SystemClock(), std::make_unique<CountingDevice>(counts));
    ASSERT_TRUE(pty_.WriteMaster("data"));
    pty_.CloseMaster();
    PumpUntil([] { return false; }, 200);
    const int reads = counts.reads;
    const int waits = counts.waits;
    PumpUntil([] { return false; }, 500);
    // Ten cycles of 50 ms in half a second; a spinning thread would make thousands.
    EXPECT_LT(counts.reads - reads, 60);
    EXPECT_LT(counts.waits - waits, 20);
    EXPECT_EQ(d->CloseDevice(), 0);
    EXPECT_EQ(d->RunningThreads(), 0);
}

}  // namespace
}  // namespace hydrix::comm
