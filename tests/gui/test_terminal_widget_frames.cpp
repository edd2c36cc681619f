// What the control changes reaches the screen at most once a frame, and the last change
// of a burst is shown all the same.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

#include "gui/terminal_widget.h"
#include "terminal/terminal_control.h"

namespace hydrix::gui {
namespace {

// Counts the paint events of a widget.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return false;
    }
};

class TerminalWidgetFrames : public ::testing::Test {
protected:
    TerminalWidgetFrames() {
        terminal_.SetColumns(20);
        terminal_.SetRows(6);
        widget_ = std::make_unique<TerminalWidget>(terminal_);
        widget_->resize(widget_->sizeHint());
        widget_->show();
        QTest::qWait(3 * TerminalWidget::kFrameMs);
        counter_ = std::make_unique<PaintCounter>(widget_->Viewport());
    }

    terminal::Terminal terminal_;
    std::unique_ptr<TerminalWidget> widget_;
    std::unique_ptr<PaintCounter> counter_;
};

TEST_F(TerminalWidgetFrames, ChangesInQuickSuccessionArePaintedAtMostOnceAFrame) {
    QElapsedTimer elapsed;
    elapsed.start();
    for (int i = 0; i < 200; ++i) {
        terminal_.View().Invalidate();
        QCoreApplication::processEvents();
    }
    const qint64 frames = elapsed.elapsed() / TerminalWidget::kFrameMs + 1;
    EXPECT_LE(counter_->paints, frames);
}

TEST_F(TerminalWidgetFrames, TheLastChangeOfABurstIsPaintedInTheNextFrame) {
    terminal_.View().Invalidate();
    QCoreApplication::processEvents();
    const int first = counter_->paints;
    terminal_.View().Invalidate();
    EXPECT_TRUE(QTest::qWaitFor([&] { return counter_->paints > first; }, 2000));
}

}  // namespace
}  // namespace hydrix::gui
