// The terminal widget over the toolkit-free control: keys reach the port as bytes,
// mouse drags and Ctrl+C reach the clipboard, the wheel and the scroll bar move through
// the scrollback, and the pixels show the written and the selected cells.
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "comm/com_port.h"
#include "gui/qt_user_interface.h"
#include "gui/terminal_widget.h"
#include "gui_test_util.h"
#include "pty_helper.h"

namespace hydrix::gui {
namespace {

constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kBlack = 0x000000;

class TerminalWidgetTest : public ::testing::Test {
protected:
    TerminalWidgetTest() {
        previousUi_ = platform::SetUserInterface(std::make_shared<QtUserInterface>());
        terminal_.SetColor(kWhite);
        terminal_.SetFontColor(kBlack);
        terminal_.SetColumns(20);
        terminal_.SetRows(6);
        terminal_.SetScrollbackRows(50);
        terminal_.SetScrollback(true);
        widget_ = std::make_unique<TerminalWidget>(terminal_);
        widget_->resize(widget_->sizeHint());
        widget_->show();
        Settle();
    }
    ~TerminalWidgetTest() override {
        widget_.reset();
        platform::SetUserInterface(previousUi_);
    }

    // Lets queued size reports, posted messages and paints run.
    static void Settle(int ms = 30) { QTest::qWait(ms); }

    std::string RowText(int row) {
        const uint8_t* chars = terminal_.Buffer()->RowChars(row);
        std::string s(reinterpret_cast<const char*>(chars), static_cast<size_t>(terminal_.Columns()));
        s.erase(s.find_last_not_of(' ') + 1);
        return s;
    }

    bool ShowText(const std::string& text, int row, const std::string& expected) {
        terminal_.DisplayString(text);
        return QTest::qWaitFor([&] { return RowText(row) == expected; }, 5000);
    }

    // Centre of a cell of the screen, in client pixels.
    QPoint CellCentre(int col, int row) const {
        return QPoint((col - terminal_.LeftCol()) * terminal_.CharWidth() + terminal_.CharWidth() / 2,
                      (row - terminal_.TopRow()) * terminal_.CharHeight() + terminal_.CharHeight() / 2);
    }

    void Mouse(QEvent::Type type, QPoint at, Qt::MouseButtons held) {
        const QPointF local(at);
        const QPointF global(widget_->Viewport()->mapToGlobal(at));
        QMouseEvent event(type, local, global, type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                          held, Qt::NoModifier);
        QApplication::sendEvent(widget_->Viewport(), &event);
    }

    void Drag(QPoint from, QPoint to) {
        Mouse(QEvent::MouseButtonPress, from, Qt::LeftButton);
        Mouse(QEvent::MouseMove, to, Qt::LeftButton);
        Mouse(QEvent::MouseButtonRelease, to, Qt::NoButton);
    }

    void WheelNotches(int notches) {
        const QPointF at(5, 5);
        QWheelEvent event(at, widget_->Viewport()->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(widget_->Viewport(), &event);
    }

    // The pixels of one cell as the widget shows them.
    QImage Cell(int col, int row) {
        const QImage all = widget_->Viewport()->grab().toImage();
        const QPoint centre = CellCentre(col, row);
        return all.copy(centre.x() - terminal_.CharWidth() / 2, centre.y() - terminal_.CharHeight() / 2,
                        terminal_.CharWidth(), terminal_.CharHeight());
    }

    static int Count(const QImage& image, QRgb colour) {
        int n = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) n += (image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
        }
        return n;
    }

