// The dispatcher core on an in-memory device: rings, line settings, signals, trigger
// handles, timers and the delivery rules, with the test playing the dispatcher thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "comm/dispatcher_registry.h"
#include "comm/line_settings.h"
#include "comm/ring.h"
#include "fake_device.h"
#include "platform/message_loop.h"
#include "stepping_clock.h"

namespace hydrix::comm {
namespace {

using test::FakeDispatcher;

struct Notice {
    uint32_t Msg;
    uint32_t Handle;
    int32_t Param;
    bool operator==(const Notice&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Notice& n) {
    return os << "{" << n.Msg << ", " << n.Handle << ", " << n.Param << "}";
}

// Records every notification; reads nothing.
struct Recorder {
    std::vector<Notice> notices;
    void Attach(FakeDispatcher& d) {
        d->AttachMethodHandler(this, [this](uint32_t m, uint32_t h, int32_t p) { notices.push_back({m, h, p}); });
    }
};

// A full ring of four bytes whose oldest byte sits at position 2, so that text wraps.
Ring WrappedRing(const std::string& text) {
    Ring ring;
    ring.Allocate(4);
    const uint8_t skip[2] = {};
    ring.Put(skip, 2);
    ring.Consume(2);
    ring.Put(reinterpret_cast<const uint8_t*>(text.data()), 4);
    return ring;
}

TEST(Ring, CountCoversEveryHeadTailRelation) {
    struct Row {
        uint32_t head, tail;
        bool full;
        uint32_t count;
    };
    for (const Row& r :
         {Row{5, 2, false, 3}, Row{2, 5, false, 7}, Row{4, 4, false, 0}, Row{4, 4, true, 10}, Row{0, 0, true, 10}}) {
        EXPECT_EQ(RingCount(r.head, r.tail, 10, r.full), r.count) << r.head << "," << r.tail;
    }
    EXPECT_EQ(RingAdvance(9, 1, 10), 0u);
    Ring ring = WrappedRing("abcd");
    uint8_t out[4];
    ring.Peek(0, out, 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 4), "abcd");
}

TEST(Ring, WrappedBytesAreRotatedIntoOneBlockForTheWrite) {
    Ring ring = WrappedRing("abcd");
    uint32_t length = 0;
    const uint8_t* block = ring.OldestBlock(length);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(block), length), "abcd");
}

TEST(DispatcherCore, OpenFailureIsReturnedAndLeavesNothingOpen) {
    FakeDispatcher d;
    d.dev.openResult = -5;
    EXPECT_EQ(d.Open(), -5);
    EXPECT_FALSE(d->DeviceIsOpen());
    EXPECT_EQ(d->BytesAvailable(), 0);
    EXPECT_EQ(d->QueueBytes("x", 1), ecNotOpen);
}

TEST(DispatcherCore, ReadBytesRefusesOneMoreThanAvailableAndLeavesRing) {
    FakeDispatcher d;
    ASSERT_EQ(d.Open(), 0);
    d.ReceiveAndCycle("0123456789");
    char buf[16] = {};
    EXPECT_EQ(d->ReadBytes(buf, 11), ecBufferIsEmpty);
    EXPECT_EQ(d->BytesAvailable(), 10);
    EXPECT_EQ(d->ReadBytes(buf, 4), 4);
    EXPECT_EQ(std::string(buf, 4), "0123");
    EXPECT_EQ(d->ReadBytes(buf, 6), 6);
    EXPECT_EQ(std::string(buf, 6), "456789");
    EXPECT_EQ(d->BytesAvailable(), 0);
}

