// The terminal control on a real com port over a pseudo-terminal: attaching and
// reattaching, bytes from the far end reaching the screen and the capture file, and
// keys and pasted text going out.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "comm/com_port.h"
#include "pty_helper.h"
#include "slow_clock.h"
#include "test_terminal_control_util.h"

namespace hydrix::terminal::test {
namespace {

constexpr uint16_t kCom = 7;
constexpr uint16_t kMissingCom = 200;

class TerminalPty : public TerminalFixture {
protected:
    void SetUp() override {
        TerminalFixture::SetUp();
        prefix_.LinkCom(kCom, pty_.SlavePath());
        port_.SetComNumber(kCom);
        port_.SetBaud(115200);
    }
    void TearDown() override {
        t_.reset();
        if (port_.Open()) {
            port_.SetOpen(false);
        }
        TerminalFixture::TearDown();
    }
    // Reads every byte offered, as the station's packet manager does.
    void AttachConsumer() {
        comm::BaseDispatcher* d = port_.Dispatcher();
        ASSERT_NE(d, nullptr);
        d->AttachMethodHandler(&consumed_, [this, d](uint32_t msg, uint32_t count, int32_t) {
            if (msg != comm::kTriggerAvailMsg) {
                return;
            }
            std::string buf(count, '\0');
            consumed_ += d->ReadBytes(buf.data(), static_cast<int>(count));
        });
    }
    bool Consumed(int n) {
        return PumpUntil([&] { return consumed_.load() >= n; });
    }
    bool Shows(int row, const std::string& text) {
        return PumpUntil([&] { return RowText(*t_, row) == text; });
    }
    bool Hooked() {
        return PumpUntil([&] { return t_->Receiver().Hooked(); });
    }
    // The terminal on the port, active and capturing to path.
    bool CaptureAttached(const std::string& path) {
        t_->SetCaptureFile(path);
        t_->SetCapture(CaptureMode::cmOn);
        t_->SetComPort(&port_);
        t_->HandleNeeded();
        return Hooked();
    }

