// The record of a test under a hostile bench: an earlier capture under the same name, a
// link or a FIFO planted where the capture goes, the output folder removed during the
// run, instrument text that is not UTF-8, a serial number that changes, and reports that
// never end. No record is destroyed, the title and the report name the file on the disk,
// and a run the station cannot vouch for never passes.
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "app/report.h"
#include "app/station_test_util.h"

namespace hydrix::app::test {
namespace {

const std::string kClock = "TS = 07/12/31,23:59:58.99 -\r\n";
const std::string kSerial = "Instrument S/N:  4321       Frequency: 600\r\n";
const std::string kStem = "4321.071231235958.99";

class Record : public StationFixture {
protected:
    // The sequence from step 4 to its end: one PASS report, every report whole.
    void AnswerToFinish() {
        for (const char* reply : {"CR1\r\n>", "Ts?\r\n>", "PS0\r\n>", "PS3\r\n>",
                                  "PT200\r\n  Receive Path Test ... PASS\r\n>", "PA\r\n>", "PC2\r\n>"}) {
            ASSERT_TRUE(Answer(reply)) << reply;
        }
        ASSERT_TRUE(Answer("=====\r\n>"));
        ASSERT_GE(station_->Step(), 12);
    }
    // One whole run to its end; the capture file it made.
    std::string RunOnce(const std::string& serialReport = kSerial, const std::string& clockReport = kClock) {
        WriteSettings({});
        Station& s = MakeStation();
        RunToCapture(serialReport, clockReport);
        EXPECT_EQ(s.Step(), 4);
        AnswerToFinish();
        const std::string file = s.CaptureFileName();
        station_.reset();
        // What the run sent, up to the closing text, is read off the line for the next.
        std::string sent;
        EXPECT_TRUE(Pump([&] {
            sent += pty_.ReadMaster(4096, 1);
            return sent.ends_with("========\r========\r");
        }));
        return file;
    }
    std::filesystem::path Out(const std::string& name) const { return outDir_ / name; }
};

TEST_F(Record, ASecondRunUnderTheSameNameKeepsTheFirstCapture) {
    const std::string first = RunOnce();
    ASSERT_EQ(first, Out(kStem + ".txt").string());
    const std::string kept = ReadFile(first);
    ASSERT_FALSE(kept.empty());

    WriteSettings({});
    Station& s = MakeStation();
    RunToCapture(kSerial, kClock);
    ASSERT_EQ(s.Step(), 4);
    const std::string second = Out(kStem + "-2.txt").string();
    EXPECT_EQ(s.CaptureFileName(), second);
    EXPECT_EQ(s.Form().Caption, kRunningCaption + second);
    AnswerToFinish();
    EXPECT_EQ(s.Outcome(), RunOutcome::Finished);
    EXPECT_EQ(s.Form().Caption, kFinishedCaption + second);
    EXPECT_EQ(ReadFile(first), kept);
    EXPECT_EQ(ReadFile(second), kept) << "the same instrument text";
    const RunReport report = MakeReport(s, s.Outcome(), ui_->Messages());
    EXPECT_EQ(report.captureFile, second);
}

TEST_F(Record, NothingPlantedUnderTheCaptureNameIsFollowedOrOpened) {
    // A link to another file, a dangling link, and a FIFO, each where a capture would go.
    const std::filesystem::path target = prefix_.Path() / "precious.txt";
    std::ofstream(target) << "keep me";
    std::filesystem::create_symlink(target, Out(kStem + ".txt"));
    std::filesystem::create_symlink(prefix_.Path() / "nowhere", Out(kStem + "-2.txt"));
    ASSERT_EQ(::mkfifo(Out(kStem + "-3.txt").c_str(), 0644), 0);
    const std::string file = RunOnce();
    EXPECT_EQ(file, Out(kStem + "-4.txt").string());
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(file)));
    EXPECT_EQ(ReadFile(target), "keep me");
    EXPECT_FALSE(std::filesystem::exists(prefix_.Path() / "nowhere"));
    EXPECT_TRUE(std::filesystem::is_fifo(Out(kStem + "-3.txt")));
    EXPECT_TRUE(ui_->Messages().empty());
}

TEST_F(Record, OutputFolderRemovedDuringTheRunIsNoPass) {
    WriteSettings({});
    Station& s = MakeStation();
    RunToCapture(kSerial, kClock);
    ASSERT_EQ(s.Step(), 4);
    const std::string file = s.CaptureFileName();
    std::filesystem::remove_all(outDir_);
    AnswerToFinish();
    EXPECT_EQ(s.Outcome(), RunOutcome::Incomplete);
    EXPECT_TRUE(s.CaptureIncomplete());
    EXPECT_EQ(s.Form().Caption, kIncompleteCaption + file);
    EXPECT_EQ(ui_->Messages(), std::vector<std::string>{std::string(kIncompleteText) + "\rThe capture file " + file +
                                                        " is no longer on the disk: it (or its folder) was removed "
                                                        "or renamed during the run."});
    const RunReport report = MakeReport(s, s.Outcome(), ui_->Messages());
    EXPECT_FALSE(report.captureComplete);
    EXPECT_EQ(ExitStatus(report.outcome, report.fail), kExitIncomplete);
}

