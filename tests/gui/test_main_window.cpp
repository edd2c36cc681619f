// The station's window over a whole simulated test: the simulated instrument plays on a
// pseudo-terminal reached as COM5 through a temporary Wine prefix; the window's title,
// labels and button follow the run, the terminal shows its whole screen, Escape ends a
// drag in the terminal and otherwise closes the window, a close from the title bar
// cancels the run, the side panel shows the longest clock and serial whole in whatever
// font the machine has, and a screenshot of the finished window is kept in the build
// directory.
#include <QCoreApplication>
#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "gui/main_window.h"
#include "gui/terminal_pane.h"
#include "gui/terminal_widget.h"
#include "gui_test_util.h"
#include "platform/dialogs.h"
#include "pty_helper.h"
#include "sim/instrument.h"
#include "sim/line_driver.h"
#include "sim/sim_pty.h"

namespace hydrix::gui {
namespace {

constexpr int kCom = 5;
constexpr const char* kClock = "07/12/31,23:59:58.99";

// Keeps message boxes instead of showing them: a modal box would stall the test.
class KeptMessages : public platform::UserInterface {
public:
    void ShowMessage(const std::string& text, const std::string&, platform::MessageIcon) override { Keep(text); }
    void ShowException(const std::string& text) override { Keep(text); }
    void Beep() override {}
    void SetClipboardText(const std::string& text) override { clipboard_ = text; }
    std::string ClipboardText() override { return clipboard_; }
    std::vector<std::string> Texts() {
        std::lock_guard guard(lock_);
        return texts_;
    }

private:
    void Keep(const std::string& text) {
        std::lock_guard guard(lock_);
        texts_.push_back(text);
    }
    std::mutex lock_;
    std::vector<std::string> texts_;
    std::string clipboard_;
};

// The simulated instrument on its own thread until the station hangs up.
class SimulatedInstrument {
public:
    explicit SimulatedInstrument(sim::SimOptions options) : instrument_(options) {
        if (pty_.Open() != 0) {
            throw std::runtime_error(pty_.Error());
        }
        line_ = std::make_unique<sim::LineDriver>(instrument_, pty_.MasterFd(), options);
        thread_ = std::thread([this] { line_->Run(); });
    }
    ~SimulatedInstrument() {
        line_->Stop();
        thread_.join();
    }
    const std::string& Path() const { return pty_.SlavePath(); }
    int HangUps() const { return line_->HangUps(); }

private:
    sim::SimPty pty_;
    sim::Instrument instrument_;
    std::unique_ptr<sim::LineDriver> line_;
    std::thread thread_;
};

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest() {
        previousUi_ = platform::SetUserInterface(ui_);
        session_ = std::make_unique<app::RunSession>(app::SessionOptions{});
    }
    ~MainWindowTest() override {
        window_.reset();
        platform::MessageLoop::Instance().ProcessMessages();
        session_.reset();
        platform::SetUserInterface(previousUi_);
    }

    void WriteSettings(const std::string& portLine) {
        std::filesystem::create_directories(outDir_);
        std::ofstream(prefix_.Path() / "user.reg")
            << "WINE REGISTRY Version 2\n\n[Software\\\\Velmar Sensors\\\\Tidewise\\\\Settings] 1700000000\n"
            << portLine << "\"ADCP Baud Rate\"=\"115200\"\n\"Use Software Break\"=\"1\"\n"
            << "\"Current Filename Prefix\"=\"ADCP\"\n\"Current Output Directory\"=\"" << outDir_.string() << "\"\n";
    }

    MainWindow& Open() {
        window_ = std::make_unique<MainWindow>(app::StationOptions{prefix_.Path()}, session_.get());
        window_->FormCreate();
        window_->show();
        window_->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window_.get()));
        return *window_;
    }

    QString Text(app::FormItem item) const { return window_->Label(item)->text(); }
    app::RunOutcome Outcome() const { return session_->Outcome(window_->Station().Outcome()); }

    test::InstalledQtDriver driver_;
    test::TempWinePrefix prefix_;
    std::filesystem::path outDir_ = prefix_.Path() / "out";
    std::shared_ptr<KeptMessages> ui_ = std::make_shared<KeptMessages>();
    std::shared_ptr<platform::UserInterface> previousUi_;
    std::unique_ptr<app::RunSession> session_;
    std::unique_ptr<MainWindow> window_;
};