TEST(DispatcherCore, FullInputRingLeavesTheExcessInTheDriverAndWrapsIntact) {
    FakeDispatcher d;
    ASSERT_EQ(d.Open(), 0);
    std::string sent;
    for (int i = 0; i < 9000; ++i) {
        sent.push_back(static_cast<char>('A' + i % 26));
    }
    d.ReceiveAndCycle(sent);
    EXPECT_EQ(d->BytesAvailable(), 8192);
    EXPECT_EQ(d.dev.rx.size(), 9000u - 8192u);
    d->RunDeviceCycle();
    EXPECT_EQ(d.dev.rx.size(), 9000u - 8192u) << "a full ring reads nothing more";

    std::string got(8000, '\0');
    ASSERT_EQ(d->ReadBytes(got.data(), 8000), 8000);
    d->RunDeviceCycle();  // the rest now fits, across the end of the ring
    EXPECT_TRUE(d.dev.rx.empty());
    std::string rest(1000, '\0');
    ASSERT_EQ(d->ReadBytes(rest.data(), 1000), 1000);
    EXPECT_EQ(got + rest, sent);
}

TEST(DispatcherCore, QueueBytesOfExactRoomFillsTheRingAndOneMoreIsRefused) {
    FakeDispatcher d;
    ASSERT_EQ(d.Open(64), 0);
    const std::string block(64, 'x');
    EXPECT_EQ(d->QueueBytes(block.data(), 64), 0);
    EXPECT_EQ(d->OutputPending(), 64) << "a full ring: only its full flag counts it so";
    EXPECT_EQ(d->OutputRoom(), 0);
    EXPECT_EQ(d->QueueByte('y'), ecOutputBufferTooSmall);
    EXPECT_EQ(d.DrainOutputRing(), block);

    EXPECT_EQ(d->QueueBytes(block.data(), 10), 0);
    EXPECT_EQ(d->QueueBytes(block.data(), 55), ecOutputBufferTooSmall) << "refused whole, never in part";
    EXPECT_EQ(d->OutputPending(), 10);
    EXPECT_EQ(d->QueueBytes(nullptr, 0), 0);
}

TEST(DispatcherCore, BytesTheDriverHoldsArePendingButTakeNoRingRoom) {
    FakeDispatcher d;
    ASSERT_EQ(d.Open(64), 0);
    d.dev.driverOutQueue = 100;
    EXPECT_EQ(d->QueueBytes("0123456789", 10), 0);
    EXPECT_EQ(d->OutputPending(), 110);
    EXPECT_EQ(d->OutputRoom(), 54);
}

TEST(DispatcherCore, LineChangeWaitsUntilTheDriverHasSentItsBytes) {
    // A few kilobytes the port reports as written, still in the driver's queue: a baud
    // change now would garble them.
    FakeDispatcher d;
    ASSERT_EQ(d.Open(), 0);
    d.dev.driverOutQueue = 3000;
    d.dev.driverSentPerLook = 500;
    ASSERT_EQ(d->ApplyLineSettings(9600, 2, 1, 8), 0);
    EXPECT_EQ(d.dev.driverQueueAtStateWrite, 0u);
}

TEST(DispatcherCore, SameLineSettingsAreNotWrittenTwice) {
    FakeDispatcher d;
    ASSERT_EQ(d.Open(), 0);
    const int writes = d.dev.stateWrites;
    EXPECT_EQ(d->ApplyLineSettings(19200, 0, 1, 8), 0);
    EXPECT_EQ(d.dev.stateWrites, writes);
    EXPECT_EQ(d->ApplyLineSettings(9600, 2, 2, 7), 0);
    EXPECT_EQ(d.dev.stateWrites, writes + 1);
    EXPECT_EQ(d.dev.state.BaudRate, 9600u);
    EXPECT_EQ(d.dev.state.Parity, platform::DeviceState::EvenParity);
    EXPECT_EQ(d.dev.state.StopBits, platform::DeviceState::TwoStopBits);
    EXPECT_EQ(d.dev.state.ByteSize, 7);
    // Parity 5, stop bits 3 and data bits 9 keep what is set.
    EXPECT_EQ(d->ApplyLineSettings(9600, 5, 3, 9), 0);
    EXPECT_EQ(d.dev.stateWrites, writes + 1);
    const LineSettings q = d->QueryLineSettings();
    EXPECT_EQ(q.Baud, 9600);
    EXPECT_EQ(q.Parity, 2);
    EXPECT_EQ(q.DataBits, 7);
    EXPECT_EQ(q.StopBits, 2);
}