    test::InstalledQtDriver driver_;
    std::shared_ptr<platform::UserInterface> previousUi_;
    terminal::Terminal terminal_;
    std::unique_ptr<TerminalWidget> widget_;
};

TEST_F(TerminalWidgetTest, SizedToTheScreenShowsOnlyTheScrollbackBar) {
    EXPECT_GT(terminal_.CharWidth(), 0);
    EXPECT_GT(terminal_.CharHeight(), 0);
    EXPECT_EQ(terminal_.ClientWidth(), widget_->Viewport()->width());
    EXPECT_EQ(terminal_.ClientHeight(), widget_->Viewport()->height());
    EXPECT_EQ(terminal_.FullCols(), 20);
    EXPECT_EQ(terminal_.FullRows(), 6);
    EXPECT_TRUE(widget_->VerticalScrollBar()->isVisible());
    EXPECT_FALSE(widget_->HorizontalScrollBar()->isVisible());
    // Positions -44..5 with a page of 6: the thumb's top reaches -44..0.
    EXPECT_EQ(widget_->VerticalScrollBar()->minimum(), -44);
    EXPECT_EQ(widget_->VerticalScrollBar()->maximum(), 0);
    EXPECT_EQ(widget_->VerticalScrollBar()->value(), 0);

    // Narrower than the screen: the horizontal bar comes, nothing is recreated.
    const auto* viewportBefore = widget_->Viewport();
    widget_->resize(widget_->width() - 5 * terminal_.CharWidth(), widget_->height());
    EXPECT_TRUE(QTest::qWaitFor([&] { return widget_->HorizontalScrollBar()->isVisible(); }, 2000));
    Settle();
    EXPECT_EQ(widget_->Viewport(), viewportBefore);
    EXPECT_EQ(terminal_.ClientHeight(), widget_->Viewport()->height());
    EXPECT_LT(terminal_.FullCols(), 20);
}

TEST_F(TerminalWidgetTest, TypedKeysGoToThePortAndReceivedBytesToTheScreen) {
    test::PtyPair pty;
    test::TempWinePrefix prefix;
    prefix.LinkCom(7, pty.SlavePath());
    comm::ComPort port;
    port.SetComNumber(7);
    port.SetOpen(true);
    terminal_.SetComPort(&port);
    terminal_.SetActive(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return terminal_.Hooked(); }, 5000));

    QWidget* client = widget_->Viewport();
    QTest::keyClicks(client, "aZ1");
    QTest::keyClick(client, Qt::Key_Return);
    QTest::keyClick(client, Qt::Key_Backspace);   // DEL with the built-in emulator
    QTest::keyClick(client, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(client, Qt::Key_C, Qt::ControlModifier);  // no selection: byte 3
    QTest::keyClick(client, Qt::Key_Left);        // types nothing
    QTest::keyClick(client, Qt::Key_F1);
    QTest::keyClick(client, Qt::Key_Tab);
    QTest::keyClick(client, Qt::Key_Escape);
    const std::string expected = "aZ1\r\x7f\x01\x03\t\x1b";
    // The output thread writes while the test reads.
    std::string sent;
    EXPECT_TRUE(QTest::qWaitFor([&] {
        sent += pty.ReadMaster(expected.size() - sent.size(), 10);
        return sent.size() >= expected.size();
    }, 5000));
    EXPECT_EQ(sent, expected);

    ASSERT_TRUE(pty.WriteMaster("from the line"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return RowText(1) == "from the line"; }, 5000));

    terminal_.SetActive(false);
    terminal_.SetComPort(nullptr);
    port.SetOpen(false);
}