TEST_F(MainWindowTest, LaysOutTheFormAsDesigned) {
    MainWindow window(app::StationOptions{prefix_.Path()});
    EXPECT_EQ(window.windowTitle(), "HYDRIX 1.01");
    EXPECT_TRUE(window.windowIcon().availableSizes().contains(QSize(48, 48)));
    EXPECT_EQ(window.size(), QSize(752, 564));
    EXPECT_EQ(window.Bevel1()->geometry(), QRect(0, 0, 117, 564));
    EXPECT_EQ(window.Terminal1()->geometry(), QRect(117, 0, 635, 564));
    EXPECT_EQ(window.Button1()->geometry(), QRect(16, 188, 75, 25));
    EXPECT_EQ(window.Button1()->text(), "&Cancel");

    struct Expected {
        const char* name;
        QString text;
        QPoint at;
        bool bold;
    };
    const std::vector<Expected> labels = {
        {"Label1", "Serial Number:", {12, 20}, true}, {"Label6", "Date, Time:", {12, 68}, true},
        {"Label2", "Pass", {12, 128}, true},          {"Label3", "Fail", {68, 128}, true},
        {"lblPass", "0", {24, 148}, false},           {"lblFail", "0", {76, 148}, false},
        {"lblSerial", "unknown", {12, 40}, false},    {"lblDateTime", "unknown", {12, 88}, false},
    };
    for (const Expected& e : labels) {
        SCOPED_TRACE(e.name);
        auto* label = window.findChild<QLabel*>(e.name);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), e.text);
        EXPECT_EQ(label->pos(), e.at);
        QFont panelFont = window.font();
        panelFont.setBold(e.bold);
        EXPECT_EQ(label->font(), panelFont);
        EXPECT_FALSE(label->isHidden());
    }
    for (const char* hidden : {"Label4", "Label5", "Label7", "Label8", "Label9", "Label10"}) {
        auto* label = window.findChild<QLabel*>(hidden);
        ASSERT_NE(label, nullptr) << hidden;
        EXPECT_TRUE(label->isHidden()) << hidden;
    }

    // The whole 80 x 45 screen is in view beside the scrollback bar, whatever the font.
    window.show();
    const terminal::CustomTerminal& terminal = window.Station().Terminal1();
    // The bars of the first, smaller layout go once the control has seen the pane.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return terminal.View().FullCols() == 80 && terminal.View().FullRows() == 45 &&
                   !window.Terminal1()->HorizontalScrollBar()->isVisible();
        },
        5000))
        << terminal.View().FullCols() << " x " << terminal.View().FullRows() << " of cell "
        << terminal.View().CharWidth() << " x " << terminal.View().CharHeight();
    EXPECT_EQ(terminal.View().TopRow(), 1);
    EXPECT_TRUE(window.Terminal1()->VerticalScrollBar()->isVisible());
}

TEST_F(MainWindowTest, ThePaneMadeOnItsOwnShowsTheScreenAsTheWindowDoes) {
    // The flood benchmark shows its terminal this way: it must see what the operator sees.
    MainWindow window(app::StationOptions{prefix_.Path()});
    window.show();
    const terminal::CustomTerminal& shown = window.Station().Terminal1();
    terminal::Terminal alone;
    alone.SetScrollbackRows(shown.ScrollbackRows());
    alone.SetRows(shown.Rows());
    alone.SetScrollback(shown.Scrollback());
    alone.SetFont(shown.Font());
    const std::unique_ptr<TerminalWidget> pane(MakeTerminalPane(alone));
    pane->show();
    const auto geometry = [](const terminal::CustomTerminal& t) {
        const terminal::TerminalViewport& v = t.View();
        return std::to_string(v.FullCols()) + " x " + std::to_string(v.FullRows()) + " of cell " +
               std::to_string(v.CharWidth()) + " x " + std::to_string(v.CharHeight());
    };
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return shown.View().FullRows() == 45 && geometry(alone) == geometry(shown); }, 5000))
        << geometry(alone) << " beside the window's " << geometry(shown);
}