TEST(LineSettings, NormalisingAndReadingBack) {
    const platform::DeviceState current;
    EXPECT_EQ(NormalizeLineSettings(current, 1200, 0, 2, 5).StopBits, platform::DeviceState::One5StopBits);
    EXPECT_EQ(NormalizeLineSettings(current, 1200, 0, 0, 8).StopBits, platform::DeviceState::OneStopBit);
    EXPECT_EQ(NormalizeLineSettings(current, 1200, 0, 7, 8).StopBits, platform::DeviceState::TwoStopBits);
    EXPECT_EQ(TranslateBaud(0xFEFF), 115200);
    EXPECT_EQ(TranslateBaud(0xFF10), 110);
    EXPECT_EQ(TranslateBaud(0xFF27), 256000);
    EXPECT_EQ(TranslateBaud(0xFF19), 0xFF19);  // no rate for that code
    EXPECT_EQ(TranslateBaud(57600), 57600);
    platform::DeviceState s;  // 8N1: 10 bits
    // 10 000 000 / 9600 = 1041; x 10 bits x 18 chars x 2 (slow line) = 374760 x 100 ns.
    EXPECT_EQ(DrainSleepMs(9600, s), 38u);
    EXPECT_EQ(DrainSleepMs(115200, s), 2u);
}

TEST(DispatcherCore, DtrUnderFlowControlIsLeftAlone) {
    FakeDispatcher d;
    ASSERT_EQ(d.Open(4096, kOpenDtrOn | kOpenDtrFlow), 0);
    d.dev.escapes.clear();
    EXPECT_EQ(d->SetDtrLine(false), 1);
    EXPECT_TRUE(std::find(d.dev.escapes.begin(), d.dev.escapes.end(), platform::kClrDtr) == d.dev.escapes.end());
    EXPECT_EQ(d->SetRtsLine(false), 0);
    EXPECT_EQ(d.dev.escapes.back(), platform::kClrRts);
    d.dev.escapeResult = -5;
    EXPECT_EQ(d->SetRtsLine(true), ecBadArgument);
}

TEST(DispatcherCore, FlowControlChecksItsLimits) {
    FakeDispatcher d;
    ASSERT_EQ(d.Open(), 0);
    const int writes = d.dev.stateWrites;
    EXPECT_EQ(d->ConfigureHardwareFlow(100, 200, 3), ecBadArgument);
    EXPECT_EQ(d->ConfigureHardwareFlow(5000, 100, 3), ecBadArgument);
    EXPECT_EQ(d->ConfigureSoftwareFlow(100, 200, 3), ecBadArgument);
    EXPECT_EQ(d.dev.stateWrites, writes);

    EXPECT_EQ(d->ConfigureHardwareFlow(3686, 410, 1 | 8), 0);
    EXPECT_EQ(d.dev.state.DtrControl, platform::DeviceState::DtrHandshake);
    EXPECT_TRUE(d.dev.state.OutxCtsFlow);
    EXPECT_EQ(d.dev.state.XoffLim, 4096 - 3686);
    EXPECT_EQ(d.dev.state.XonLim, 410);
    EXPECT_EQ(d->SetDtrLine(true), 1) << "DTR now belongs to the handshake";
    EXPECT_EQ(d->QueryFlowSettings().HardwareOptions, 1u | 8u);

    EXPECT_EQ(d->ConfigureSoftwareFlow(3072, 1024, 3), 0);
    EXPECT_TRUE(d.dev.state.InX && d.dev.state.OutX);
    EXPECT_EQ(d->QueryFlowSettings().SoftwareOptions, 3u);
    EXPECT_EQ(d->DisableSoftwareFlow(), 0);
    EXPECT_FALSE(d.dev.state.InX || d.dev.state.OutX);
}

