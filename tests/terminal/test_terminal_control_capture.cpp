// Capture to file: the modes, the file name, and writes that fail.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "platform/file_system.h"
#include "slow_clock.h"
#include "test_terminal_control_util.h"

namespace hydrix::terminal::test {
namespace {

class TerminalCaptureTest : public TerminalFixture {
protected:
    void Show(Terminal& t, const std::string& text) {
        t.DisplayString(text);
        Pump();
    }
    TempDir dir_;
};

TEST_F(TerminalCaptureTest, SecondOnAndAppendWhileOnChangeNothing) {
    Terminal t;
    t.SetCaptureFile(dir_.File("a.cap"));
    t.SetCapture(CaptureMode::cmOn);
    Show(t, "abc");
    t.SetCapture(CaptureMode::cmOn);
    t.SetCapture(CaptureMode::cmAppend);
    EXPECT_EQ(t.Capture(), CaptureMode::cmOn);
    Show(t, "d");
    EXPECT_EQ(ReadFile(dir_.File("a.cap")), "abcd");
}

TEST_F(TerminalCaptureTest, FloodIsHandledInBoundedSlicesEveryByteOnceInOrder) {
    Terminal t;
    SlowClock clock;
    t.Receiver().SetClock(clock);
    t.SetCaptureFile(dir_.File("flood.cap"));
    t.SetCapture(CaptureMode::cmOn);
    std::string text;
    for (int i = 0; static_cast<int>(text.size()) < 3 * kReceiveStep + 5; ++i) {
        text += std::to_string(i) + "\r\n";
    }
    t.DisplayString(text);
    // One message handles one slice and leaves the rest to a message of its own.
    platform::SendMessage(t.Handle(), AM_TERMDATA, static_cast<platform::WParam>(CharSource::csWriteChar), 0);
    EXPECT_EQ(ReadFile(dir_.File("flood.cap")), text.substr(0, kReceiveStep));
    PumpUntil([&] { return ReadFile(dir_.File("flood.cap")).size() >= text.size(); });
    EXPECT_EQ(ReadFile(dir_.File("flood.cap")), text);
}

TEST_F(TerminalCaptureTest, AppendKeepsTheExistingBytesAndReadsOn) {
    const std::string path = dir_.File("old.cap");
    const std::string old(100, 'o');
    ASSERT_EQ(platform::WriteWholeFile(path, old), 0);
    Terminal t;
    t.SetCaptureFile(path);
    t.SetCapture(CaptureMode::cmAppend);
    EXPECT_EQ(t.Capture(), CaptureMode::cmOn);
    Show(t, "0123456789");
    EXPECT_EQ(ReadFile(path), old + "0123456789");
}

TEST_F(TerminalCaptureTest, AppendToAMissingFileRaisesAndALaterOnCreatesIt) {
    const std::string path = dir_.File("missing.cap");
    Terminal t;
    t.SetCaptureFile(path);
    try {
        t.SetCapture(CaptureMode::cmAppend);
        ADD_FAILURE() << "no error";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message().rfind("Cannot open file \"" + path + "\". ", 0), 0u) << e.Message();
    }
    EXPECT_EQ(t.Capture(), CaptureMode::cmAppend);
    Show(t, "lost");
    t.SetCapture(CaptureMode::cmOn);
    Show(t, "kept");
    EXPECT_EQ(ReadFile(path), "kept");
}

TEST_F(TerminalCaptureTest, CreateFailureRaisesAndWritesNothing) {
    const std::string path = dir_.File("no/such/dir.cap");
    Terminal t;
    t.SetCaptureFile(path);
    EXPECT_THROW(t.SetCapture(CaptureMode::cmOn), EFCreateError);
    EXPECT_EQ(t.Capture(), CaptureMode::cmOn);
    Show(t, "x");
    EXPECT_NO_THROW(t.SetCapture(CaptureMode::cmOff));
    EXPECT_NO_THROW(t.SetCapture(CaptureMode::cmOff));
    EXPECT_TRUE(ui_->Reports().empty());
}

TEST_F(TerminalCaptureTest, SameNameKeepsTheFileAnotherCaseStartsANewOne) {
    const std::string lower = dir_.File("run.cap");
    const std::string upper = dir_.File("RUN.CAP");
    Terminal t;
    t.SetCaptureFile(lower);
    t.SetCapture(CaptureMode::cmOn);
    Show(t, "a");
    t.SetCaptureFile(std::string(lower));
    Show(t, "b");
    EXPECT_EQ(ReadFile(lower), "ab");
    t.SetCaptureFile(upper);
    EXPECT_EQ(t.Capture(), CaptureMode::cmOn);
    Show(t, "c");
    EXPECT_EQ(ReadFile(lower), "ab");
    EXPECT_EQ(ReadFile(upper), "c");
}

TEST_F(TerminalCaptureTest, EmptyNameBecomesTheDefaultInTheCurrentDirectory) {
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir_.File(""));
    {
        Terminal t;
        t.SetCaptureFile("");
        t.SetCapture(CaptureMode::cmOn);
        EXPECT_EQ(t.CaptureFile(), "TERMINAL.CAP");
        Show(t, "x");
    }
    std::filesystem::current_path(previous);
    EXPECT_EQ(ReadFile(dir_.File("TERMINAL.CAP")), "x");
}

