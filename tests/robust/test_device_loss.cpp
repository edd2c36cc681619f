// The instrument's line vanishes in the middle of a run (the pty master closed, as a USB
// adapter pulled out): the station reports it, nothing spins, the capture keeps every
// byte that came before, and the same COM port opens again once the device is back.
#include <chrono>
#include <string>

#include "app/station_test_util.h"
#include "robust/robust_util.h"

namespace hydrix::app::test {
namespace {

using Clock = std::chrono::steady_clock;

class DeviceLoss : public StationFixture {};

std::string Lines(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += "ensemble " + std::to_string(i) + " 0123456789 abcdefghij\r\n";
    }
    return text;
}

TEST_F(DeviceLoss, ReportedAtOnceWithoutSpinningAndTheCaptureKeepsEverything) {
    WriteSettings({});
    Station& s = MakeStation();
    RunToCapture("Instrument S/N:  4321       Frequency: 600\r\n", "TS = 07/12/31,23:59:58.99 -\r\n");
    ASSERT_EQ(s.Step(), 4);
    ASSERT_EQ(Sent(4), "CR1\r");
    const std::string capture = s.CaptureFileName();
    ASSERT_FALSE(capture.empty());

    // The instrument talks, then the line goes away with its bytes received.
    const std::string payload = Lines(500);
    ASSERT_TRUE(robust::WriteWhilePumping(pty_.MasterFd(), payload, [&] { Pump([] { return false; }, 5); }));
    ASSERT_TRUE(Pump([&] { return std::filesystem::file_size(capture) >= payload.size(); }, 10000));
    ASSERT_FALSE(s.Closed()) << "the watchdog ran out before the loss";
    const int fdsBefore = robust::OpenDescriptors();
    pty_.CloseMaster();
    const auto lost = Clock::now();

    // Reported by the lost line itself, no later than step 4's 2000 ms watchdog (one more
    // second for a loaded machine).
    ASSERT_TRUE(Pump([&] { return s.Closed(); }, 3000));
    const auto reported = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lost).count();
    RecordProperty("ms_to_report", std::to_string(reported));
    // The port is still open on the dead line: a thread spinning on its descriptor would
    // burn the whole interval.
    const double cpuBefore = robust::ProcessCpuSeconds();
    Pump([] { return false; }, 1500);
    const double cpuWhileVanished = robust::ProcessCpuSeconds() - cpuBefore;
    EXPECT_LT(cpuWhileVanished, 0.5) << "CPU seconds over 1.5 s after the loss";
    RecordProperty("cpu_seconds_while_vanished", std::to_string(cpuWhileVanished));
    std::printf("[ figures ] reported after %lld ms; CPU %.3f s over the next 1.5 s\n",
                static_cast<long long>(reported), cpuWhileVanished);
    EXPECT_EQ(s.Outcome(), RunOutcome::CommunicationsError);
    {
        ASSERT_EQ(ui_->Messages().size(), 1u);
        EXPECT_EQ(ui_->Messages()[0], kCommErrorText);
    }

    s.FormDestroy();
    station_.reset();
    Pump([] { return false; }, 50);
    const std::string got = ReadFile(capture);
    EXPECT_TRUE(got == payload) << got.size() << " bytes captured of " << payload.size();
    // The port and its threads let go of the device (the master's descriptor is gone too).
    EXPECT_LE(robust::OpenDescriptors(), fdsBefore - 1);

    // The adapter comes back under the same COM number.
    hydrix::test::PtyPair again;
    prefix_.LinkCom(kCom, again.SlavePath());
    Station& next = MakeStation();
    next.FormCreate();
    std::string wake;
    Pump([&] {
        wake += again.ReadMaster(6 - wake.size(), 5);
        return wake.size() >= 6;
    });
    EXPECT_EQ(wake, kSoftwareBreak);
    ASSERT_TRUE(again.WriteMaster("banner\r\n>"));
    EXPECT_TRUE(Pump([&] { return next.Step() == 1; }));
    next.FormDestroy();
}

// Between PC2 and the closing prompt the watchdog is off by design: the lost line itself
// ends the run with the communications error, and nothing spins meanwhile.
TEST_F(DeviceLoss, UnguardedStepReportsTheLoss) {
    WriteSettings({});
    Station& s = MakeStation();
    RunToCapture("Instrument S/N:  4321       Frequency: 600\r\n", "TS = 07/12/31,23:59:58.99 -\r\n");
    for (const char* reply : {"CR1\r\n>", "Ts?\r\n>", "PS0\r\n>", "PS3\r\n>", "PT200\r\n>", "PA\r\n>"}) {
        ASSERT_TRUE(Answer(reply)) << reply;
    }
    ASSERT_EQ(s.Step(), 10);  // PC2 sent, watchdog off
    EXPECT_FALSE(s.CommTimer().Enabled());
    ASSERT_TRUE(pty_.WriteMaster("record 1\r\nrecord 2\r\n"));
    // A hang-up drops what the station has not read yet: lose the line once it has.
    ASSERT_TRUE(Pump([&] { return ReadFile(s.CaptureFileName()).find("record 2\r\n") != std::string::npos; }));
    const double cpuBefore = robust::ProcessCpuSeconds();
    pty_.CloseMaster();
    const auto lost = Clock::now();
    ASSERT_TRUE(Pump([&] { return s.Closed(); }, 3000));
    const auto reported = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lost).count();
    Pump([] { return false; }, 1000);
    const double cpu = robust::ProcessCpuSeconds() - cpuBefore;
    std::printf("[ figures ] unguarded step: reported after %lld ms; CPU %.3f s over the next second\n",
                static_cast<long long>(reported), cpu);
    EXPECT_LT(cpu, 0.5);
    EXPECT_EQ(s.Outcome(), RunOutcome::CommunicationsError);
    EXPECT_EQ(s.Step(), 22);
    {
        ASSERT_EQ(ui_->Messages().size(), 1u);
        EXPECT_EQ(ui_->Messages()[0], kCommErrorText);
    }
    s.FormDestroy();
    EXPECT_TRUE(ReadFile(s.CaptureFileName()).ends_with("record 1\r\nrecord 2\r\n"));
}

}  // namespace
}  // namespace hydrix::app::test
