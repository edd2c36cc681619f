// The test sequence over a pseudo-terminal: the test plays the instrument, answering each
// command with text and the prompt ">", and checks what the station sends, its watchdog,
// its captions and the capture file.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>

#include "app/station.h"
#include "station_test_util.h"

namespace hydrix::app::test {
namespace {

const std::string kSerialReport = "Instrument S/N:  1234       Frequency: 614400 Hz\r\n";
const std::string kClockReport = "TS = 07/12/31,23:59:58.99 --- 2 s\r\n";

class StationSequence : public StationFixture {
protected:
    std::string Path(const std::string& name) const { return (outDir_ / name).string(); }
    std::vector<std::string> OutFiles() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(outDir_)) {
            names.push_back(e.path().filename());
        }
        return names;
    }
    // Answers the previous command with body and the prompt, then expects the next one.
    void Step(const std::string& body, const std::string& next, uint32_t watchdogMs) {
        SCOPED_TRACE(next);
        ASSERT_TRUE(Answer(body + ">"));
        EXPECT_EQ(Sent(next.size()), next);
        EXPECT_TRUE(station_->CommTimer().Enabled());
        EXPECT_EQ(station_->CommTimer().Interval(), watchdogMs);
    }
};

TEST_F(StationSequence, FullRunCapturesCountsAndFinishes) {
    WriteSettings({});
    Station& s = MakeStation();
    RunToCapture(kSerialReport, kClockReport);
    const std::string file = Path("1234.071231235958.99.txt");
    EXPECT_EQ(s.Form().lblSerial, "1234");
    EXPECT_EQ(s.Form().lblDateTime, "07/12/31,23:59:58.99");
    EXPECT_EQ(s.DateStamp(), "071231235958.99");
    EXPECT_EQ(s.OutputDir(), outDir_.string() + "/");
    EXPECT_EQ(s.Form().Caption, std::string(kRunningCaption) + file);
    EXPECT_EQ(s.Terminal1().CaptureFile(), file);
    EXPECT_EQ(s.Terminal1().Capture(), terminal::CaptureMode::cmOn);
    EXPECT_EQ(view_.focus, std::vector<FocusTarget>{FocusTarget::Terminal1});
    EXPECT_EQ(Sent(4), "CR1\r");
    EXPECT_EQ(s.CommTimer().Interval(), 2000u);

    std::string captured;
    auto step = [&](const std::string& body, const std::string& next, uint32_t ms) {
        captured += body + ">";
        Step(body, next, ms);
    };
    step("CR1\r\n", "Ts?\r", 2000);
    step("Ts?\r\nTS = 08/01/01,00:00:00.00 ---\r\n", "PS0\r", 5000);
    EXPECT_EQ(s.DateStamp(), "071231235958.99") << "the first clock report wins";
    step("PS0\r\n" + kSerialReport, "PS3\r", 2000);
    step("PS3\r\nbeams\r\n", "PT200\r", 30000);
    step("PT200\r\nRAM ... FAIL\r\nROM ... PASS\r\nbypass check\r\n", "PA\r", 60000);
    EXPECT_EQ(s.PassCount(), 2);
    EXPECT_EQ(s.FailCount(), 1) << "a FAIL before a PASS in one read counts";
    EXPECT_EQ(s.Form().lblPass, "2");
    EXPECT_EQ(s.Form().lblFail, "1");
    captured += "PA\r\nSensors ... pass\r\n>";
    ASSERT_TRUE(Answer("PA\r\nSensors ... pass\r\n>"));
    EXPECT_EQ(Sent(4), "PC2\r");
    EXPECT_FALSE(s.CommTimer().Enabled()) << "step 9 is unguarded";
    captured += "PC2\r\nrecord\r\n>";
    ASSERT_TRUE(Answer("PC2\r\nrecord\r\n>"));
    EXPECT_EQ(Sent(6), "=====\r");
    EXPECT_FALSE(s.CommTimer().Enabled()) << "step 10 is unguarded";
    EXPECT_EQ(s.PassCount(), 3);
    EXPECT_EQ(view_.finished, 0);

    captured += "\r\nADCP awake\r\n";
    ASSERT_TRUE(Answer("\r\nADCP awake\r\n>"));
    EXPECT_EQ(s.Step(), 12);
    EXPECT_EQ(s.Form().Label5, "11");
    EXPECT_EQ(s.Terminal1().Capture(), terminal::CaptureMode::cmOff);
    EXPECT_EQ(s.Form().Caption, std::string(kFinishedCaption) + file);
    EXPECT_EQ(s.Form().Button1, "&Close");
    EXPECT_EQ(view_.focus.back(), FocusTarget::Button1);
    EXPECT_EQ(view_.finished, 1);
    EXPECT_EQ(s.Outcome(), RunOutcome::Finished);
    EXPECT_FALSE(s.CaptureIncomplete());
    EXPECT_EQ(ReadFile(file), captured) << "the capture holds what came after step 3 up to the last prompt";
    EXPECT_EQ(OutFiles().size(), 1u);

    // A late prompt changes only the step label.
    const StationForm before = s.Form();
    ASSERT_TRUE(Answer(">"));
    EXPECT_EQ(s.Form().Label5, "12");
    EXPECT_EQ(s.Form().Caption, before.Caption);
    EXPECT_EQ(s.Form().Button1, before.Button1);
    EXPECT_EQ(SentSoFar(), "");
    EXPECT_EQ(view_.finished, 1);

    // Close still deletes the trigger and sends the break text before closing.
    s.Button1Click();
    EXPECT_EQ(Sent(18), "========\r========\r");
    EXPECT_TRUE(s.Closed());
    EXPECT_EQ(s.Outcome(), RunOutcome::Finished);
    EXPECT_EQ(ReadFile(file), captured);
    EXPECT_TRUE(ui_->Messages().empty());
    EXPECT_TRUE(ui_->Reports().empty());
}