    hydrix::test::PtyPair pty_;
    hydrix::test::TempWinePrefix prefix_;
    comm::ComPort port_;
    SlowClock slowClock_;  // outlives the terminal that may be given it
    std::unique_ptr<Terminal> t_ = std::make_unique<Terminal>();
    std::atomic<int> consumed_{0};
    TempDir dir_;
};

TEST_F(TerminalPty, ClosedPortWithoutAutoOpenIsAttachedWhenItOpensAndAfterReopening) {
    port_.SetAutoOpen(false);
    t_->SetComPort(&port_);
    EXPECT_EQ(port_.LinkedTerminal(), t_.get());
    t_->HandleNeeded();
    Pump();
    EXPECT_FALSE(t_->Receiver().Hooked());
    EXPECT_TRUE(t_->Receiver().AttachPending());
    EXPECT_FALSE(port_.Open());

    port_.SetOpen(true);
    ASSERT_TRUE(Hooked());
    ASSERT_TRUE(pty_.WriteMaster("one"));
    EXPECT_TRUE(Shows(1, "one"));

    port_.SetOpen(false);
    EXPECT_FALSE(t_->Receiver().Hooked());
    EXPECT_TRUE(t_->Receiver().AttachPending());
    port_.SetOpen(true);
    ASSERT_TRUE(Hooked());
    ASSERT_TRUE(pty_.WriteMaster("two"));
    EXPECT_TRUE(Shows(1, "onetwo"));
}

TEST_F(TerminalPty, ADestroyedPortIsForgotten) {
    auto port = std::make_unique<comm::ComPort>();
    port->SetComNumber(kCom);
    t_->SetComPort(port.get());
    t_->HandleNeeded();
    ASSERT_TRUE(Hooked());
    port.reset();
    EXPECT_EQ(t_->ComPort(), nullptr);
    EXPECT_FALSE(t_->Receiver().Hooked());
}

TEST_F(TerminalPty, ADestroyedPortIsForgottenAlsoWithoutAWindow) {
    auto port = std::make_unique<comm::ComPort>();
    port->SetComNumber(kCom);
    Terminal t;
    t.SetComPort(port.get());
    EXPECT_EQ(port->LinkedTerminal(), &t);
    port.reset();
    EXPECT_EQ(t.ComPort(), nullptr);
}

TEST_F(TerminalPty, AutoOpenPortIsOpenedByTheAttachStep) {
    t_->SetComPort(&port_);
    t_->HandleNeeded();
    ASSERT_TRUE(Hooked());
    EXPECT_TRUE(port_.Open());
    EXPECT_FALSE(t_->Receiver().AttachPending());
}

TEST_F(TerminalPty, AFailedOpenDoesNotBlockLaterAttachSteps) {
    port_.SetComNumber(kMissingCom);
    t_->SetComPort(&port_);
    t_->HandleNeeded();
    PumpUntil([&] { return !ui_->Reports().empty(); }, 2000);
    ASSERT_EQ(ui_->Reports().size(), 1u);  // the open error reached the exception report
    EXPECT_FALSE(t_->Receiver().Hooked());
    EXPECT_TRUE(t_->Receiver().AttachPending());

    port_.SetComNumber(kCom);
    platform::PostMessage(t_->Handle(), AM_TERMATTACH, 0, 0);
    EXPECT_TRUE(Hooked());
}

TEST_F(TerminalPty, ReceivedBytesReachScreenAndCaptureOnlyWhileActive) {
    const std::string path = dir_.File("pty.cap");
    port_.SetOpen(true);
    AttachConsumer();
    t_->SetActive(false);
    t_->SetComPort(&port_);
    t_->SetCaptureFile(path);
    t_->SetCapture(CaptureMode::cmOn);
    t_->HandleNeeded();
    ASSERT_TRUE(pty_.WriteMaster("early"));
    ASSERT_TRUE(Consumed(5));
    t_->SetActive(true);
    ASSERT_TRUE(Hooked());
    ASSERT_TRUE(pty_.WriteMaster("PA"));
    ASSERT_TRUE(Shows(1, "PA"));
    ASSERT_TRUE(pty_.WriteMaster("SS\r\n"));
    ASSERT_TRUE(PumpUntil([&] { return ReadFile(path).size() == 6; }));
    EXPECT_EQ(RowText(*t_, 1), "PASS");
    EXPECT_EQ(ReadFile(path), "PASS\r\n");

    t_->SetActive(false);
    EXPECT_FALSE(t_->Receiver().Hooked());
    ASSERT_TRUE(pty_.WriteMaster("late"));
    ASSERT_TRUE(Consumed(5 + 6 + 4));
    Pump();
    EXPECT_EQ(RowText(*t_, 2), "");
    EXPECT_EQ(ReadFile(path), "PASS\r\n");
}

TEST_F(TerminalPty, ScrollBarsAppearingOnAResizeDropNoBytes) {
    FakeHost host;
    const std::string path = dir_.File("resize.cap");
    t_->SetCaptureFile(path);
    t_->SetCapture(CaptureMode::cmOn);
    t_->SetComPort(&port_);
    t_->SetHost(&host);
    t_->View().Resize(80 * 8, 24 * 12);
    ASSERT_TRUE(Hooked());
    std::string sent;
    for (int i = 0; i < 6; ++i) {
        const std::string part = "part" + std::to_string(i) + ";";
        ASSERT_TRUE(pty_.WriteMaster(part));
        sent += part;
        // Narrow, then wide again: the bars come and go while bytes arrive.
        t_->View().Resize((i % 2 == 0 ? 30 : 80) * 8, (i % 2 == 0 ? 10 : 24) * 12);
        Pump();
        EXPECT_TRUE(t_->Receiver().Hooked());
    }
    EXPECT_TRUE(PumpUntil([&] { return ReadFile(path) == sent; }));
    EXPECT_EQ(RowText(*t_, 1), sent);
    t_->SetHost(nullptr);
}

TEST_F(TerminalPty, KeysGoToThePortExceptCopyAndCancel) {
    FakeHost host;
    t_->SetComPort(&port_);
    t_->SetHost(&host);
    ASSERT_TRUE(Hooked());
    t_->DisplayString("text");
    Pump();
    auto type = [&](uint16_t vk, ShiftState shift, uint8_t ch) {
        if (t_->PreviewKeyDown(vk, 0, shift)) {
            return;
        }
        uint16_t key = vk;
        t_->KeyDown(key, shift);
        t_->KeyPress(ch);
    };
    type('C', ssCtrl, 3);
    EXPECT_EQ(pty_.ReadMaster(1), "\x03");
    type(VK_BACK, 0, 8);
    EXPECT_EQ(pty_.ReadMaster(1), "\x7f");

    platform::SetClipboardText("");
    t_->MouseDown(MouseButton::mbLeft, 0, 1, 1);
    t_->MouseMove(0, 20, 1);
    type(VK_INSERT, ssCtrl, 0);
    type('C', ssCtrl, 3);
    EXPECT_EQ(platform::ClipboardText(), "tex\r\n");
    type(VK_ESCAPE, 0, 27);
    EXPECT_FALSE(t_->Selection().Selecting());
    EXPECT_FALSE(t_->Selection().HasSelection());
    type('C', ssCtrl | ssShift, 3);  // with Shift it is a key like any other
    EXPECT_EQ(pty_.ReadMaster(2, 300), "\x03");
    t_->SetHost(nullptr);
}

TEST_F(TerminalPty, PasteToScreenAndPortCharacterByCharacter) {
    t_->SetComPort(&port_);
    t_->HandleNeeded();
    ASSERT_TRUE(Hooked());
    platform::SetClipboardText("hi");
    t_->SetPasteToPort(true);
    t_->PasteClipboard();
    EXPECT_EQ(pty_.ReadMaster(2), "hi");
    t_->SetPasteToScreen(true);
    t_->PasteClipboard();
    EXPECT_EQ(pty_.ReadMaster(2), "hi");
    EXPECT_TRUE(Shows(1, "hi"));
}

TEST_F(TerminalPty, ABacklogIsHandedOnOneSlicePerMessage) {
    t_->Receiver().SetClock(slowClock_);
    const std::string path = dir_.File("backlog.cap");
    ASSERT_TRUE(CaptureAttached(path));
    std::string sent;
    for (int i = 0; sent.size() < 5 * kReceiveStep; ++i) {
        sent += "record " + std::to_string(i) + "\r\n";
    }
    const int total = static_cast<int>(sent.size());
    // The bytes pile up while the GUI thread is busy elsewhere, in many arrivals.
    ASSERT_TRUE(pty_.WriteMaster(sent, 10000));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (t_->Receiver().Count() < total && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(t_->Receiver().Count(), total);
    // One round of messages hands on one slice, so the thread gets back to its other work.
    Pump();
    EXPECT_EQ(t_->Receiver().Count(), total - kReceiveStep);
    EXPECT_EQ(ReadFile(path).size(), static_cast<size_t>(kReceiveStep));
    // Bytes arriving meanwhile queue up behind the backlog.
    ASSERT_TRUE(pty_.WriteMaster("tail\r\n"));
    ASSERT_TRUE(PumpUntil([&] { return ReadFile(path).size() == sent.size() + 6; }, 10000));
    EXPECT_EQ(ReadFile(path), sent + "tail\r\n");
    EXPECT_EQ(t_->Receiver().Count(), 0);
}

TEST_F(TerminalPty, AStreamOfBytesArrivesWholeAndInOrder) {
    const std::string path = dir_.File("stream.cap");
    ASSERT_TRUE(CaptureAttached(path));
    std::string sent;
    for (int i = 0; sent.size() < 30000; ++i) {
        sent += "line " + std::to_string(i) + "\r\n";
    }
    std::thread writer([&] { pty_.WriteMaster(sent, 10000); });
    // Text written by the program meanwhile goes through the same queue.
    for (int i = 0; i < 50; ++i) {
        t_->DisplayChar('#');
        Pump();
    }
    writer.join();
    ASSERT_TRUE(PumpUntil([&] { return ReadFile(path).size() == sent.size() + 50; }, 10000));
    std::string file = ReadFile(path);
    file.erase(std::remove(file.begin(), file.end(), '#'), file.end());
    EXPECT_EQ(file, sent);
}

}  // namespace
}  // namespace hydrix::terminal::test
