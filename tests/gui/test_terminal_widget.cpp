// The terminal widget over the toolkit-free control: keys reach the port as bytes,
// mouse drags and Ctrl+C reach the clipboard, the wheel, the scroll bars and their menus
// move through the scrollback, the font fits the screen into the form's pane whatever
// fonts there are, and the pixels show the written and the selected cells.
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QImage>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

#include "comm/com_port.h"
#include "gui/qt_user_interface.h"
#include "gui/terminal_widget.h"
#include "gui_test_util.h"
#include "pty_helper.h"
#include "terminal/terminal_buffer.h"

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
        return QPoint(
            (col - terminal_.View().LeftCol()) * terminal_.View().CharWidth() + terminal_.View().CharWidth() / 2,
            (row - terminal_.View().TopRow()) * terminal_.View().CharHeight() + terminal_.View().CharHeight() / 2);
    }

    void Mouse(QEvent::Type type, QPoint at, Qt::MouseButtons held) {
        const QPointF local(at);
        const QPointF global(widget_->Viewport()->mapToGlobal(at));
        QMouseEvent event(type, local, global, type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held,
                          Qt::NoModifier);
        QApplication::sendEvent(widget_->Viewport(), &event);
    }

    void Drag(QPoint from, QPoint to) {
        Mouse(QEvent::MouseButtonPress, from, Qt::LeftButton);
        Mouse(QEvent::MouseMove, to, Qt::LeftButton);
        Mouse(QEvent::MouseButtonRelease, to, Qt::NoButton);
    }

    void WheelNotches(int notches) {
        const QPointF at(5, 5);
        QWheelEvent event(at, widget_->Viewport()->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(widget_->Viewport(), &event);
    }

    // The pixels of one cell as the widget shows them.
    QImage Cell(int col, int row) {
        const QImage all = widget_->Viewport()->grab().toImage();
        const QPoint centre = CellCentre(col, row);
        return all.copy(centre.x() - terminal_.View().CharWidth() / 2, centre.y() - terminal_.View().CharHeight() / 2,
                        terminal_.View().CharWidth(), terminal_.View().CharHeight());
    }

    // Pixels of another colour than colour: the ink of glyphs, antialiased or not.
    static int Inked(const QImage& image, QRgb colour) {
        int n = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                n += (image.pixel(x, y) & 0xFFFFFF) != (colour & 0xFFFFFF);
            }
        }
        return n;
    }

    // The largest difference, over pixels and channels, between image and the colours of
    // other exchanged (white for black).
    static int DistanceFromInverse(const QImage& image, const QImage& other) {
        int most = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QRgb a = image.pixel(x, y);
                const QRgb b = other.pixel(x, y);
                most = std::max({most, std::abs(qRed(a) - (255 - qRed(b))), std::abs(qGreen(a) - (255 - qGreen(b))),
                                 std::abs(qBlue(a) - (255 - qBlue(b)))});
            }
        }
        return most;
    }

    // Opens the bar's own context menu at a point of the bar and picks the entry named
    // text, as the operator's right click does.
    static void ChooseFromBarMenu(QScrollBar* bar, QPoint at, const QString& text) {
        bool chosen = false;
        test::WhenMenuShown([&](QMenu* menu) {
            for (QAction* action : menu->actions()) {
                if (action->text() == text) {
                    menu->setActiveAction(action);
                    chosen = true;
                }
            }
            QTest::keyClick(menu, chosen ? Qt::Key_Return : Qt::Key_Escape);
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, bar->mapToGlobal(at));
        QApplication::sendEvent(bar, &event);
        EXPECT_TRUE(chosen) << text.toStdString();
    }

    // Twenty lines on the six-row screen: fifteen go into the scrollback.
    bool ShowScrollback() {
        std::string lines;
        for (int i = 1; i <= 20; ++i) {
            lines += "line " + std::to_string(i) + "\r\n";
        }
        return ShowText(lines, 5, "line 20");
    }

    test::InstalledQtDriver driver_;
    std::shared_ptr<platform::UserInterface> previousUi_;
    terminal::Terminal terminal_;
    std::unique_ptr<TerminalWidget> widget_;
};