TEST(DispatcherCore, LineErrorsComeInOrderAndTheBreakStaysForItsOwnQuery) {
    FakeDispatcher d;
    ASSERT_EQ(d.Open(), 0);
    d.dev.lineErrors = platform::kCeOverrun | platform::kCeBreak | platform::kCeFrame;
    d->OutputPending();  // any status read accumulates the flags
    EXPECT_EQ(d->TakeLineError(), 2);
    EXPECT_EQ(d->TakeLineError(), 9) << "overrun and framing were cleared together";
    EXPECT_TRUE(d->TakeBreakFlag());
    EXPECT_FALSE(d->TakeBreakFlag());
    EXPECT_EQ(d->TakeLineError(), 0);
}

TEST(DispatcherCore, ModemChangeFlagsStayUntilClearedByMask) {
    FakeDispatcher d;
    ASSERT_EQ(d.Open(), 0);
    EXPECT_EQ(d->ReadModemSignals(0xF0), 0);
    d.dev.modemSignals = platform::kModemCts | platform::kModemDcd;
    EXPECT_EQ(d->ReadModemSignals(0xFF), 0x90 | 0x01 | 0x08);
    d.dev.modemSignals = platform::kModemDcd;
    EXPECT_EQ(d->ReadModemSignals(0xF0), 0x80 | 0x01 | 0x08);
    EXPECT_EQ(d->ReadModemSignals(0xF0), 0x80);
}

TEST(DispatcherCore, OptionBitsAndRs485AreRecorded) {
    FakeDispatcher d;
    d->SetOptionBits(kOptionEventWord | 1);
    d->ClearOptionBits(1);
    EXPECT_EQ(d->OptionBits(), kOptionEventWord);
    d->SetRs485Mode(true);
    EXPECT_TRUE(d->Rs485Mode());
}

TEST(DispatcherCore, Rs485ModeReachesTheDeviceAtOnce) {
    FakeDispatcher d;
    ASSERT_EQ(d.Open(), 0);
    ASSERT_EQ(d->ConfigureHardwareFlow(3686, 410, 2), 0);
    d->SetRs485Mode(true);
    EXPECT_EQ(d.dev.state.RtsControl, platform::DeviceState::RtsToggle);
    d->SetRs485Mode(false);
    EXPECT_EQ(d.dev.state.RtsControl, platform::DeviceState::RtsHandshake) << "back to the flow control configured";
}

TEST(DispatcherCore, LineBreakIsSetForItsTicksAndCleared) {
    hydrix::test::SteppingClock clock(1000 * 55);
    FakeDispatcher d(clock);
    ASSERT_EQ(d.Open(), 0);
    d.dev.escapes.clear();
    // A tick per look: the hold ends without the test moving the clock from another thread.
    clock.Start(platform::kMsPerTick);
    EXPECT_EQ(d->SendLineBreak(5, false), 0);
    EXPECT_EQ(d.dev.escapes, (std::vector<int>{kSetBreak, kClrBreak}));
}

// Trigger handles --------------------------------------------------------------------------

TEST(TriggerHandles, CounterThenSearchUpTo4096) {
    std::vector<TimerTrigger> timers;
    std::vector<DataTrigger> datas;
    std::vector<StatusTrigger> statuses;
    auto timer = [](int handle) {
        TimerTrigger t;
        t.Handle = handle;
        return t;
    };
    int32_t counter = 1;
    EXPECT_EQ(IssueTriggerHandle(counter, timers, datas, statuses), 8);
    counter = 4095;
    EXPECT_EQ(IssueTriggerHandle(counter, timers, datas, statuses), 32760);
    EXPECT_EQ(counter, 4096);
    // From now on the lowest free multiple of 8; a status handle counts without its type.
    timers.push_back(timer(8));
    statuses.push_back(StatusTrigger{16 + kStatusOutSent});
    EXPECT_EQ(IssueTriggerHandle(counter, timers, datas, statuses), 24);
    // The search goes up to 4096 itself.
    for (int h = 24; h < 4096; h += 8) {
        timers.push_back(timer(h));
    }
    EXPECT_EQ(IssueTriggerHandle(counter, timers, datas, statuses), 4096);
    timers.push_back(timer(4096));
    EXPECT_EQ(IssueTriggerHandle(counter, timers, datas, statuses), 0);
}