TEST_F(MainWindowTest, RunsASimulatedTestToTheEndAndClosesOnEscape) {
    sim::SimOptions options;
    options.clock = kClock;
    options.failCount = 1;
    options.pc2Records = 5;
    options.pc2IntervalMs = 20;
    SimulatedInstrument instrument(options);
    prefix_.LinkCom(kCom, instrument.Path());
    WriteSettings("\"ADCP COM Port\"=\"COM5\"\n");

    MainWindow& window = Open();
    app::Station& station = window.Station();
    ASSERT_TRUE(QTest::qWaitFor([&] { return station.Outcome() != app::RunOutcome::Running; }, 30000))
        << "step " << station.Step();
    ASSERT_EQ(station.Outcome(), app::RunOutcome::Finished);
    // Let the terminal show the last bytes before the picture is taken.
    QTest::qWait(300);

    const std::string capture = (outDir_ / "1234.071231235958.99.txt").string();
    EXPECT_EQ(window.windowTitle().toStdString(), "HYDRIX 1.01 [Finished Test] Saved As " + capture);
    EXPECT_EQ(Text(app::FormItem::lblSerial), "1234");
    EXPECT_EQ(Text(app::FormItem::lblDateTime), kClock);
    // Every self-test of PT200 and PA reports once; the last one fails.
    const int selfTests =
        static_cast<int>(sim::Instrument::SelfTests("PT200").size() + sim::Instrument::SelfTests("PA").size());
    EXPECT_EQ(station.PassCount(), selfTests - 1);
    EXPECT_EQ(station.FailCount(), 1);
    EXPECT_EQ(Text(app::FormItem::lblPass), QString::number(selfTests - 1));
    EXPECT_EQ(Text(app::FormItem::lblFail), "1");
    EXPECT_EQ(Text(app::FormItem::Label9), QString::fromStdString(outDir_.string()));
    EXPECT_EQ(window.Button1()->text(), "&Close");
    EXPECT_TRUE(std::filesystem::file_size(capture) > 0);
    EXPECT_TRUE(ui_->Texts().empty()) << ui_->Texts().front();

    const QString shot = QDir(QCoreApplication::applicationDirPath()).filePath("main_window_finished.png");
    ASSERT_TRUE(window.grab().save(shot));
    std::printf("screenshot of the finished window: %s\n", qPrintable(shot));

    // Escape while a selection is dragged in the terminal ends only the drag.
    QWidget* client = window.Terminal1()->Viewport();
    const auto mouse = [&](QEvent::Type type, QPoint at, Qt::MouseButton button) {
        QMouseEvent event(type, QPointF(at), QPointF(client->mapToGlobal(at)), button, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(client, &event);
    };
    QSignalSpy pressed(window.Button1(), &QPushButton::clicked);
    mouse(QEvent::MouseButtonPress, QPoint(5, 5), Qt::LeftButton);
    mouse(QEvent::MouseMove, QPoint(200, 60), Qt::NoButton);
    ASSERT_TRUE(window.Station().Terminal1().Selection().HasSelection());
    QTest::keyClick(client, Qt::Key_Escape);
    EXPECT_EQ(pressed.count(), 0);
    EXPECT_FALSE(window.Station().Terminal1().Selection().Selecting());
    EXPECT_FALSE(window.Station().Terminal1().Selection().HasSelection());
    mouse(QEvent::MouseButtonRelease, QPoint(200, 60), Qt::LeftButton);

    // Otherwise Escape is the Cancel key, even with the terminal holding the focus.
    QTest::keyClick(window.Terminal1()->Viewport(), Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }, 5000));
    EXPECT_TRUE(station.Closed());
    EXPECT_EQ(Outcome(), app::RunOutcome::Finished);
    // The port closed with the window: the instrument saw the line hang up.
    EXPECT_TRUE(QTest::qWaitFor([&] { return instrument.HangUps() > 0; }, 5000));
}

TEST_F(MainWindowTest, TheLongestClockAndSerialFitInsideThePanel) {
    sim::SimOptions options;
    const QString clock = "99/12/31,23:59:59.99";
    const QString serial = "123456789012";
    options.clock = clock.toStdString();
    options.serial = serial.toStdString();
    options.pc2Records = 0;
    SimulatedInstrument instrument(options);
    prefix_.LinkCom(kCom, instrument.Path());
    WriteSettings("\"ADCP COM Port\"=\"COM5\"\n");

    MainWindow& window = Open();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Text(app::FormItem::lblDateTime) == clock && Text(app::FormItem::lblSerial) == serial; }, 30000))
        << Text(app::FormItem::lblSerial).toStdString() << " " << Text(app::FormItem::lblDateTime).toStdString();
    // A label reaching past the bevel's inner edge is cut off by the terminal beside it.
    const int inside = window.Bevel1()->geometry().right() - window.Bevel1()->frameWidth();
    for (const char* name : {"Label1", "Label6", "lblSerial", "lblDateTime"}) {
        const auto* label = window.findChild<QLabel*>(name);
        EXPECT_LE(label->geometry().right(), inside)
            << name << " \"" << label->text().toStdString() << "\" in " << label->font().toString().toStdString();
    }
    window.close();
}

TEST_F(MainWindowTest, MissingConfigurationClosesTheWindowByItself) {
    WriteSettings("");
    MainWindow& window = Open();
    ASSERT_EQ(ui_->Texts().size(), 1u);
    EXPECT_EQ(ui_->Texts()[0].rfind("Error... Tidewise 10.04 or greater required!", 0), 0u);
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }, 3000));
    EXPECT_EQ(Outcome(), app::RunOutcome::ConfigurationError);
}

TEST_F(MainWindowTest, ClosingFromTheTitleBarMidRunIsACancel) {
    hydrix::test::PtyPair silent;  // an instrument that never answers
    prefix_.LinkCom(kCom, silent.SlavePath());
    WriteSettings("\"ADCP COM Port\"=\"COM5\"\n");
    window_ = std::make_unique<MainWindow>(app::StationOptions{prefix_.Path()}, session_.get());
    window_->FormCreate();
    // Only the close may end this run, not the watchdog.
    window_->Station().CommTimer().SetEnabled(false);
    window_->show();
    ASSERT_EQ(window_->Station().Outcome(), app::RunOutcome::Running);
    window_->close();
    EXPECT_EQ(Outcome(), app::RunOutcome::Cancelled);
}

}  // namespace
}  // namespace hydrix::gui