TEST_F(TerminalWidgetTest, SizedToTheScreenShowsOnlyTheScrollbackBar) {
    EXPECT_GT(terminal_.View().CharWidth(), 0);
    EXPECT_GT(terminal_.View().CharHeight(), 0);
    EXPECT_EQ(terminal_.View().ClientWidth(), widget_->Viewport()->width());
    EXPECT_EQ(terminal_.View().ClientHeight(), widget_->Viewport()->height());
    EXPECT_EQ(terminal_.View().FullCols(), 20);
    EXPECT_EQ(terminal_.View().FullRows(), 6);
    EXPECT_TRUE(widget_->VerticalScrollBar()->isVisible());
    EXPECT_FALSE(widget_->HorizontalScrollBar()->isVisible());
    // Positions -44..5 with a page of 6: the thumb's top reaches -44..0.
    EXPECT_EQ(widget_->VerticalScrollBar()->minimum(), -44);
    EXPECT_EQ(widget_->VerticalScrollBar()->maximum(), 0);
    EXPECT_EQ(widget_->VerticalScrollBar()->value(), 0);

    // Narrower than the screen: the horizontal bar comes, nothing is recreated.
    const auto* viewportBefore = widget_->Viewport();
    widget_->resize(widget_->width() - 5 * terminal_.View().CharWidth(), widget_->height());
    EXPECT_TRUE(QTest::qWaitFor([&] { return widget_->HorizontalScrollBar()->isVisible(); }, 2000));
    Settle();
    EXPECT_EQ(widget_->Viewport(), viewportBefore);
    EXPECT_EQ(terminal_.View().ClientHeight(), widget_->Viewport()->height());
    EXPECT_LT(terminal_.View().FullCols(), 20);
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
    ASSERT_TRUE(QTest::qWaitFor([&] { return terminal_.Receiver().Hooked(); }, 5000));

    QWidget* client = widget_->Viewport();
    QTest::keyClicks(client, "aZ1");
    QTest::keyClick(client, Qt::Key_Return);
    QTest::keyClick(client, Qt::Key_Backspace);  // DEL with the built-in emulator
    QTest::keyClick(client, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(client, Qt::Key_C, Qt::ControlModifier);  // no selection: byte 3
    QTest::keyClick(client, Qt::Key_Left);                    // types nothing
    QTest::keyClick(client, Qt::Key_F1);
    QTest::keyClick(client, Qt::Key_Tab);
    QTest::keyClick(client, Qt::Key_Escape);
    const std::string expected = "aZ1\r\x7f\x01\x03\t\x1b";
    // The output thread writes while the test reads.
    std::string sent;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            sent += pty.ReadMaster(expected.size() - sent.size(), 10);
            return sent.size() >= expected.size();
        },
        5000));
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
    EXPECT_FALSE(terminal_.Selection().Selecting());
    EXPECT_FALSE(terminal_.Selection().HasSelection());
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
    ASSERT_TRUE(ShowScrollback());
    EXPECT_EQ(RowText(0), "line 15");
    QScrollBar* bar = widget_->VerticalScrollBar();
    ASSERT_EQ(terminal_.View().TopRow(), 1);

    WheelNotches(1);
    const int lines3 = std::max(QApplication::wheelScrollLines(), 1);
    EXPECT_EQ(terminal_.View().TopRow(), 1 - lines3);
    EXPECT_EQ(bar->value(), terminal_.View().TopRow() - 1);
    WheelNotches(-1);
    EXPECT_EQ(terminal_.View().TopRow(), 1);
    WheelNotches(-1);  // already at the bottom
    EXPECT_EQ(terminal_.View().TopRow(), 1);

    bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(terminal_.View().TopRow(), 0);
    bar->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(terminal_.View().TopRow(), -6);
    EXPECT_EQ(bar->value(), -7);
    // Dragging the thumb: the top row follows the thumb position.
    bar->setSliderDown(true);
    bar->setSliderPosition(-15);
    bar->setSliderDown(false);
    EXPECT_EQ(terminal_.View().TopRow(), -14);
    EXPECT_EQ(bar->value(), -15);
    EXPECT_EQ(RowText(-14), "line 1");
    // Past the top of the scrollback: clamped by the control.
    for (int i = 0; i < 10; ++i) {
        bar->triggerAction(QAbstractSlider::SliderPageStepSub);
    }
    EXPECT_EQ(terminal_.View().TopRow(), -43);
    EXPECT_EQ(bar->value(), -44);

    // New output brings the view back to the cursor, and the bar with it by the next frame.
    ASSERT_TRUE(ShowText("more", 6, "more"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return terminal_.View().TopRow() == 1; }, 2000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return bar->value() == 0; }, 2000)) << bar->value();
}