TEST_F(Record, SerialThatIsNotUtf8NamesAFileTheReportNamesExactly) {
    const std::string file = RunOnce("Instrument S/N:  A\xFF\xC3(\xE2\x82       Frequency: 600\r\n");
    EXPECT_EQ(std::filesystem::path(file).filename(), "A__(__.071231235958.99.txt");
    EXPECT_TRUE(std::filesystem::exists(file));
    // Written as JSON, the name is the file's own.
    RunReport report;
    report.captureFile = file;
    EXPECT_EQ(nlohmann::json::parse(ReportJson(report).dump())["capture_file"], file);
}

TEST_F(Record, ASerialReportLaterInTheRunDoesNotRenameTheFileInTheTitle) {
    WriteSettings({});
    Station& s = MakeStation();
    RunToCapture(kSerial, kClock);
    ASSERT_EQ(s.Step(), 4);
    const std::string file = s.CaptureFileName();
    ASSERT_TRUE(Answer("CR1\r\n>"));
    ASSERT_TRUE(Answer("Ts?\r\n>"));
    ASSERT_TRUE(Answer("PS0\r\nInstrument S/N:  9999       Frequency: 600\r\n>"));
    ASSERT_EQ(s.Form().lblSerial, "9999");
    for (const char* reply :
         {"PS3\r\n>", "PT200\r\n  Receive Path Test ... PASS\r\n>", "PA\r\n>", "PC2\r\n>", "=====\r\n>"}) {
        ASSERT_TRUE(Answer(reply)) << reply;
    }
    EXPECT_EQ(s.Outcome(), RunOutcome::Finished);
    EXPECT_EQ(s.Form().Caption, kFinishedCaption + file);
    EXPECT_TRUE(std::filesystem::exists(file));
}

// Firmware variants whose report never ends: the packet collects on, blind to what
// follows, so the FAIL of the self-test is never seen.
struct OpenReport {
    const char* Title;
    std::string Serial;
    std::string Clock;
    std::string Reason;
};

class ReportWithoutItsEnd : public Record, public ::testing::WithParamInterface<OpenReport> {};

TEST_P(ReportWithoutItsEnd, IsAnIncompleteRunNamingTheReport) {
    const OpenReport& c = GetParam();
    WriteSettings({});
    Station& s = MakeStation();
    RunToCapture(c.Serial, c.Clock);
    ASSERT_EQ(s.Step(), 4);
    for (const char* reply : {"CR1\r\n>", "Ts?\r\n>", "PS0\r\n>", "PS3\r\n>",
                              "PT200\r\n  Receive Path Test ... FAIL\r\n>", "PA\r\n>", "PC2\r\n>"}) {
        ASSERT_TRUE(Answer(reply)) << reply;
    }
    ASSERT_TRUE(Answer("=====\r\n>"));
    EXPECT_EQ(s.FailCount(), 0) << "the FAIL fell in the blind stretch";
    EXPECT_EQ(s.Outcome(), RunOutcome::Incomplete);
    EXPECT_EQ(ui_->Messages(),
              std::vector<std::string>{std::string(kIncompleteText) + "\r" + c.Reason +
                                       "\rNo PASS or FAIL report was counted before the test sequence ended."});
    const RunReport report = MakeReport(s, s.Outcome(), ui_->Messages());
    EXPECT_EQ(OutcomeName(report.outcome), "incomplete");
    EXPECT_EQ(ExitStatus(report.outcome, report.fail), kExitIncomplete);
}

INSTANTIATE_TEST_SUITE_P(
    Firmware, ReportWithoutItsEnd,
    ::testing::Values(OpenReport{"ClockWithoutItsDash", kSerial, "TS = 07/12/31,23:59:58.99 Time Stamp\r\n",
                                 "The clock report came as \"TS =\" without its \"-\" and had not ended when the "
                                 "test finished: PASS and FAIL reports after it were not counted."},
                      OpenReport{"FrequencyAfterSixBlanks", "Instrument S/N:  4321      Frequency: 600\r\n", kClock,
                                 "The serial number report came as \"Instrument S/N:\" without its \"Frequency:\" "
                                 "and had not ended when the test finished: PASS and FAIL reports after it were "
                                 "not counted."}),
    [](const auto& info) { return std::string(info.param.Title); });

}  // namespace
}  // namespace hydrix::app::test