TEST(TriggerHandles, DispatcherRunsOutOfSlotsPast4096) {
    FakeDispatcher d;
    ASSERT_EQ(d.Open(), 0);
    int last = 0;
    for (int i = 1; i < 4096; ++i) {
        last = d->NewTimerTrigger();
    }
    EXPECT_EQ(last, 32760);
    // Every value up to 4096 is held: no handle.
    EXPECT_EQ(d->NewTimerTrigger(), ecNoMoreTriggers);
    EXPECT_EQ(d->DeleteTrigger(800), 0);
    EXPECT_EQ(d->NewDataTrigger("x", false, 1), 800);
    EXPECT_EQ(d->NewDataTrigger("x", false, 1), ecNoMoreTriggers);
}

TEST(TriggerHandles, DeleteChecksItsHandle) {
    FakeDispatcher d;
    ASSERT_EQ(d.Open(), 0);
    d->SetAvailThreshold(1);
    EXPECT_EQ(d->DeleteTrigger(1), 0);
    EXPECT_EQ(d->AvailThreshold(), 0);
    EXPECT_EQ(d->DeleteTrigger(0), ecBadTriggerHandle);
    EXPECT_EQ(d->DeleteTrigger(16), ecBadTriggerHandle);
    EXPECT_EQ(d->ArmTimerTrigger(d->NewDataTrigger("a", false, 1), 1, true), ecBadTriggerHandle);
    EXPECT_EQ(d->NewDataTrigger("abcdefghijklmnopqrstuv", false, 22), ecTriggerTooLong);
    EXPECT_GT(d->NewDataTrigger("abcdefghijklmnopqrstu", false, 21), 0);
}

TEST(TriggerHandles, ReinstatedHandlesNeverCollideWithNewOnes) {
    FakeDispatcher d;
    ASSERT_EQ(d.Open(), 0);
    const int a = d->NewDataTrigger(">", false, 1);
    const int t = d->NewTimerTrigger();
    d->SetAvailThreshold(3);
    TriggerSnapshot snap;
    d->SnapshotTriggers(snap);
    d->CloseDevice();

    ASSERT_EQ(d.Open(), 0);  // every open starts with no triggers
    EXPECT_EQ(d->AvailThreshold(), 0);
    d->ReinstateTriggers(snap);
    EXPECT_EQ(d->AvailThreshold(), 3);
    const int fresh = d->NewTimerTrigger();
    EXPECT_NE(fresh, a);
    EXPECT_NE(fresh, t);
    EXPECT_EQ(d->ArmTimerTrigger(t, 2, true), 0) << "the reinstated timer keeps its handle";
    EXPECT_EQ(d->DeleteTrigger(a), 0);
}

// Timers ---------------------------------------------------------------------------------

TEST(TimerTriggers, OneShotRearmAndRearmWithZeroTicks) {
    platform::ManualClock clock(100 * 55);
    FakeDispatcher d(clock);
    ASSERT_EQ(d.Open(), 0);
    Recorder rec;
    rec.Attach(d);
    const int t = d->NewTimerTrigger();
    d->RunTimerCycle();
    EXPECT_TRUE(rec.notices.empty()) << "a new timer is not armed";

    ASSERT_EQ(d->ArmTimerTrigger(t, 36, true), 0);
    clock.Advance(36 * 55);
    d->RunTimerCycle();
    EXPECT_TRUE(rec.notices.empty()) << "not yet past the expiry tick";
    clock.Advance(55);
    d->RunTimerCycle();
    ASSERT_EQ(rec.notices.size(), 1u);
    EXPECT_EQ(rec.notices[0], (Notice{kTriggerTimerMsg, static_cast<uint32_t>(t), NotifyParam(0, d->RegistryIndex())}));
    clock.Advance(100 * 55);
    d->RunTimerCycle();
    EXPECT_EQ(rec.notices.size(), 1u) << "one-shot";

    ASSERT_EQ(d->ArmTimerTrigger(t, 0, true), 0);  // the interval stays 36
    clock.Advance(36 * 55);
    d->RunTimerCycle();
    EXPECT_EQ(rec.notices.size(), 1u);
    clock.Advance(55);
    d->RunTimerCycle();
    EXPECT_EQ(rec.notices.size(), 2u);

    ASSERT_EQ(d->ArmTimerTrigger(t, 2, true), 0);
    ASSERT_EQ(d->ArmTimerTrigger(t, 0, false), 0);
    clock.Advance(10 * 55);
    d->RunTimerCycle();
    EXPECT_EQ(rec.notices.size(), 2u) << "disarmed";
}