TEST_F(TerminalWidgetTest, ScrollBarMenusMoveTheView) {
    ASSERT_TRUE(ShowScrollback());
    // A row taller than the screen: scrolled back, the view holds seven rows, at the
    // bottom the six of the screen.
    widget_->resize(widget_->width(), widget_->height() + terminal_.View().CharHeight());
    ASSERT_EQ(terminal_.View().ClientHeight(), 7 * terminal_.View().CharHeight());
    QScrollBar* bar = widget_->VerticalScrollBar();
    const QPoint middle(bar->width() / 2, bar->height() / 2);

    ChooseFromBarMenu(bar, middle, "Top");
    EXPECT_EQ(terminal_.View().TopRow(), -43);
    EXPECT_EQ(bar->value(), -44);
    ChooseFromBarMenu(bar, middle, "Page down");
    EXPECT_EQ(terminal_.View().TopRow(), -36);
    ChooseFromBarMenu(bar, middle, "Scroll down");
    EXPECT_EQ(terminal_.View().TopRow(), -35);
    EXPECT_EQ(bar->value(), -36);
    ChooseFromBarMenu(bar, middle, "Bottom");
    EXPECT_EQ(terminal_.View().TopRow(), 1);
    EXPECT_EQ(bar->value(), 0);
    // Where the thumb lands is the style's business; the view goes with it.
    ChooseFromBarMenu(bar, middle, "Scroll here");
    EXPECT_LT(terminal_.View().TopRow(), 1);
    EXPECT_EQ(bar->value(), terminal_.View().TopRow() - 1);

    // Narrower than the screen: the horizontal bar's menu moves the columns.
    widget_->resize(widget_->width() - 5 * terminal_.View().CharWidth(), widget_->height());
    ASSERT_TRUE(QTest::qWaitFor([&] { return widget_->HorizontalScrollBar()->isVisible(); }, 2000));
    Settle();
    QScrollBar* hbar = widget_->HorizontalScrollBar();
    const QPoint centre(hbar->width() / 2, hbar->height() / 2);
    ChooseFromBarMenu(hbar, centre, "Right edge");
    EXPECT_EQ(terminal_.View().LeftCol(), 20 - terminal_.View().FullCols() + 1);
    EXPECT_EQ(hbar->value(), terminal_.View().LeftCol() - 1);
    ChooseFromBarMenu(hbar, centre, "Left edge");
    EXPECT_EQ(terminal_.View().LeftCol(), 1);
    EXPECT_EQ(hbar->value(), 0);
    ChooseFromBarMenu(hbar, QPoint(hbar->width() * 3 / 4, hbar->height() / 2), "Scroll here");
    EXPECT_GT(terminal_.View().LeftCol(), 1);
    EXPECT_EQ(hbar->value(), terminal_.View().LeftCol() - 1);
}

TEST_F(TerminalWidgetTest, FontFitsTheWholeScreenIntoTheFormsPane) {
    // The form's 80 x 45 screen in its 635 x 564 pane: with the font it names (which few
    // machines have), with one no machine has, and with one asked for far too large.
    terminal_.SetScrollbackRows(1000);
    terminal_.SetRows(45);
    terminal_.SetColumns(80);
    const QSize pane(635, 564);
    const auto open = [&](const std::string& name, int height) {
        terminal::TerminalFont font = terminal_.Font();
        font.Name = name;
        font.Height = height;
        widget_.reset();
        terminal_.SetFont(font);
        widget_ = std::make_unique<TerminalWidget>(terminal_, nullptr, pane);
        widget_->resize(pane);
        widget_->show();
    };
    for (const auto& [name, height] :
         {std::pair<std::string, int>{"Terminal", -12}, {"No Such Family", -12}, {"Terminal", -40}}) {
        SCOPED_TRACE(name + " " + std::to_string(height));
        open(name, height);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return terminal_.View().FullCols() == 80 && terminal_.View().FullRows() == 45; }, 2000))
            << terminal_.View().FullCols() << " x " << terminal_.View().FullRows() << " of cell "
            << terminal_.View().CharWidth() << " x " << terminal_.View().CharHeight();
        Settle();
        EXPECT_TRUE(widget_->VerticalScrollBar()->isVisible());
        EXPECT_FALSE(widget_->HorizontalScrollBar()->isVisible());
        EXPECT_EQ(terminal_.View().TopRow(), 1);
        // The cell is the one the font drawn really takes.
        const terminal::CellSize cell = TerminalWidget::CellOf(widget_->CellFont());
        EXPECT_EQ(terminal_.View().CharWidth(), cell.Width);
        EXPECT_EQ(terminal_.View().CharHeight(), cell.Height);
    }
    // Made smaller only as far as needed: a pixel larger would not fit.
    QFont larger = widget_->CellFont();
    larger.setPixelSize(larger.pixelSize() + 1);
    const terminal::CellSize next = TerminalWidget::CellOf(larger);
    EXPECT_FALSE(next.Width * 80 <= widget_->Viewport()->width() && next.Height * 45 <= widget_->Viewport()->height());
}

TEST_F(TerminalWidgetTest, PixelsShowWrittenAndSelectedCells) {
    ASSERT_TRUE(ShowText("XXXX", 1, "XXXX"));
    // The lazy display paints at the timer; wait for the text to appear.
    EXPECT_TRUE(QTest::qWaitFor([&] { return Inked(Cell(1, 1), qRgb(255, 255, 255)) > 0; }, 3000));
    const QImage written = Cell(2, 1);
    EXPECT_GT(Inked(written, qRgb(255, 255, 255)), 0);
    EXPECT_EQ(Inked(Cell(10, 1), qRgb(255, 255, 255)), 0);

    // Selected cells are painted with the colours exchanged; antialiased edges may blend
    // a little differently in the two directions.
    Drag(CellCentre(2, 1), CellCentre(12, 1));
    Settle();
    EXPECT_LE(DistanceFromInverse(Cell(2, 1), written), 48);
    EXPECT_EQ(Inked(Cell(10, 1), qRgb(0, 0, 0)), 0);
    EXPECT_EQ(Inked(Cell(14, 1), qRgb(255, 255, 255)), 0);
}

}  // namespace
}  // namespace hydrix::gui
