// Enabling checks, time-outs, property changes while armed and handler exceptions, on a
// manager fed by hand.
#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "capturing_ui.h"
#include "comm/exceptions.h"
#include "packet_test_util.h"
#include "platform/dialogs.h"

namespace hydrix::packet::test {
namespace {

using EC = PacketEndCond;

using hydrix::test::CapturingUi;

class PacketFixture : public ::testing::Test {
protected:
    void SetUp() override { manager.Enable(); }
    void Add(DataPacket& p) {
        log.Watch(p);
        manager.AddPacket(p);
    }
    void Feed(const std::string& text) { manager.BytesReceived(text.data(), static_cast<int>(text.size())); }

    DataPacketManager manager;
    EventLog log;
};

struct EnableError {
    const char* Title;
    PacketStartCond StartCond;
    std::string Start;
    PacketEndConds End;
    std::string EndString;
    int32_t Size;
    int32_t Code;
};

TEST_F(PacketFixture, EnablingErrorsRaiseInvalidPropertyAndLeaveThePacketDisabled) {
    const EnableError cases[] = {
        {"empty start", PacketStartCond::scString, "", {EC::ecString}, "x", 0, -5501},
        {"lone backslash start", PacketStartCond::scString, "\\", {EC::ecString}, "x", 0, -5501},
        {"size below start", PacketStartCond::scString, "PASS", {EC::ecPacketSize}, "", 3, -5502},
        {"any data without end", PacketStartCond::scAnyData, "", {}, "", 0, -5503},
        {"empty end", PacketStartCond::scString, "a", {EC::ecString}, "", 0, -5504},
        {"lone backslash end", PacketStartCond::scAnyData, "", {EC::ecString}, "\\", 0, -5504},
        {"zero size", PacketStartCond::scAnyData, "", {EC::ecPacketSize}, "", 0, -5505},
    };
    for (const EnableError& c : cases) {
        DataPacket p(c.Title);
        Add(p);
        p.SetStartCond(c.StartCond);
        p.SetStartString(c.Start);
        p.SetEndCond(c.End);
        p.SetEndString(c.EndString);
        p.SetPacketSize(c.Size);
        try {
            p.SetEnabled(true);
            ADD_FAILURE() << c.Title << ": no exception";
        } catch (const comm::EInvalidProperty& e) {
            EXPECT_EQ(e.ErrorCode(), c.Code) << c.Title;
        }
        EXPECT_FALSE(p.Enabled()) << c.Title;
        EXPECT_EQ(p.State(), PacketState::Idle) << c.Title;
        // A failed any-data packet must not keep the buffer to itself.
        EXPECT_EQ(manager.CurrentPacket(), nullptr) << c.Title;
    }
}

TEST_F(PacketFixture, TimedOutPacketFlushesAndStaysDisabledUntilEnabledAgain) {
    DataPacket serial("SN");
    serial.SetStartString("S/N:");
    serial.SetEndCond({EC::ecString});
    serial.SetEndString("\r");
    serial.SetTimeOut(40);
    Add(serial);
    serial.SetEnabled(true);
    Feed("S/N:12");
    ASSERT_EQ(manager.CurrentPacket(), &serial);
    EXPECT_EQ(manager.TimerArmedTicks(), 40);
    manager.TimerExpired();
    EXPECT_EQ(log.events, std::vector<std::string>{"SN:timeout"});
    EXPECT_FALSE(serial.Enabled());
    EXPECT_EQ(manager.BufferUsed(), 0);
    EXPECT_EQ(manager.TimerArmedTicks(), 0);
    Feed("34\rS/N:56\r");
    EXPECT_EQ(log.events.size(), 1u);
    serial.SetEnabled(true);
    Feed("S/N:78\r");
    EXPECT_EQ(log.events, (std::vector<std::string>{"SN:timeout", "SN:S/N:78\r"}));
}

TEST_F(PacketFixture, TimeOutZeroArmsNoTimerAndCollectsOnAfterAPause) {
    DataPacket p("P");
    p.SetStartString("<");
    p.SetEndCond({EC::ecString});
    p.SetEndString(">");
    p.SetTimeOut(0);
    Add(p);
    p.SetEnabled(true);
    Feed("<abc");
    EXPECT_EQ(manager.CurrentPacket(), &p);
    EXPECT_EQ(manager.TimerArmedTicks(), 0);
    Feed(std::string(20000, 'x') + ">");
    ASSERT_EQ(log.events.size(), 1u);
    EXPECT_EQ(log.events[0].size(), std::string("P:<abc>").size() + 20000);
    EXPECT_EQ(manager.BufferUsed(), 0);
}

TEST_F(PacketFixture, EndStringChangedWhileEnabledRearmsWithTheNewString) {
    DataPacket p("P");
    p.SetStartString("<");
    p.SetEndCond({EC::ecString});
    p.SetEndString(">");
    Add(p);
    p.SetEnabled(true);
    Feed("<ab");
    ASSERT_EQ(p.State(), PacketState::Collecting);
    p.SetEndString("]");
    EXPECT_TRUE(p.Enabled());
    EXPECT_EQ(p.State(), PacketState::Waiting);
    EXPECT_EQ(p.MatchStart(), -1);
    Feed("c>d<ef>g]");
    EXPECT_EQ(log.events, std::vector<std::string>{"P:<ef>g]"});
}

TEST_F(PacketFixture, AutoEnableFalseDeliversOnce) {
    DataPacket p("P");
    p.SetStartString("OK");
    p.SetAutoEnable(false);
    Add(p);
    p.SetEnabled(true);
    Feed("OK OK");
    EXPECT_EQ(log.events, std::vector<std::string>{"P:OK"});
    EXPECT_FALSE(p.Enabled());
}

TEST_F(PacketFixture, HandlerExceptionIsReportedAndSkipsTheStringEvent) {
    auto ui = std::make_shared<CapturingUi>();
    auto old = platform::SetUserInterface(ui);
    DataPacket p("P");
    p.SetStartString("OK");
    manager.AddPacket(p);
    p.SetEnabled(true);
    int strings = 0;
    int packets = 0;
    p.OnPacket = [&](DataPacket&, const void*, int32_t) {
        if (++packets == 1) {
            throw std::runtime_error("handler failed");
        }
    };
    p.OnStringPacket = [&](DataPacket&, const std::string&) { ++strings; };
    Feed("OK OK");
    platform::SetUserInterface(old);
    EXPECT_EQ(ui->Reports(), std::vector<std::string>{"handler failed"});
    EXPECT_EQ(packets, 2);
    EXPECT_EQ(strings, 1);
    EXPECT_TRUE(p.Enabled());
}

TEST_F(PacketFixture, EnablingInsideAnEventIsDeferredUntilItEnds) {
    DataPacket first("A");
    first.SetStartString("A");
    first.SetAutoEnable(false);
    DataPacket second("B");
    second.SetStartString("B");
    Add(first);
    Add(second);
    first.SetEnabled(true);
    // The A handler switches B on; B must see the bytes that followed A.
    first.OnStringPacket = [&](DataPacket&, const std::string&) {
        second.SetEnabled(true);
        EXPECT_TRUE(second.PendingEnable());
    };
    second.OnStringPacket = [&](DataPacket& s, const std::string& d) { log.events.push_back(s.Name() + ":" + d); };
    Feed("xBAxB");
    EXPECT_EQ(log.events, std::vector<std::string>{"B:B"});
}

TEST_F(PacketFixture, AnyDataPacketWaitsForTheCollectingPacket) {
    DataPacket framed("F");
    framed.SetStartString("<");
    framed.SetEndCond({EC::ecString});
    framed.SetEndString(">");
    DataPacket any("A");
    any.SetStartCond(PacketStartCond::scAnyData);
    any.SetEndCond({EC::ecPacketSize});
    any.SetPacketSize(2);
    any.SetAutoEnable(false);
    Add(framed);
    Add(any);
    framed.SetEnabled(true);
    Feed("<a");
    any.SetEnabled(true);
    EXPECT_TRUE(any.PendingStart());
    framed.SetAutoEnable(false);
    Feed(">xyz");
    EXPECT_EQ(log.events, (std::vector<std::string>{"F:<a>", "A:xy"}));
}

TEST_F(PacketFixture, IdleTrafficIsNotKept) {
    DataPacket p("P");
    p.SetStartString("PASS");
    Add(p);
    p.SetEnabled(true);
    Feed(std::string(3000, '.'));
    EXPECT_EQ(manager.BufferUsed(), 0);
    EXPECT_EQ(manager.BufferCapacity(), 0);
    Feed("..PA");
    EXPECT_EQ(manager.BufferUsed(), 4);
    Feed("SS");
    EXPECT_EQ(log.events, std::vector<std::string>{"P:PASS"});
    EXPECT_EQ(manager.BufferUsed(), 0);
}

TEST_F(PacketFixture, ManyPacketsInOneReadAllDelivered) {
    DataPacket p("P");
    p.SetStartString("OK");
    p.SetEndCond({EC::ecPacketSize});
    p.SetPacketSize(2);
    int count = 0;
    p.OnStringPacket = [&](DataPacket&, const std::string& d) { count += d == "OK;" ? 1 : 0; };
    manager.AddPacket(p);
    p.SetEnabled(true);
    std::string text;
    for (int i = 0; i < 100000; ++i) {
        text += "OK;";
    }
    Feed(text);
    EXPECT_EQ(count, 100000);
    EXPECT_EQ(manager.BufferUsed(), 0);
}

TEST_F(PacketFixture, EnablingWhileLoadingWaitsForLoaded) {
    DataPacket p("P");
    p.SetLoading(true);
    Add(p);
    p.SetStartString("GO");
    p.SetEnabled(true);
    EXPECT_TRUE(p.PendingEnable());
    EXPECT_EQ(p.State(), PacketState::Idle);
    Feed("GO");
    EXPECT_TRUE(log.events.empty());
    p.Loaded();
    EXPECT_EQ(p.State(), PacketState::Waiting);
    Feed("GO");
    EXPECT_EQ(log.events, std::vector<std::string>{"P:GO"});
}

// A serial-number packet collecting and a PASS packet beside it, as the station has them.
class TimeOutFixture : public PacketFixture {
protected:
    void SetUp() override {
        PacketFixture::SetUp();
        pass.SetStartString("PASS");
        pass.SetEndCond({EC::ecPacketSize});
        pass.SetPacketSize(4);
        serial.SetStartString("S/N:");
        serial.SetEndCond({EC::ecString});
        serial.SetEndString("\r");
        Add(pass);
        Add(serial);
        pass.SetEnabled(true);
        serial.SetEnabled(true);
    }
    DataPacket pass{"P"};
    DataPacket serial{"SN"};
};

TEST_F(TimeOutFixture, FlushDropsEveryByteWhateverTheOtherPacketsHeld) {
    // The PASS packet has begun a match before the serial report starts, and again in
    // the bytes the serial packet collects.
    Feed("PAS/N:12PA");
    ASSERT_EQ(manager.CurrentPacket(), &serial);
    manager.TimerExpired();
    EXPECT_EQ(log.events, std::vector<std::string>{"SN:timeout"});
    EXPECT_EQ(manager.BufferUsed(), 0);
    // The flushed "PA" does not join the "SS." that follows.
    Feed("SS.");
    EXPECT_EQ(log.events, std::vector<std::string>{"SN:timeout"});
    Feed("PASS.");
    EXPECT_EQ(log.events, (std::vector<std::string>{"SN:timeout", "P:PASS."}));
}

TEST_F(TimeOutFixture, WithoutFlushTheCollectedBytesAreSearchedAfresh) {
    serial.SetFlushOnTimeout(false);
    Feed("S/N:12PASS.");
    ASSERT_EQ(manager.CurrentPacket(), &serial);
    manager.TimerExpired();
    EXPECT_EQ(log.events, (std::vector<std::string>{"SN:timeout", "P:PASS."}));
    EXPECT_EQ(manager.BufferUsed(), 0);
}

TEST_F(TimeOutFixture, AnEndThatNeverComesTimesOutAtTheCollectLimit) {
    bool overflowed = false;
    serial.OnTimeout = [&](DataPacket& p) {
        overflowed = p.Overflowed();
        log.events.push_back("SN:timeout");
    };
    Feed("S/N:");
    const std::string block(8192, 'x');
    for (int fed = 0; fed <= kPacketCollectLimit && log.events.empty(); fed += 8192) {
        Feed(block);
        ASSERT_LE(manager.BufferUsed(), kPacketCollectLimit + 8192 + 4);
    }
    EXPECT_EQ(log.events, std::vector<std::string>{"SN:timeout"});
    EXPECT_TRUE(overflowed);
    EXPECT_EQ(manager.BufferUsed(), 0);
    EXPECT_EQ(manager.CurrentPacket(), nullptr);
    // The reports after it are seen again.
    Feed("PASS.");
    EXPECT_EQ(log.events, (std::vector<std::string>{"SN:timeout", "P:PASS."}));
}

TEST(PacketManagerLock, ReleasedLetsGoOfEveryHoldAndTakesThemBack) {
    auto shared = std::make_shared<DataPacketManager::Lock::Shared>();
    const auto otherThreadGetsIt = [&shared] {
        bool got = false;
        std::thread other([&] {
            got = shared->mutex.try_lock();
            if (got) {
                shared->mutex.unlock();
            }
        });
        other.join();
        return got;
    };
    DataPacketManager::Lock outer(shared);
    DataPacketManager::Lock inner(shared);
    {
        DataPacketManager::Lock::Released released(*shared);
        EXPECT_EQ(shared->depth, 0);
        EXPECT_TRUE(otherThreadGetsIt());
    }
    EXPECT_EQ(shared->depth, 2);
    EXPECT_FALSE(otherThreadGetsIt());
}

TEST(PacketPattern, EscapesWildcardsAndCase) {
    EXPECT_EQ(PreparePattern("a\\?b", false).Pattern, "a?b");
    EXPECT_EQ(PreparePattern("a\\?b", false).Mask, "000");
    EXPECT_EQ(PreparePattern("a?b", true).Pattern, "A?B");
    EXPECT_EQ(PreparePattern("a?b", true).Mask, "010");
    EXPECT_EQ(PreparePattern("\\\\x", false).Pattern, "\\x");
    EXPECT_EQ(PreparePattern("\\", false).Pattern, "");
    EXPECT_EQ(PreparePattern("\xE4x", true).Pattern, "\xE4X");
}

}  // namespace
}  // namespace hydrix::packet::test