// Delivery -------------------------------------------------------------------------------

TEST(Delivery, TwoHandlersReadTheSameBytesAndTheTailMovesByTheLargerRead) {
    FakeDispatcher d;
    ASSERT_EQ(d.Open(), 0);
    d->SetAvailThreshold(1);
    std::string first, second;
    d->AttachMethodHandler(&first, [&](uint32_t msg, uint32_t, int32_t) {
        if (msg != kTriggerAvailMsg) {
            return;
        }
        first.resize(5);
        ASSERT_EQ(d->ReadBytes(first.data(), 5), 5);
    });
    d->AttachMethodHandler(&second, [&](uint32_t msg, uint32_t count, int32_t) {
        if (msg != kTriggerAvailMsg) {
            return;
        }
        EXPECT_EQ(d->BytesAvailable(), 12);
        second.resize(10);
        ASSERT_EQ(d->ReadBytes(second.data(), 10), 10);
        EXPECT_EQ(count, 12u);
    });
    d.ReceiveAndCycle("abcdefghijkl");
    EXPECT_EQ(first, "abcde");
    EXPECT_EQ(second, "abcdefghij");
    EXPECT_EQ(d->BytesAvailable(), 2);
    char rest[2];
    ASSERT_EQ(d->ReadBytes(rest, 2), 2);
    EXPECT_EQ(std::string(rest, 2), "kl");
}

// A method handler that notes each offer and reads at most limit bytes of it, in pieces
// of up to three bytes.
struct PieceReader {
    std::vector<uint32_t> offers;
    std::string got;
    void Attach(FakeDispatcher& d, uint32_t limit) {
        d->AttachMethodHandler(this, [this, &d, limit](uint32_t msg, uint32_t count, int32_t) {
            if (msg != kTriggerAvailMsg) {
                return;
            }
            offers.push_back(count);
            for (uint32_t left = std::min(count, limit); left > 0;) {
                char buf[3];
                const int n = static_cast<int>(std::min<uint32_t>(left, sizeof buf));
                ASSERT_EQ(d->ReadBytes(buf, n), n);
                got.append(buf, static_cast<size_t>(n));
                left -= static_cast<uint32_t>(n);
            }
        });
    }
};

TEST(Delivery, PartlyReadOfferWaitsForNewBytesThenOffersOldAndNew) {
    FakeDispatcher d;
    ASSERT_EQ(d.Open(), 0);
    d->SetAvailThreshold(1);
    PieceReader reader;
    reader.Attach(d, 3);
    d.ReceiveAndCycle("0123456789");
    d->RunDeviceCycle();
    d->RunDeviceCycle();
    EXPECT_EQ(reader.offers, (std::vector<uint32_t>{10}));
    d.ReceiveAndCycle("ab");
    EXPECT_EQ(reader.offers, (std::vector<uint32_t>{10, 9}));
    EXPECT_EQ(reader.got, "012345");
}

TEST(Delivery, AnOfferReadInSeveralPiecesIsTakenOnceAndInOrder) {
    FakeDispatcher d;
    ASSERT_EQ(d.Open(), 0);
    d->SetAvailThreshold(1);
    PieceReader reader;
    reader.Attach(d, UINT32_MAX);
    d.ReceiveAndCycle("0123456789");
    d->RunDeviceCycle();
    d.ReceiveAndCycle("ab");
    EXPECT_EQ(reader.offers, (std::vector<uint32_t>{10, 2}));
    EXPECT_EQ(reader.got, "0123456789ab");
    EXPECT_EQ(d->BytesAvailable(), 0);
}

