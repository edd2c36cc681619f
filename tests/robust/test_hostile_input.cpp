// What an instrument (or a disk) can throw at a running station: a serial-number report
// of megabytes, a prompt character in every line, binary noise with NUL and 0xFF bytes,
// and a capture file that stops taking bytes. The station keeps going, keeps the bytes
// it can and tells the operator about the ones it cannot.
#include <signal.h>
#include <sys/resource.h>

#include <string>

#include "app/station_test_util.h"
#include "robust/robust_util.h"

namespace hydrix::app::test {
namespace {

const std::string kClock = "TS = 07/12/31,23:59:58.99 -\r\n";
const std::string kSerial = "Instrument S/N:  4321       Frequency: 600\r\n";
const std::string kSerialText = "4321";

class HostileInput : public StationFixture {
protected:
    bool WriteWhilePumping(const std::string& data, int timeoutMs = 30000) {
        return robust::WriteWhilePumping(
            pty_.MasterFd(), data, [&] { Pump([] { return false; }, 5); }, timeoutMs);
    }
    // The rest of the sequence from step 4 on, each command answered with its prompt.
    void AnswerToFinish() {
        for (const char* reply : {"CR1\r\n>", "Ts?\r\n>", "PS0\r\n>", "PS3\r\n>", "PT200\r\nPASS \r\n>", "PA\r\n>",
                                  "PC2\r\n>", "=====\r\n>"}) {
            ASSERT_TRUE(Answer(reply)) << reply;
        }
        ASSERT_GE(station_->Step(), 12);
    }
    // Captured from the start and answered up to PC2 (step 10), where no watchdog guards
    // the instrument's output.
    void RunToStep10() {
        RunToCapture(kSerial, kClock);
        for (const char* reply : {"CR1\r\n>", "Ts?\r\n>", "PS0\r\n>", "PS3\r\n>", "PT200\r\n>", "PA\r\n>"}) {
            ASSERT_TRUE(Answer(reply)) << reply;
        }
        ASSERT_EQ(station_->Step(), 10);
    }
};

// In answer to PS0 the watchdog allows 5 s: 64 kB is more than a real line carries in
// that time. The file name takes a bounded part of the report.
TEST_F(HostileInput, LongSerialReportGivesABoundedFileName) {
    WriteSettings({});
    Station& s = MakeStation();
    const std::string serial(64u << 10, 'S');
    s.FormCreate();
    ASSERT_EQ(Sent(6), "=====\r");
    ASSERT_TRUE(Answer("banner\r\n>"));
    ASSERT_TRUE(Answer("CR1\r\n>"));
    ASSERT_TRUE(Answer("Ts?\r\n" + kClock + ">"));
    ASSERT_EQ(Sent(12), "CR1\rTs?\rPS0\r");
    ASSERT_TRUE(WriteWhilePumping("PS0\r\nInstrument S/N:  " + serial + "       Frequency: 600\r\n>"));
    ASSERT_TRUE(Pump([&] { return s.Step() >= 4 || s.Closed(); }));
    ASSERT_EQ(s.Step(), 4);
    EXPECT_EQ(s.Form().lblSerial, serial);
    const std::filesystem::path file = s.CaptureFileName();
    EXPECT_EQ(file.parent_path(), outDir_);
    EXPECT_LE(file.filename().string().size(), 255u);
    EXPECT_TRUE(std::filesystem::exists(file));
    AnswerToFinish();
    EXPECT_EQ(s.Outcome(), RunOutcome::Finished);
    EXPECT_EQ(s.Form().Caption, kFinishedCaption + file.string());
    EXPECT_TRUE(ui_->Reports().empty());
}

// Several megabytes of serial report after PC2, where no watchdog runs: the packet ends
// at its collect limit, as a time-out does, and the run says so instead of passing.
TEST_F(HostileInput, SerialReportOfMegabytes) {
    WriteSettings({});
    Station& s = MakeStation();
    ASSERT_NO_FATAL_FAILURE(RunToStep10());
    const std::string serial(3u << 20, 'S');
    // Sanitizer builds take this at some tens of kB/s.
    ASSERT_TRUE(WriteWhilePumping("Instrument S/N:  " + serial + "       Frequency: 600\r\n>", 90000));
    ASSERT_TRUE(Pump([&] { return s.Step() == 11; }, 30000));
    ASSERT_TRUE(Answer("=====\r\n>"));
    EXPECT_EQ(s.Outcome(), RunOutcome::Incomplete);
    EXPECT_EQ(s.Form().lblSerial, kSerialText) << "the cut-off report is no serial number";
    EXPECT_EQ(s.Form().Caption, kFinishedCaption + s.CaptureFileName());
    ASSERT_EQ(ui_->Messages().size(), 1u);
    EXPECT_NE(ui_->Messages()[0].find("The serial number report came as \"Instrument S/N:\" without its "
                                      "\"Frequency:\" and ran on for more than 1 MB of text"),
              std::string::npos)
        << ui_->Messages()[0];
    EXPECT_TRUE(ui_->Reports().empty());
    s.FormDestroy();
    EXPECT_GE(std::filesystem::file_size(s.CaptureFileName()), serial.size());
}

TEST_F(HostileInput, PromptInEveryLineAdvancesOneStepEach) {
    WriteSettings({});
    Station& s = MakeStation();
    RunToCapture(kSerial, kClock);
    ASSERT_EQ(s.Step(), 4);
    std::string text;
    for (int i = 0; i < 20; ++i) {
        text += "line " + std::to_string(i) + " >\r\n";
    }
    ASSERT_TRUE(pty_.WriteMaster(text));
    ASSERT_TRUE(Pump([&] { return s.Step() == 24; }));
    // A sequence run ahead of an instrument that reported nothing is no pass.
    EXPECT_EQ(s.Outcome(), RunOutcome::Incomplete);
    EXPECT_EQ(s.Form().Label5, "23");
    EXPECT_EQ(s.Form().Caption, kFinishedCaption + s.CaptureFileName());
    // The capture ends just before the 8th prompt, the one that finished.
    EXPECT_EQ(ReadFile(s.CaptureFileName()), text.substr(0, text.find("line 7 >") + 7));
    EXPECT_EQ(ui_->Messages(),
              std::vector<std::string>{std::string(kIncompleteText) +
                                       "\rNo PASS or FAIL report was counted before the test sequence ended."});
    EXPECT_TRUE(ui_->Reports().empty());
}

// Sent after PC2, where the watchdog is off: a megabyte takes longer than its 2 s.
TEST_F(HostileInput, BinaryFloodIsCapturedByteForByte) {
    WriteSettings({});
    Station& s = MakeStation();
    ASSERT_NO_FATAL_FAILURE(RunToStep10());
    ASSERT_FALSE(s.CommTimer().Enabled());
    std::string noise;
    for (uint32_t i = 0, x = 1; i < (1u << 20); ++i) {
        x = x * 1103515245u + 12345u;
        char c = static_cast<char>(x >> 24);
        if (i % 97 == 0) {
            c = '\0';
        }
        if (i % 89 == 0) {
            c = '\xFF';
        }
        if (c == '>') {
            c = '<';
        }
        noise.push_back(c);
    }
    ASSERT_TRUE(WriteWhilePumping(noise + ">"));
    ASSERT_TRUE(Pump([&] { return s.Step() == 11; }, 20000));
    s.FormDestroy();
    std::string got = ReadFile(s.CaptureFileName());
    if (got.ends_with(">")) {
        got.pop_back();
    }
    ASSERT_TRUE(got.ends_with(noise)) << got.size() << " bytes captured for " << noise.size();
    got.resize(got.size() - noise.size());
    // Right before the noise: the answer to PA and its prompt.
    EXPECT_TRUE(got.ends_with("PA\r\n>")) << got;
    EXPECT_TRUE(ui_->Messages().empty());
    EXPECT_TRUE(ui_->Reports().empty());
}

// The capture file stops taking bytes: past the process's file-size limit (with SIGXFSZ
// ignored, writes fail with EFBIG instead of killing it), as on a full disk.
class FullDisk : public HostileInput {
protected:
    void TearDown() override {
        if (limited_) {
            ::setrlimit(RLIMIT_FSIZE, &oldLimit_);
        }
        if (limited_) {
            ::signal(SIGXFSZ, oldHandler_);
        }
        HostileInput::TearDown();
    }
    void LimitFileSize(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &oldLimit_);
        oldHandler_ = ::signal(SIGXFSZ, SIG_IGN);
        rlimit l = oldLimit_;
        l.rlim_cur = bytes;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &l), 0);
        limited_ = true;
    }
    bool limited_ = false;
    rlimit oldLimit_{};
    sighandler_t oldHandler_ = SIG_DFL;
};

