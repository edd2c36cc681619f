// The headless runner end to end on a pseudo-terminal: a small scripted instrument in a
// thread answers the station; the runner's exit status and JSON report are checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include <nlohmann/json.hpp>

#include "app/headless_runner.h"
#include "station_test_util.h"

namespace hydrix::app::test {
namespace {

// Answers each line from the station with an echo, a reply and the prompt, until told
// to stop; goes silent after `silentAfter` commands when that is not negative.
class ScriptedInstrument {
public:
    ScriptedInstrument(hydrix::test::PtyPair& pty, std::string ptReply, int silentAfter = -1)
        : pty_(pty), ptReply_(std::move(ptReply)), silentAfter_(silentAfter) {
        thread_ = std::thread([this] { Loop(); });
    }
    ~ScriptedInstrument() {
        stop_ = true;
        thread_.join();
    }
    std::string Received() {
        std::lock_guard guard(lock_);
        return received_;
    }

private:
    void Loop() {
        std::string line;
        int commands = 0;
        while (!stop_) {
            const std::string in = pty_.ReadMaster(1, 20);
            if (in.empty()) {
                continue;
            }
            {
                std::lock_guard guard(lock_);
                received_ += in;
            }
            if (in[0] != '\r') {
                line += in;
                continue;
            }
            if (silentAfter_ >= 0 && commands >= silentAfter_) {
                continue;
            }
            ++commands;
            pty_.WriteMaster(line + "\r\n" + Reply(line) + ">");
            line.clear();
        }
    }
    std::string Reply(const std::string& command) const {
        if (command == "Ts?") {
            return "TS = 07/12/31,23:59:58.99 --- 2 s\r\n";
        }
        if (command == "PS0") {
            return "Instrument S/N:  1234       Frequency: 614400 Hz\r\n";
        }
        if (command == "PT200") {
            return ptReply_;
        }
        if (command == "=====") {
            return "ADCP awake\r\n";
        }
        return "";
    }

    hydrix::test::PtyPair& pty_;
    std::string ptReply_;
    int silentAfter_;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::string received_;
    std::thread thread_;
};

class Runner : public StationFixture {
protected:
    RunOptions Options() { return RunOptions{prefix_.Path(), (prefix_.Path() / "report.json").string()}; }
    nlohmann::json ReadReport() { return nlohmann::json::parse(ReadFile(prefix_.Path() / "report.json")); }
};

TEST_F(Runner, FinishedRunPressesCloseAndReports) {
    WriteSettings({});
    ScriptedInstrument instrument(pty_,
                                  "RAM ... PASS\r\nROM ... FAIL (0x\x1b\x7f"
                                  "4)\r\n");
    HeadlessRunner runner(Options());
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(runner.Run(), kExitFailReports);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "FAIL: ROM ... FAIL (0x4)\n");
    const std::string file = (outDir_ / "1234.071231235958.99.txt").string();
    const nlohmann::json j = ReadReport();
    EXPECT_EQ(j["outcome"], "finished");
    EXPECT_EQ(j["serial"], "1234");
    EXPECT_EQ(j["datetime"], "07/12/31,23:59:58.99");
    EXPECT_EQ(j["pass"], 1);
    EXPECT_EQ(j["fail"], 1);
    EXPECT_EQ(j["capture_file"], file);
    EXPECT_EQ(j["capture_complete"], true);
    EXPECT_EQ(j["title"], std::string(kFinishedCaption) + file);
    EXPECT_EQ(j["step"], 11);
    EXPECT_EQ(j["messages"], nlohmann::json::array());
    const nlohmann::json results = nlohmann::json::array(
        {{{"outcome", "PASS"}, {"line", "RAM ... PASS"}}, {{"outcome", "FAIL"}, {"line", "ROM ... FAIL (0x4)"}}});
    EXPECT_EQ(j["results"], results);
    // The terminal shows from the first byte after the prompt that started the capture.
    const std::vector<std::string> screen = j["screen"];
    ASSERT_FALSE(screen.empty());
    EXPECT_EQ(screen.front(), "CR1");
    ASSERT_GE(screen.size(), 2u);
    // The prompt that ended the sequence is the screen's last row.
    EXPECT_EQ(screen[screen.size() - 2], "ADCP awake");
    EXPECT_EQ(screen.back(), ">");
    EXPECT_EQ(j["scrollback"], nlohmann::json::array());
    EXPECT_TRUE(Pump([&] { return instrument.Received().ends_with("=====\r========\r========\r"); }));
}

TEST_F(Runner, CancelFromAnotherThreadEndsTheRun) {
    WriteSettings({});
    ScriptedInstrument instrument(pty_, "", 4);  // silent after PS0 ... but capture has started
    HeadlessRunner runner(Options());
    bool captureStarted = false;
    std::thread canceller([&] {
        // Cancelled also when the capture does not start, so that the run ends.
        const auto started = [&] { return instrument.Received().find("CR1\rTs?\rPS0\rCR1\r") != std::string::npos; };
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!started() && std::chrono::steady_clock::now() < giveUp) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        captureStarted = started();
        runner.RequestCancel();
    });
    const int status = runner.Run();
    canceller.join();
    ASSERT_TRUE(captureStarted);
    EXPECT_EQ(status, kExitCancelled);
    const nlohmann::json j = ReadReport();
    EXPECT_EQ(j["outcome"], "cancelled");
    EXPECT_EQ(j["step"], 3);
    EXPECT_TRUE(j["capture_file"].is_string());
    EXPECT_TRUE(Pump([&] { return instrument.Received().ends_with("========\r========\r"); }));
}