TEST_F(TerminalWidgetTest, DragAndCtrlCPutTheTextOnTheClipboard) {
    ASSERT_TRUE(ShowText("hello world\r\nsecond line", 2, "second line"));
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText("untouched");

    // Esc while dragging ends the drag and leaves the clipboard alone.
    Mouse(QEvent::MouseButtonPress, CellCentre(1, 1), Qt::LeftButton);
    Mouse(QEvent::MouseMove, CellCentre(3, 1), Qt::LeftButton);
    QTest::keyClick(widget_->Viewport(), Qt::Key_Escape);
    EXPECT_FALSE(terminal_.Selecting());
    EXPECT_FALSE(terminal_.HasSelection());
    EXPECT_EQ(clipboard->text(), "untouched");

    // Release copies (AutoCopy); rows but the last are taken to the last column.
    Drag(CellCentre(7, 1), CellCentre(6, 2));
    EXPECT_EQ(clipboard->text().toStdString(), "world         \r\nsecond\r\n");

    clipboard->setText("other");
    QTest::keyClick(widget_->Viewport(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard->text().toStdString(), "world         \r\nsecond\r\n");
    clipboard->setText("other");
    QTest::keyClick(widget_->Viewport(), Qt::Key_Insert, Qt::ControlModifier);
    EXPECT_EQ(clipboard->text().toStdString(), "world         \r\nsecond\r\n");

    // A click without dragging copies the clicked cell.
    Drag(CellCentre(2, 1), CellCentre(2, 1));
    EXPECT_EQ(clipboard->text().toStdString(), "e\r\n");
}

TEST_F(TerminalWidgetTest, WheelAndScrollBarMoveThroughTheScrollback) {
    std::string lines;
    for (int i = 1; i <= 20; ++i) lines += "line " + std::to_string(i) + "\r\n";
    ASSERT_TRUE(ShowText(lines, 5, "line 20"));
    EXPECT_EQ(RowText(0), "line 15");
    QScrollBar* bar = widget_->VerticalScrollBar();
    ASSERT_EQ(terminal_.TopRow(), 1);

    WheelNotches(1);
    const int lines3 = std::max(QApplication::wheelScrollLines(), 1);
    EXPECT_EQ(terminal_.TopRow(), 1 - lines3);
    EXPECT_EQ(bar->value(), terminal_.TopRow() - 1);
    WheelNotches(-1);
    EXPECT_EQ(terminal_.TopRow(), 1);
    WheelNotches(-1);  // already at the bottom
    EXPECT_EQ(terminal_.TopRow(), 1);

    bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(terminal_.TopRow(), 0);
    bar->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(terminal_.TopRow(), -6);
    EXPECT_EQ(bar->value(), -7);
    // Dragging the thumb: the top row follows the thumb position.
    bar->setSliderDown(true);
    bar->setSliderPosition(-15);
    bar->setSliderDown(false);
    EXPECT_EQ(terminal_.TopRow(), -14);
    EXPECT_EQ(bar->value(), -15);
    EXPECT_EQ(RowText(-14), "line 1");
    // Past the top of the scrollback: clamped by the control.
    for (int i = 0; i < 10; ++i) bar->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(terminal_.TopRow(), -43);
    EXPECT_EQ(bar->value(), -44);

    // New output brings the view back to the cursor.
    ASSERT_TRUE(ShowText("more", 6, "more"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return terminal_.TopRow() == 1; }, 2000));
    EXPECT_EQ(bar->value(), 0);
}

TEST_F(TerminalWidgetTest, PixelsShowWrittenAndSelectedCells) {
    ASSERT_TRUE(ShowText("XXXX", 1, "XXXX"));
    // The lazy display paints at the timer; wait for the text to appear.
    EXPECT_TRUE(QTest::qWaitFor([&] { return Count(Cell(1, 1), qRgb(0, 0, 0)) > 0; }, 3000));
    const QImage written = Cell(2, 1);
    const int ink = Count(written, qRgb(0, 0, 0));
    EXPECT_GT(ink, 0);
    EXPECT_GT(Count(written, qRgb(255, 255, 255)), ink);  // black glyph on white
    const QImage blank = Cell(10, 1);
    EXPECT_EQ(Count(blank, qRgb(255, 255, 255)), blank.width() * blank.height());

    // Selected cells are painted with the colours exchanged.
    Drag(CellCentre(2, 1), CellCentre(12, 1));
    Settle();
    const QImage selected = Cell(2, 1);
    EXPECT_GT(Count(selected, qRgb(255, 255, 255)), 0);
    EXPECT_GT(Count(selected, qRgb(0, 0, 0)), Count(selected, qRgb(255, 255, 255)));
    const QImage selectedBlank = Cell(10, 1);
    EXPECT_EQ(Count(selectedBlank, qRgb(0, 0, 0)), selectedBlank.width() * selectedBlank.height());
    const QImage outside = Cell(14, 1);
    EXPECT_EQ(Count(outside, qRgb(255, 255, 255)), outside.width() * outside.height());
}

}  // namespace
}  // namespace hydrix::gui