TEST_F(TerminalCaptureTest, ChunksAreWrittenInOrder) {
    const std::string path = dir_.File("pass.cap");
    Terminal t;
    t.SetCaptureFile(path);
    t.SetCapture(CaptureMode::cmOn);
    Show(t, "PA");
    EXPECT_EQ(ReadFile(path), "PA");  // handed to the system at once, no buffering
    Show(t, std::string("SS\r\n\0\xff", 6));
    EXPECT_EQ(ReadFile(path), std::string("PASS\r\n\0\xff", 8));
}

TEST_F(TerminalCaptureTest, DestructionClosesTheFileWithEverythingWritten) {
    const std::string path = dir_.File("end.cap");
    {
        Terminal t;
        t.SetCaptureFile(path);
        t.SetCapture(CaptureMode::cmOn);
        Show(t, "last words");
        platform::OutputFile other;
        EXPECT_LT(other.OpenForAppend(path), 0);  // not shared while captured to
    }
    platform::OutputFile other;
    EXPECT_EQ(other.OpenForAppend(path), 0);
    EXPECT_EQ(ReadFile(path), "last words");
}

TEST_F(TerminalCaptureTest, NoReplaceTakesTheNextFreeNameAndRecordsWhatItLeft) {
    const std::string path = dir_.File("1234..txt");
    ASSERT_EQ(platform::WriteWholeFile(path, "earlier test"), 0);
    ASSERT_EQ(platform::WriteWholeFile(dir_.File("1234.-2.txt"), "and another"), 0);
    Terminal t;
    t.Capturing().SetNoReplace(true);
    t.SetCaptureFile(path);
    t.SetCapture(CaptureMode::cmOn);
    EXPECT_EQ(t.CaptureFile(), dir_.File("1234.-3.txt"));
    Show(t, "PASS\r\n");
    t.SetCapture(CaptureMode::cmOff);
    EXPECT_EQ(ReadFile(path), "earlier test");
    EXPECT_EQ(ReadFile(dir_.File("1234.-3.txt")), "PASS\r\n");
    const CaptureRecord& r = t.Capturing().LastRecord();
    EXPECT_EQ(r.FileName, dir_.File("1234.-3.txt"));
    EXPECT_EQ(r.Handed, 6u);
    EXPECT_EQ(r.Written, 6u);
    EXPECT_EQ(r.Size, 6u);
    EXPECT_TRUE(r.OnDisk);
    EXPECT_TRUE(r.Complete());
}

TEST_F(TerminalCaptureTest, RecordOfAFileRemovedOrChangedWhileCapturedIsNotComplete) {
    Terminal t;
    t.Capturing().SetNoReplace(true);
    t.SetCaptureFile(dir_.File("gone.txt"));
    t.SetCapture(CaptureMode::cmOn);
    Show(t, "abc");
    std::filesystem::remove(dir_.File("gone.txt"));
    Show(t, "def");
    t.SetCapture(CaptureMode::cmOff);
    EXPECT_FALSE(t.Capturing().LastRecord().OnDisk);
    EXPECT_EQ(t.Capturing().LastRecord().Handed, 6u);
    EXPECT_FALSE(t.Capturing().LastRecord().Complete());

    t.SetCaptureFile(dir_.File("grown.txt"));
    t.SetCapture(CaptureMode::cmOn);
    Show(t, "abc");
    ASSERT_EQ(platform::AppendToFile(dir_.File("grown.txt"), "xyz"), 0);
    t.SetCapture(CaptureMode::cmOff);
    EXPECT_TRUE(t.Capturing().LastRecord().OnDisk);
    EXPECT_EQ(t.Capturing().LastRecord().Size, 6u);
    EXPECT_FALSE(t.Capturing().LastRecord().Complete());
}

TEST_F(TerminalCaptureTest, FailedWritesAreReportedOnceAndMarkTheCapture) {
    Terminal t;
    t.SetCaptureFile("/dev/full");
    // Appending: creating would truncate, which a device refuses.
    t.SetCapture(CaptureMode::cmAppend);
    ASSERT_EQ(t.Capture(), CaptureMode::cmOn);
    EXPECT_FALSE(t.Capturing().Incomplete());
    Show(t, "first");
    Show(t, "second");
    EXPECT_TRUE(t.Capturing().Incomplete());
    const auto reports = ui_->Reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("/dev/full"), std::string::npos) << reports[0];
    EXPECT_EQ(RowText(t, 1), "firstsecond");  // the screen is not affected
    t.SetCapture(CaptureMode::cmOff);
    t.SetCaptureFile(dir_.File("fresh.cap"));
    t.SetCapture(CaptureMode::cmOn);
    EXPECT_FALSE(t.Capturing().Incomplete());
}

}  // namespace
}  // namespace hydrix::terminal::test