TEST_F(Runner, FailedStepEndsTheRunAsAnError) {
    WriteSettings({});
    // The capture file cannot be created: step 3 fails and nothing would move on.
    TakeEveryCaptureName("1234.071231235958.99");
    ScriptedInstrument instrument(pty_, "");
    HeadlessRunner runner(Options());
    EXPECT_EQ(runner.Run(), kExitError);
    EXPECT_EQ(ReadReport()["outcome"], "error");
}

TEST_F(Runner, StartupExceptionEndsTheRun) {
    WriteSettings(RegSettings::Baud("fast"));
    HeadlessRunner runner(Options());
    EXPECT_EQ(runner.Run(), kExitConfiguration);
    const nlohmann::json j = ReadReport();
    EXPECT_EQ(j["outcome"], "configuration-error");
    EXPECT_EQ(j["messages"], nlohmann::json::array({"'fast' is not a valid integer value"}));
    EXPECT_TRUE(j["capture_file"].is_null());
    EXPECT_TRUE(j["step"].is_null());
    EXPECT_EQ(j["title"], kFormCaption);
}

TEST_F(Runner, PortThatDoesNotExistIsReportedOnce) {
    WriteSettings(RegSettings::Port("COM42"));
    std::filesystem::create_symlink(prefix_.Path() / "no-such-tty", prefix_.Path() / "dosdevices" / "com42");
    HeadlessRunner runner(Options());
    EXPECT_EQ(runner.Run(), kExitPort);
    const nlohmann::json j = ReadReport();
    EXPECT_EQ(j["outcome"], "port-error");
    EXPECT_EQ(j["messages"], nlohmann::json::array({"ie_BadId - Specified comport doesn't exist"}));
}

TEST_F(Runner, MissingKeyClosesAfterTheDelay) {
    HeadlessRunner runner(Options());
    EXPECT_EQ(runner.Run(), kExitConfiguration);
    const nlohmann::json j = ReadReport();
    EXPECT_EQ(j["outcome"], "configuration-error");
    EXPECT_EQ(j["messages"],
              nlohmann::json::array({std::string(kTidewiseRequiredText) + "\rSettings file " +
                                     (prefix_.Path() / "user.reg").string() + ": the file does not exist"}));
    EXPECT_EQ(SentSoFar(), "");
}

TEST_F(Runner, WatchdogIsACommunicationsError) {
    WriteSettings({});
    ScriptedInstrument instrument(pty_, "", 1);
    HeadlessRunner runner(Options());
    EXPECT_EQ(runner.Run(), kExitCommunications);
    const nlohmann::json j = ReadReport();
    EXPECT_EQ(j["outcome"], "communications-error");
    EXPECT_EQ(j["messages"], nlohmann::json::array({kCommErrorText}));
    EXPECT_EQ(j["step"], 0);
}

TEST(Report, ScrollbackStartsAtTheOldestNonBlankRowAndTextIsMadeValid) {
    platform::MessageLoop::Instance().AttachToCurrentThread();
    Station station;
    terminal::Terminal& t = station.Terminal1();
    std::string text;
    for (int i = 1; i <= 50; ++i) {
        text += "line " + std::to_string(i) + "   \r\n";
    }
    t.DisplayString(text);
    platform::MessageLoop::Instance().ProcessMessages();
    const std::vector<std::string> screen = ScreenRows(t);
    const std::vector<std::string> back = ScrollbackRows(t);
    ASSERT_EQ(screen.size(), 44u) << "the 45th row is the empty one the cursor is on";
    EXPECT_EQ(screen.front(), "line 7");
    EXPECT_EQ(screen.back(), "line 50");
    EXPECT_EQ(back, (std::vector<std::string>{"line 1", "line 2", "line 3", "line 4", "line 5", "line 6"}));

    RunReport r;
    r.serial = "\xff\xfe";
    const std::string path = (std::filesystem::temp_directory_path() / "hydrix-report-test.json").string();
    EXPECT_EQ(WriteReportFile(path, r), "");
    EXPECT_EQ(nlohmann::json::parse(ReadFile(path))["serial"], "\xef\xbf\xbd\xef\xbf\xbd");
    std::filesystem::remove(path);
    EXPECT_NE(WriteReportFile("/nonexistent-dir/r.json", r), "");
}

TEST(Report, ExitStatuses) {
    EXPECT_EQ(ExitStatus(RunOutcome::Finished, 0), 0);
    EXPECT_EQ(ExitStatus(RunOutcome::Finished, 2), 1);
    EXPECT_EQ(ExitStatus(RunOutcome::CommunicationsError, 0), 2);
    EXPECT_EQ(ExitStatus(RunOutcome::ConfigurationError, 0), 3);
    EXPECT_EQ(ExitStatus(RunOutcome::OutputDirectoryMissing, 0), 3);
    EXPECT_EQ(ExitStatus(RunOutcome::PortError, 0), 4);
    EXPECT_EQ(ExitStatus(RunOutcome::Cancelled, 3), 5);
    EXPECT_EQ(ExitStatus(RunOutcome::Error, 0), 6);
}

}  // namespace
}  // namespace hydrix::app::test