TEST(Delivery, AvailabilityBeforeAMatchOffersOnlyWhatPrecedesTheString) {
    FakeDispatcher d;
    ASSERT_EQ(d.Open(), 0);
    const int prompt = d->NewDataTrigger(">", false, 1);
    d->SetAvailThreshold(1);
    Recorder rec;
    rec.Attach(d);
    d.ReceiveAndCycle("PS3\r>");
    const int32_t idx = d->RegistryIndex();
    ASSERT_GE(rec.notices.size(), 2u);
    EXPECT_EQ(rec.notices[0], (Notice{kTriggerAvailMsg, 4, NotifyParam(0, idx)}));
    EXPECT_EQ(rec.notices[1], (Notice{kTriggerDataMsg, static_cast<uint32_t>(prompt), NotifyParam(1, idx)}));
}

TEST(Delivery, WindowHandlersGetNotificationsOnlyWhenThePortWantsThem) {
    auto& loop = platform::MessageLoop::Instance();
    loop.AttachToCurrentThread();
    std::vector<Notice> seen;
    const platform::WindowHandle w = loop.CreateWindow([&](uint32_t m, platform::WParam wp, platform::LParam lp) {
        seen.push_back({m, static_cast<uint32_t>(wp), static_cast<int32_t>(lp)});
        return platform::LResult{0};
    });
    FakeDispatcher d;
    ASSERT_EQ(d.Open(), 0);
    const int h = d->NewDataTrigger("OK", true, 2);
    d->AttachWindowHandler(w);
    d->SetHandlerFlags(HandlerFlagsMode::kNoPortEvents);
    EXPECT_FALSE(d->HandlersNeedService()) << "its own window alone needs no service";
    d.ReceiveAndCycle("ok");
    EXPECT_TRUE(seen.empty());
    d->SetHandlerFlags(HandlerFlagsMode::kPortEvents);
    EXPECT_TRUE(d->HandlersNeedService());
    d.ReceiveAndCycle("OK");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].Msg, kTriggerDataMsg);
    EXPECT_EQ(seen[0].Handle, static_cast<uint32_t>(h));
    EXPECT_EQ(NotifyDataOf(seen[0].Param), 2u);
    {
        std::lock_guard guard(DispatcherRegistry::Lock());
        EXPECT_EQ(DispatcherRegistry::At(RegistryIndexOf(seen[0].Param)), &*d);
    }
    d->DetachWindowHandler(w);
    loop.DestroyWindow(w);
}

TEST(Delivery, DetachDuringDeliveryIsDeferredAndCloseAborts) {
    FakeDispatcher d;
    ASSERT_EQ(d.Open(), 0);
    d->NewDataTrigger("x", false, 1);
    int firstCalls = 0, secondCalls = 0;
    int marker;
    d->AttachMethodHandler(&firstCalls, [&](uint32_t, uint32_t, int32_t) {
        ++firstCalls;
        d->DetachMethodHandler(&firstCalls);
        EXPECT_TRUE(d->HandlersNeedService());
    });
    d->AttachMethodHandler(&secondCalls, [&](uint32_t, uint32_t, int32_t) { ++secondCalls; });
    d.ReceiveAndCycle("x");
    d.ReceiveAndCycle("x");
    EXPECT_EQ(firstCalls, 1);
    EXPECT_EQ(secondCalls, 2);

    d->AttachMethodHandler(&marker, [&](uint32_t, uint32_t, int32_t) { d->CloseDevice(); });
    d.Receive("x");
    d->RunDeviceCycle();
    EXPECT_TRUE(d->ClosePending());
    EXPECT_FALSE(d->DeviceIsOpen());
}

TEST(Delivery, PurgedBytesFireNoTriggerAndClearPartialMatches) {
    FakeDispatcher d;
    ASSERT_EQ(d.Open(), 0);
    d->NewDataTrigger("abc", false, 3);
    Recorder rec;
    rec.Attach(d);
    d.ReceiveAndCycle("xxab");
    d.Receive("c");
    d->FillInputRing();
    EXPECT_EQ(d->PurgeInput(), 0);
    d->RunDeviceCycle();
    d.ReceiveAndCycle("c");
    EXPECT_TRUE(rec.notices.empty());
    EXPECT_EQ(d->BytesAvailable(), 1);
}

