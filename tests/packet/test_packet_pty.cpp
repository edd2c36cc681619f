// The station's four packets on a com port over a real pseudo-terminal: instrument output
// written to the master in random pieces (single bytes among them) must come out as the
// same reports, in the order sent, as events on the GUI thread (this test's thread).
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <thread>

#include "comm/com_port.h"
#include "packet/packet_manager_list.h"
#include "packet_test_util.h"
#include "platform/message_loop.h"
#include "pty_helper.h"

namespace hydrix::packet::test {
namespace {

using EC = PacketEndCond;
constexpr int kCom = 9;

class PacketPty : public ::testing::Test {
protected:
    void SetUp() override {
        platform::MessageLoop::Instance().AttachToCurrentThread();
        prefix_.LinkCom(kCom, pty_.SlavePath());
        port_ = std::make_unique<comm::ComPort>();
        port_->SetComNumber(kCom);
        port_->SetBaud(115200);
    }
    void TearDown() override {
        packets_.clear();
        // Each manager frees itself through its own message once its packets are gone.
        EXPECT_TRUE(Pump([] { return PacketManagers().Count() == 0; }));
        if (port_) {
            port_->SetOpen(false);
        }
        port_.reset();
    }

    DataPacket& Make(const std::string& name, const std::string& start, PacketEndConds end,
                     const std::string& endString, int32_t size, bool include, bool ignoreCase, int32_t timeOut) {
        auto p = std::make_unique<DataPacket>(name);
        p->SetStartString(start);
        p->SetEndCond(end);
        p->SetEndString(endString);
        p->SetPacketSize(size);
        p->SetIncludeStrings(include);
        p->SetIgnoreCase(ignoreCase);
        p->SetTimeOut(timeOut);
        p->OnPacket = [this](DataPacket& s, const void*, int32_t) { CheckThread(s); };
        p->OnStringPacket = [this](DataPacket& s, const std::string& d) { events_.push_back(s.Name() + ":" + d); };
        p->OnTimeout = [this](DataPacket& s) {
            CheckThread(s);
            events_.push_back(s.Name() + ":timeout");
        };
        p->SetComPort(port_.get());
        p->SetEnabled(true);
        packets_.push_back(std::move(p));
        return *packets_.back();
    }
    void CheckThread(DataPacket& s) {
        if (std::this_thread::get_id() != testThread_) {
            wrongThread_.push_back(s.Name());
        }
    }
    static bool Pump(const std::function<bool()>& done, uint32_t ms = 10000) {
        return platform::MessageLoop::Instance().ProcessUntil(done, ms);
    }
    // Writes text to the master in pieces of 1..maxPiece bytes, pausing now and then so
    // that the port sees many separate reads.
    void WriteInPieces(const std::string& text, unsigned seed, size_t maxPiece) {
        std::mt19937 rng(seed);
        std::uniform_int_distribution<size_t> len(1, maxPiece);
        std::uniform_int_distribution<int> pause(0, 3);
        for (size_t at = 0; at < text.size();) {
            const size_t n = std::min(len(rng), text.size() - at);
            ASSERT_TRUE(pty_.WriteMaster(text.substr(at, n)));
            at += n;
            if (pause(rng) == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
    }

    hydrix::test::PtyPair pty_;
    hydrix::test::TempWinePrefix prefix_;
    std::unique_ptr<comm::ComPort> port_;
    std::vector<std::unique_ptr<DataPacket>> packets_;
    std::vector<std::string> events_;
    std::vector<std::string> wrongThread_;
    const std::thread::id testThread_ = std::this_thread::get_id();
};

TEST_F(PacketPty, StationReportsArriveInOrderOnTheGuiThread) {
    Make("DataPacketPass", "PASS", {EC::ecPacketSize}, "", 4, true, true, 218400);
    Make("DataPacketFail", "FAIL", {EC::ecPacketSize}, "", 4, true, true, 21840);
    Make("DataPacket1", "Instrument S/N:  ", {EC::ecString}, "       Frequency:", 0, false, true, 2184);
    Make("DataPacketDateTime", "TS = ", {EC::ecString}, "-", 0, false, false, 21840);
    port_->SetOpen(true);
    ASSERT_NE(PacketManagers().ManagerFor(port_.get()), nullptr);
    EXPECT_TRUE(PacketManagers().ManagerFor(port_.get())->Enabled());

    const std::string output =
        "\r\n[BREAK Wakeup A]\r\nTidewise Broadband ADCP Version 51.40\r\n>PS0\r\n"
        "Instrument S/N:  1234       Frequency: 614400 Hz\r\nConfiguration: 4 BEAM, JANUS\r\n"
        ">TS?\r\nTS = 07/12/31,23:59:58.99 - Year/Month/Day,Hour:Minute:Second\r\n"
        ">PT200\r\nCorrelation Magnitude: Lag  Bm1  Bm2  Bm3  Bm4\r\n"
        "  0  255  255  255  255\r\nHigh Gain RSSI: 44 43 44 43 PASS\r\n"
        "Low Gain RSSI: 2 60 2 2 FAIL\r\nTransmit Current ... PASS\r\n"
        "Receive Path ... pass\r\nSensor Test ... FAIL\r\nBYPASS check ... Pass\r\n>";
    const std::vector<std::string> expected = {"DataPacket1:1234",      "DataPacketDateTime:07/12/31,23:59:58.99 ",
                                               "DataPacketPass:PASS\r", "DataPacketFail:FAIL\r",
                                               "DataPacketPass:PASS\r", "DataPacketPass:pass\r",
                                               "DataPacketFail:FAIL\r", "DataPacketPass:PASS ",
                                               "DataPacketPass:Pass\r"};
    unsigned seed = 1;
    for (size_t maxPiece : {1u, 7u, 64u, 4096u}) {
        SCOPED_TRACE("pieces up to " + std::to_string(maxPiece));
        events_.clear();
        WriteInPieces(output, seed++, maxPiece);
        EXPECT_TRUE(Pump([&] { return events_.size() >= expected.size(); }));
        EXPECT_EQ(events_, expected);
    }
    EXPECT_TRUE(wrongThread_.empty());
}

TEST_F(PacketPty, FailBeforePassInOneWriteBothCounted) {
    Make("DataPacketPass", "PASS", {EC::ecPacketSize}, "", 4, true, true, 218400);
    Make("DataPacketFail", "FAIL", {EC::ecPacketSize}, "", 4, true, true, 21840);
    port_->SetOpen(true);
    for (int round = 0; round < 20; ++round) {
        events_.clear();
        ASSERT_TRUE(pty_.WriteMaster("Test A ... FAIL\r\nTest B ... PASS\r\n"));
        EXPECT_TRUE(Pump([&] { return events_.size() >= 2; }));
        EXPECT_EQ(events_, (std::vector<std::string>{"DataPacketFail:FAIL\r", "DataPacketPass:PASS\r"}));
    }
}

TEST_F(PacketPty, CollectionTimesOutOnTheManagersTimer) {
    DataPacket& serial = Make("DataPacket1", "S/N:", {EC::ecString}, "\r", 0, false, true, 3);
    DataPacket& wait = Make("Forever", "<", {EC::ecString}, ">", 0, true, true, 0);
    port_->SetOpen(true);
    ASSERT_TRUE(pty_.WriteMaster("S/N:12"));
    EXPECT_TRUE(Pump([&] { return !events_.empty(); }));
    EXPECT_EQ(events_, std::vector<std::string>{"DataPacket1:timeout"});
    EXPECT_FALSE(serial.Enabled());
    // With TimeOut 0 the other packet waits as long as it takes.
    ASSERT_TRUE(pty_.WriteMaster("34\r<a"));
    EXPECT_FALSE(Pump([&] { return events_.size() > 1; }, 600));
    ASSERT_TRUE(pty_.WriteMaster("b>"));
    EXPECT_TRUE(Pump([&] { return events_.size() > 1; }));
    EXPECT_EQ(events_, (std::vector<std::string>{"DataPacket1:timeout", "Forever:<ab>"}));
    EXPECT_TRUE(Pump([&] { return wait.Enabled(); }));
    EXPECT_TRUE(wrongThread_.empty());
}

TEST_F(PacketPty, ReopenedPortRearmsEnabledPackets) {
    Make("DataPacketPass", "PASS", {EC::ecPacketSize}, "", 4, true, true, 218400);
    port_->SetOpen(true);
    DataPacketManager* manager = PacketManagers().ManagerFor(port_.get());
    ASSERT_NE(manager, nullptr);
    ASSERT_TRUE(pty_.WriteMaster("PAS"));
    // The partial match must be in the manager's buffer before the port closes.
    ASSERT_TRUE(Pump([&] {
        DataPacketManager::Lock lock(manager);
        return manager->BufferUsed() == 3 && packets_[0]->MatchStart() == 0;
    }));
    port_->SetOpen(false);
    EXPECT_FALSE(manager->Enabled());
    EXPECT_EQ(packets_[0]->State(), PacketState::Idle);
    port_->SetOpen(true);
    EXPECT_EQ(packets_[0]->State(), PacketState::Waiting);
    ASSERT_TRUE(pty_.WriteMaster("S PASS!"));
    EXPECT_TRUE(Pump([&] { return !events_.empty(); }));
    EXPECT_EQ(events_, std::vector<std::string>{"DataPacketPass:PASS!"});
}

TEST_F(PacketPty, PortMovedToAnotherNumberWhileOpenKeepsThePacketsTimer) {
    hydrix::test::PtyPair other;
    prefix_.LinkCom(kCom + 1, other.SlavePath());
    Make("DataPacket1", "S/N:", {EC::ecString}, "\r", 0, false, true, 3);
    Make("DataPacketPass", "PASS", {EC::ecPacketSize}, "", 4, true, true, 218400);
    port_->SetOpen(true);
    // Reopened on the new line: the timer the manager took at the reopen must survive.
    port_->SetComNumber(kCom + 1);
    ASSERT_TRUE(port_->Open());
    ASSERT_TRUE(other.WriteMaster("S/N:12"));
    EXPECT_TRUE(Pump([&] { return !events_.empty(); }));
    EXPECT_EQ(events_, std::vector<std::string>{"DataPacket1:timeout"});
    // And the dispatcher goes on delivering after the time-out's disarm.
    ASSERT_TRUE(other.WriteMaster("PASS!"));
    EXPECT_TRUE(Pump([&] { return events_.size() > 1; }));
    EXPECT_EQ(events_, (std::vector<std::string>{"DataPacket1:timeout", "DataPacketPass:PASS!"}));
}

TEST_F(PacketPty, PortMayGoBeforeItsEmptyManagerIsFreed) {
    Make("DataPacketPass", "PASS", {EC::ecPacketSize}, "", 4, true, true, 218400);
    port_->SetOpen(true);
    port_->SetOpen(false);
    // As in the station: its packets go just before its closed port, and no message is
    // handled between.
    packets_.clear();
    port_.reset();
    EXPECT_TRUE(Pump([] { return PacketManagers().Count() == 0; }));
}

TEST_F(PacketPty, DestroyedPortLeavesItsPacketsWithoutAPort) {
    DataPacket& pass = Make("DataPacketPass", "PASS", {EC::ecPacketSize}, "", 4, true, true, 218400);
    port_->SetOpen(true);
    port_.reset();
    EXPECT_EQ(pass.ComPort(), nullptr);
    EXPECT_EQ(pass.State(), PacketState::Idle);
    // The manager, left without port or packets, frees itself; the packet goes later.
    EXPECT_TRUE(Pump([] { return PacketManagers().Count() == 0; }));
}

TEST_F(PacketPty, DispatchLogShowsThePacketsSteps) {
    Make("DataPacketPass", "PASS", {EC::ecPacketSize}, "", 4, true, true, 218400);
    port_->SetOpen(true);
    const std::string logName = (prefix_.Path() / "serial.log").string();
    port_->SetLogName(logName);
    port_->StartLogging();
    ASSERT_TRUE(pty_.WriteMaster("xPASS!"));
    EXPECT_TRUE(Pump([&] { return !events_.empty() && packets_[0]->State() == PacketState::Waiting; }));
    port_->DumpLog();
    std::ifstream file(logName);
    std::stringstream text;
    text << file.rdbuf();
    const std::string log = text.str();
    size_t at = 0;
    for (const char* entry :
         {"Packet    Collecting    00000000  Packet:DataPacketPass",
          "Packet    StringPacket  00000000  Packet:DataPacketPass", "Packet    SizePacket    00000000  PASS!",
          "Packet    Enable        00000000  Packet:DataPacketPass", "Packet    StartStr      00000000  PASS",
          "Packet    Waiting       00000000  Packet:DataPacketPass"}) {
        const size_t found = log.find(entry, at);
        ASSERT_NE(found, std::string::npos) << entry << "\n" << log;
        at = found;
    }
}

}  // namespace
}  // namespace hydrix::packet::test