TEST_F(StationSequence, EveryPromptByteAdvancesEvenInsideEchoedText) {
    WriteSettings({});
    Station& s = MakeStation();
    s.FormCreate();
    ASSERT_EQ(Sent(6), "=====\r");
    ASSERT_TRUE(Answer("banner >< echo>", 2));
    EXPECT_EQ(Sent(8), "CR1\rTs?\r");
    EXPECT_EQ(s.Step(), 2);
    EXPECT_EQ(s.Form().Label5, "1");
}

TEST_F(StationSequence, FileNameFromReportsStaysInTheOutputDirectory) {
    struct Case {
        const char* what;
        std::string serialReport;
        std::string clockReport;
        std::string name;
        std::string serialCaption;
    };
    const Case cases[] = {
        {"ordinary", kSerialReport, kClockReport, "1234.071231235958.99.txt", "1234"},
        {"no serial report", "", kClockReport, "unknown.071231235958.99.txt", "unknown"},
        {"no clock report", kSerialReport, "ERR no clock\r\n", "1234..txt", "1234"},
        {"blanks around the serial", "Instrument S/N:    1234         Frequency:", kClockReport,
         "1234.071231235958.99.txt", "  1234  "},
        {"dash inside the date", kSerialReport, "TS = 07/12-31,23:59 ---", "0712.txt", "1234"},
        {"separators and dots", "Instrument S/N:  ../../evil       Frequency:", "TS = ..\\..\\x -",
         "______evil.______x.txt", "../../evil"},
        {"control and reserved characters", "Instrument S/N:  a\x01<b|c*       Frequency:", "TS = 07\t12?\"31 -",
         "a__b_c_.07_12__31.txt", "a\x01<b|c*"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& e : std::filesystem::directory_iterator(outDir_)) {
            std::filesystem::remove(e.path());
        }
        WriteSettings({});
        Station& s = MakeStation();
        RunToCapture(c.serialReport, c.clockReport);
        if (HasFatalFailure()) {
            return;
        }
        std::string name = c.name;
        if (std::string(c.what) == "dash inside the date") {
            name = "1234." + c.name;
        }
        EXPECT_EQ(s.Form().lblSerial, c.serialCaption) << "the label keeps the data as received";
        EXPECT_EQ(s.Terminal1().CaptureFile(), Path(name));
        EXPECT_EQ(OutFiles(), std::vector<std::string>{name});
        EXPECT_TRUE(ui_->Reports().empty());
        EXPECT_EQ(s.Step(), 4);
        station_.reset();
        SentWithin(50);  // the CR1 of step 3
    }
}

TEST_F(StationSequence, WatchdogStopsBeforeItsMessageAndALatePromptClosesTheCapture) {
    WriteSettings({});
    Station& s = MakeStation();
    RunToCapture(kSerialReport, kClockReport);
    bool runningDuringMessage = true;
    ui_->onMessage = [&](const std::string&) { runningDuringMessage = s.CommTimer().Enabled(); };
    ASSERT_TRUE(Pump([&] { return s.Closed(); }, 4000)) << "no prompt after CR1: the 2000 ms watchdog";
    EXPECT_FALSE(runningDuringMessage);
    EXPECT_EQ(ui_->Messages(), std::vector<std::string>{kCommErrorText});
    EXPECT_EQ(ui_->Icons()[0], platform::MessageIcon::Error);
    EXPECT_EQ(s.Step(), 22);
    EXPECT_EQ(s.Outcome(), RunOutcome::CommunicationsError);
    EXPECT_EQ(view_.closes, 1);

    // A prompt still arriving before the window is gone takes the finish branch.
    ASSERT_TRUE(Answer("CR1\r\n>"));
    EXPECT_EQ(s.Terminal1().Capture(), terminal::CaptureMode::cmOff);
    EXPECT_EQ(s.Form().Caption, std::string(kFinishedCaption) + Path("1234.071231235958.99.txt"));
    EXPECT_EQ(s.Form().Label5, "22");
    EXPECT_EQ(s.Outcome(), RunOutcome::CommunicationsError);
    EXPECT_EQ(view_.finished, 0);
}