TEST(Delivery, StatusTriggerFromSnapshotFiresOnOutputSent) {
    FakeDispatcher d;
    ASSERT_EQ(d.Open(), 0);
    TriggerSnapshot snap;
    snap.Statuses.push_back(StatusTrigger{40 + kStatusOutSent, 0, true, false});
    snap.Statuses.push_back(StatusTrigger{48 + kStatusOutBuffFree, 100, true, false});
    d->ReinstateTriggers(snap);
    Recorder rec;
    rec.Attach(d);
    d->RunTimerCycle();
    ASSERT_EQ(rec.notices.size(), 1u) << "room 4096 is at least 100";
    EXPECT_EQ(rec.notices[0].Handle, 48u + kStatusOutBuffFree);
    EXPECT_EQ(NotifyDataOf(rec.notices[0].Param), 4096u);
    d->QueueBytes("hi", 2);
    d->RunTimerCycle();
    ASSERT_EQ(rec.notices.size(), 2u);
    EXPECT_EQ(rec.notices[1].Handle, 40u + kStatusOutSent);
    d->RunTimerCycle();
    EXPECT_EQ(rec.notices.size(), 2u) << "disarmed after firing";
    EXPECT_EQ(d->DeleteTrigger(40 + kStatusOutSent), 0);
}

TEST(Registry, SlotsAreReusedAndTrailingSlotsDropped) {
    auto a = std::make_unique<FakeDispatcher>();
    auto b = std::make_unique<FakeDispatcher>();
    const int ia = (*a)->RegistryIndex();
    const int ib = (*b)->RegistryIndex();
    EXPECT_NE(ia, ib);
    a.reset();
    auto c = std::make_unique<FakeDispatcher>();
    EXPECT_EQ((*c)->RegistryIndex(), ia);
    std::lock_guard guard(DispatcherRegistry::Lock());
    EXPECT_EQ(DispatcherRegistry::At(ib), &**b);
    EXPECT_EQ(DispatcherRegistry::At(1000), nullptr);
}

// Recorders ------------------------------------------------------------------------------

TEST(DispatcherRecorders, WritesReadsAndTriggersAreTracedAndLogged) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("hydrix-disp-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    FakeDispatcher d;
    d->SetDeviceName("COM3");
    ASSERT_EQ(d.Open(), 0);
    ASSERT_EQ(d->Recorders().TraceStart(100), 0);
    ASSERT_EQ(d->Recorders().LogStart(10000), 0);
    EXPECT_EQ(d->Recorders().TraceStart(4000001), ecBadArgument);
    d->NewDataTrigger("OK", false, 2);
    d->QueueBytes("CR1\r", 4);
    d.ReceiveAndCycle("OK\r\n");
    char buf[4];
    ASSERT_EQ(d->ReadBytes(buf, 4), 4);
    ASSERT_EQ(d->Recorders().TraceWrite((dir / "t.trc").string(), false, false, false), 0);
    ASSERT_EQ(d->Recorders().LogWrite((dir / "l.log").string(), false, false, true), 0);
    EXPECT_FALSE(d->Recorders().Tracing());
    EXPECT_FALSE(d->Recorders().Logging());

    auto slurp = [](const fs::path& p) {
        std::ifstream in(p);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    };
    EXPECT_EQ(slurp(dir / "t.trc"), "Transmit: \r\nCR1[13]\r\n\r\nReceive: \r\nOK[13][10]");
    const std::string log = slurp(dir / "l.log");
    EXPECT_NE(log.find("Device: COM3"), std::string::npos);
    EXPECT_NE(log.find("TrigAllc"), std::string::npos);
    EXPECT_NE(log.find("WriteCom"), std::string::npos);
    EXPECT_NE(log.find("ReadCom"), std::string::npos);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace hydrix::comm
