// The rule of an honest verdict, case by case: what keeps a run from passing, in the
// words the operator reads, and the exit status each ending gives.
#include <gtest/gtest.h>

#include "app/report.h"
#include "app/run_verdict.h"

namespace hydrix::app::test {
namespace {

terminal::CaptureRecord Whole(unsigned long long bytes) {
    terminal::CaptureRecord r;
    r.FileName = "/out/1234.txt";
    r.Handed = r.Written = r.Size = bytes;
    r.OnDisk = true;
    return r;
}

TEST(RunVerdict, AWholeRunWithReportsHasNoReason) {
    RunVerdict v;
    v.Counted(12, 1);
    v.Capture(Whole(4000));
    EXPECT_TRUE(v.Reasons().empty());
    v.Counted(0, 1);
    EXPECT_TRUE(v.Reasons().empty()) << "a FAIL is a result";
}

TEST(RunVerdict, EachWayIntoAnIncompleteRunGivesItsReasonOnce) {
    RunVerdict v;
    v.ReportCutOff("clock report", "\"TS =\" without its \"-\"", false, 21840);
    v.ReportCutOff("clock report", "\"TS =\" without its \"-\"", false, 21840);
    v.ReportCutOff("serial number report", "\"Instrument S/N:\" without its \"Frequency:\"", true, 2184);
    v.ReportOpenAtEnd("FAIL report", "\"FAIL\" without the character after it");
    v.Counted(0, 0);
    EXPECT_EQ(v.Reasons(),
              (std::vector<std::string>{
                  "The clock report came as \"TS =\" without its \"-\" and ran on for 20 minutes: PASS and FAIL "
                  "reports in that stretch were not counted.",
                  "The serial number report came as \"Instrument S/N:\" without its \"Frequency:\" and ran on for "
                  "more than 1 MB of text: PASS and FAIL reports in that stretch were not counted.",
                  "The FAIL report came as \"FAIL\" without the character after it and had not ended when the test "
                  "finished: PASS and FAIL reports after it were not counted.",
                  "No PASS or FAIL report was counted before the test sequence ended."}));
    EXPECT_EQ(v.Text(), std::string(kIncompleteText) + "\r" + v.Reasons()[0] + "\r" + v.Reasons()[1] + "\r" +
                            v.Reasons()[2] + "\r" + v.Reasons()[3]);
}

TEST(RunVerdict, CaptureThatIsNotWhole) {
    struct Case {
        const char* Title;
        terminal::CaptureRecord Record;
        std::string Reason;
    };
    terminal::CaptureRecord removed = Whole(10);
    removed.OnDisk = false;
    terminal::CaptureRecord cut = Whole(3u << 20);
    cut.Written = cut.Size = 8192;
    terminal::CaptureRecord unsynced = Whole(10);
    unsynced.SyncFailed = true;
    terminal::CaptureRecord grown = Whole(10);
    grown.Size = 25;
    terminal::CaptureRecord appended = Whole(10);
    appended.Start = 100;
    appended.Size = 110;
    const Case cases[] = {
        {"removed", removed,
         "The capture file /out/1234.txt is no longer on the disk: it (or its folder) was removed or renamed during "
         "the run."},
        {"cut", cut, "The capture file /out/1234.txt is missing 3.0 MB of the 3.0 MB received (the disk may be full)."},
        {"unsynced", unsynced, "The capture file /out/1234.txt could not be stored on the disk."},
        {"grown", grown,
         "The capture file /out/1234.txt holds 25 bytes where 10 bytes were received: another program "
         "changed it."},
        {"appended", appended, ""},
    };
    for (const Case& c : cases) {
        RunVerdict v;
        v.Capture(c.Record);
        EXPECT_EQ(c.Record.Complete(), c.Reason.empty()) << c.Title;
        EXPECT_EQ(v.Reasons(), c.Reason.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.Reason})
            << c.Title;
    }
}

TEST(RunVerdict, ExitStatusOfEachEnding) {
    EXPECT_EQ(ExitStatus(RunOutcome::Finished, 0), kExitFinished);
    EXPECT_EQ(ExitStatus(RunOutcome::Finished, 2), kExitFailReports);
    EXPECT_EQ(ExitStatus(RunOutcome::Incomplete, 0), kExitIncomplete);
    EXPECT_EQ(ExitStatus(RunOutcome::Incomplete, 1), kExitFailReports) << "a counted FAIL stands";
    EXPECT_EQ(kExitIncomplete, 7);
    EXPECT_EQ(OutcomeName(RunOutcome::Incomplete), "incomplete");
    EXPECT_EQ(ByteCountText(1), "1 byte");
    EXPECT_EQ(ByteCountText(1048575), "1048575 bytes");
    EXPECT_EQ(ByteCountText(1572864), "1.5 MB");
}

}  // namespace
}  // namespace hydrix::app::test