TEST_F(StationSequence, WatchdogBeforeTheFirstPrompt) {
    WriteSettings({});
    Station& s = MakeStation();
    s.FormCreate();
    EXPECT_TRUE(s.CommTimer().Enabled());
    s.CommTimerTimer();
    EXPECT_FALSE(s.CommTimer().Enabled());
    EXPECT_TRUE(s.Closed());
    EXPECT_EQ(s.Step(), 22);
    ASSERT_TRUE(Answer(">"));
    EXPECT_EQ(s.Form().Caption, kFormCaption) << "nothing was captured, so nothing is retitled";
}

TEST_F(StationSequence, MissingOutputDirectoryEndsTheRunWithoutAFile) {
    WriteSettings(RegSettings::Dir((outDir_ / "missing").string()));
    Station& s = MakeStation();
    RunToCapture(kSerialReport, kClockReport);
    EXPECT_EQ(ui_->Messages(), std::vector<std::string>{kNoOutputDirText});
    EXPECT_EQ(ui_->Icons()[0], platform::MessageIcon::Information);
    EXPECT_EQ(s.Outcome(), RunOutcome::OutputDirectoryMissing);
    EXPECT_TRUE(s.Closed());
    EXPECT_EQ(s.Step(), 23);
    EXPECT_EQ(s.Form().Label5, "22");
    EXPECT_FALSE(s.CommTimer().Enabled());
    EXPECT_EQ(s.Terminal1().Capture(), terminal::CaptureMode::cmOff);
    EXPECT_EQ(s.Form().Caption, kFormCaption);
    EXPECT_TRUE(OutFiles().empty());
    EXPECT_EQ(SentSoFar(), "");
}

TEST_F(StationSequence, OutputDirectoryEndingInASeparatorGetsNoSecondOne) {
    WriteSettings(RegSettings::Dir(outDir_.string() + "/"));
    Station& s = MakeStation();
    RunToCapture(kSerialReport, kClockReport);
    EXPECT_EQ(s.OutputDir(), outDir_.string() + "/");
    EXPECT_EQ(s.Terminal1().CaptureFile(), Path("1234.071231235958.99.txt"));
}

TEST_F(StationSequence, EmptyOutputDirectoryIsTheRootOfDriveC) {
    const std::filesystem::path driveC = prefix_.Path() / "drive_c";
    std::filesystem::create_directories(driveC);
    std::filesystem::create_directory_symlink(driveC, prefix_.Path() / "dosdevices" / "c:");
    WriteUserReg(KeyHeader() +
                 "\"ADCP COM Port\"=\"COM7\"\n\"ADCP Baud Rate\"=\"115200\"\n"
                 "\"Current Output Directory\"=\"\"\n");
    Station& s = MakeStation();
    RunToCapture(kSerialReport, kClockReport);
    EXPECT_EQ(s.OutputDir(), (prefix_.Path() / "dosdevices" / "c:").string() + "/");
    EXPECT_TRUE(ui_->Messages().empty());
    EXPECT_TRUE(std::filesystem::is_regular_file(driveC / "1234.071231235958.99.txt"));
}

TEST_F(StationSequence, CaptureThatCannotBeCreatedFailsTheStep) {
    WriteSettings({});
    TakeEveryCaptureName("1234.071231235958.99");
    Station& s = MakeStation();
    RunToCapture(kSerialReport, kClockReport);
    ASSERT_EQ(view_.failures.size(), 1u);
    EXPECT_EQ(ui_->Reports().size(), 1u);
    EXPECT_EQ(s.Step(), 3) << "the rest of the step, the step label and the increment are skipped";
    EXPECT_EQ(SentSoFar(), "");
    EXPECT_FALSE(s.CommTimer().Enabled());
}

TEST_F(StationSequence, IncompleteCaptureIsNotReportedAsSaved) {
    WriteSettings({});
    Station& s = MakeStation();
    RunToCapture(kSerialReport, kClockReport);
    ASSERT_EQ(Sent(4), "CR1\r");
    // The file may grow to 20 bytes: later capture writes come up short.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 20;
    ::setrlimit(RLIMIT_FSIZE, &small);
    struct Restore {
        rlimit limit;
        ~Restore() { ::setrlimit(RLIMIT_FSIZE, &limit); }
    } restore{old};
    for (const char* next : {"Ts?\r", "PS0\r", "PS3\r", "PT200\r", "PA\r", "PC2\r", "=====\r"}) {
        ASSERT_TRUE(Answer("some output\r\n>"));
        ASSERT_EQ(Sent(std::string(next).size()), next);
    }
    ASSERT_TRUE(Answer("awake\r\n>"));
    EXPECT_TRUE(s.CaptureIncomplete());
    EXPECT_EQ(s.Form().Caption, std::string(kIncompleteCaption) + Path("1234.071231235958.99.txt"));
    EXPECT_EQ(s.Outcome(), RunOutcome::Incomplete);
    EXPECT_FALSE(ui_->Reports().empty()) << "the failed write was reported";
}

}  // namespace
}  // namespace hydrix::app::test