TEST_F(FullDisk, OperatorIsToldTheCaptureIsIncomplete) {
    const std::filesystem::path file = outDir_ / "4321.071231235958.99.txt";
    WriteSettings({});
    Station& s = MakeStation();
    RunToCapture(kSerial, kClock);
    ASSERT_EQ(s.Step(), 4);
    ASSERT_EQ(s.CaptureFileName(), file.string());
    LimitFileSize(4096);
    std::string text;
    for (int i = 0; i < 1000; ++i) {
        text += "ensemble " + std::to_string(i) + "\r\n";
    }
    ASSERT_TRUE(WriteWhilePumping(text + ">"));
    ASSERT_TRUE(Pump([&] { return s.Step() == 5; }));
    AnswerToFinish();
    EXPECT_EQ(s.Outcome(), RunOutcome::Incomplete);
    EXPECT_TRUE(s.CaptureIncomplete());
    EXPECT_EQ(s.Form().Caption, kIncompleteCaption + file.string());
    ASSERT_EQ(ui_->Reports().size(), 1u) << "told once, not once per write";
    EXPECT_NE(ui_->Reports()[0].find("The capture file is incomplete."), std::string::npos) << ui_->Reports()[0];
    ASSERT_EQ(ui_->Messages().size(), 1u);
    EXPECT_NE(ui_->Messages()[0].find("The capture file " + file.string() + " is missing "), std::string::npos)
        << ui_->Messages()[0];
    EXPECT_EQ(std::filesystem::file_size(file), 4096u);
}

}  // namespace
}  // namespace hydrix::app::test
