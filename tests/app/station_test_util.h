// Test doubles for the station: a user interface that keeps every message box, a view
// that records what the station asks of the window, and a fixture with a com port on a
// pseudo-terminal (the test plays the instrument at the master), a Wine prefix holding
// the host software's settings and an output directory.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/station.h"
#include "capturing_ui.h"
#include "platform/dialogs.h"
#include "platform/message_loop.h"
#include "pty_helper.h"

namespace hydrix::app::test {

class RecordingView : public StationView {
public:
    void FormChanged(FormItem item) override { changed.push_back(item); }
    void SetFocus(FocusTarget target) override { focus.push_back(target); }
    void CloseWindow() override { ++closes; }
    void RunFinished() override { ++finished; }
    void StepFailed(const std::string& what) override { failures.push_back(what); }

    std::vector<FormItem> changed;
    std::vector<FocusTarget> focus;
    int closes = 0;
    int finished = 0;
    std::vector<std::string> failures;
};

struct RegSettings {
    std::string port = "COM7";
    std::string baud = "115200";
    std::string softwareBreak = "1";
    std::string prefix = "ADCP";
    std::string outputDir;  // empty: the fixture's output directory

    static RegSettings Port(std::string v) {
        RegSettings r;
        r.port = std::move(v);
        return r;
    }
    static RegSettings Baud(std::string v) {
        RegSettings r;
        r.baud = std::move(v);
        return r;
    }
    static RegSettings Break(std::string v) {
        RegSettings r;
        r.softwareBreak = std::move(v);
        return r;
    }
    static RegSettings Dir(std::string v) {
        RegSettings r;
        r.outputDir = std::move(v);
        return r;
    }
};

class StationFixture : public ::testing::Test {
protected:
    static constexpr int kCom = 7;

    void SetUp() override {
        platform::MessageLoop::Instance().AttachToCurrentThread();
        platform::MessageLoop::Instance().ResetQuit();
        previousUi_ = platform::SetUserInterface(ui_);
        prefix_.LinkCom(kCom, pty_.SlavePath());
        outDir_ = prefix_.Path() / "out";
        std::filesystem::create_directories(outDir_);
    }
    void TearDown() override {
        station_.reset();
        // Packet managers and windows free themselves through posted messages.
        Pump([] { return false; }, 50);
        platform::SetUserInterface(previousUi_);
    }

    static std::string Quote(const std::string& s) {
        std::string out;
        for (char c : s) {
            if (c == '\\' || c == '"') {
                out.push_back('\\');
            }
            out.push_back(c);
        }
        return out;
    }
    void WriteUserReg(const std::string& body) {
        std::ofstream(prefix_.Path() / "user.reg")
            << "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n\n"
            << body;
    }
    static std::string KeyHeader() { return "[Software\\\\Velmar Sensors\\\\Tidewise\\\\Settings] 1700000000\n"; }
    void WriteSettings(const RegSettings& s) {
        const std::string dir = s.outputDir.empty() ? outDir_.string() : s.outputDir;
        WriteUserReg(KeyHeader() + "\"ADCP COM Port\"=\"" + Quote(s.port) + "\"\n\"ADCP Baud Rate\"=\"" +
                     Quote(s.baud) + "\"\n\"Use Software Break\"=\"" + Quote(s.softwareBreak) +
                     "\"\n\"Current Filename Prefix\"=\"" + Quote(s.prefix) + "\"\n\"Current Output Directory\"=\"" +
                     Quote(dir) + "\"\n");
    }

    // Every name a capture stem.txt could take in the output directory is taken (by a
    // folder), so that creating it fails.
    void TakeEveryCaptureName(const std::string& stem) {
        std::filesystem::create_directory(outDir_ / (stem + ".txt"));
        for (int n = 2; n <= terminal::kCaptureNameAttempts + 1; ++n) {
            std::filesystem::create_directory(outDir_ / (stem + "-" + std::to_string(n) + ".txt"));
        }
    }

    Station& MakeStation() {
        station_ = std::make_unique<Station>(&view_, StationOptions{prefix_.Path()});
        return *station_;
    }
    static bool Pump(const std::function<bool()>& done, uint32_t ms = 5000) {
        return platform::MessageLoop::Instance().ProcessUntil(done, ms);
    }
    // What the station sent, waiting until count bytes came.
    std::string Sent(size_t count) {
        std::string out;
        Pump([&] {
            out += pty_.ReadMaster(count - out.size(), 5);
            return out.size() >= count;
        });
        return out;
    }
    // Whatever the station sent within ms.
    std::string SentWithin(uint32_t ms) {
        std::string out;
        Pump(
            [&] {
                out += pty_.ReadMaster(4096, 1);
                return false;
            },
            ms);
        return out;
    }
    // Everything the station sent up to now. A marker goes down the line behind it (through
    // the station's own port while that is open, so it queues after the station's output;
    // else from the slave side), and what came before the marker is returned.
    std::string SentSoFar() {
        static const std::string kMarker = "\x1d<sent so far>";
        if (station_ && station_->ComPort1().Open()) {
            station_->ComPort1().SendString(kMarker);
        } else {
            EXPECT_GE(pty_.SlaveFd(), 0);
            EXPECT_EQ(::write(pty_.SlaveFd(), kMarker.data(), kMarker.size()), static_cast<ssize_t>(kMarker.size()));
        }
        std::string out;
        const bool marked = Pump([&] {
            out += pty_.ReadMaster(4096, 1);
            return out.size() >= kMarker.size() &&
                   out.compare(out.size() - kMarker.size(), kMarker.size(), kMarker) == 0;
        });
        EXPECT_TRUE(marked) << "the marker never came: " << out;
        return marked ? out.substr(0, out.size() - kMarker.size()) : out;
    }
    // The instrument answers; returns once the station has taken `steps` more steps.
    bool Answer(const std::string& text, int steps = 1) {
        const int target = station_->Step() + steps;
        if (!pty_.WriteMaster(text)) {
            return false;
        }
        return Pump([&] { return station_->Step() >= target; });
    }
    // FormCreate, then prompts and reports until step 3 (capture start) has run.
    void RunToCapture(const std::string& serialReport, const std::string& clockReport) {
        Station& s = *station_;
        s.FormCreate();
        ASSERT_EQ(Sent(6), "=====\r");
        ASSERT_TRUE(Answer("banner\r\n>"));
        ASSERT_EQ(Sent(4), "CR1\r");
        ASSERT_TRUE(Answer("CR1\r\n>"));
        ASSERT_EQ(Sent(4), "Ts?\r");
        ASSERT_TRUE(Answer("Ts?\r\n" + clockReport + ">"));
        ASSERT_EQ(Sent(4), "PS0\r");
        // Step 3 may end the run or fail instead of advancing.
        ASSERT_TRUE(pty_.WriteMaster("PS0\r\n" + serialReport + ">"));
        ASSERT_TRUE(Pump([&] { return s.Step() >= 4 || s.Closed() || !view_.failures.empty(); }));
    }

    hydrix::test::PtyPair pty_;
    hydrix::test::TempWinePrefix prefix_;
    std::filesystem::path outDir_;
    std::shared_ptr<hydrix::test::CapturingUi> ui_ = std::make_shared<hydrix::test::CapturingUi>();
    std::shared_ptr<platform::UserInterface> previousUi_;
    RecordingView view_;
    std::unique_ptr<Station> station_;
};

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace hydrix::app::test
