// The terminal control on screen: a thin Qt widget that draws what the toolkit-free
// control paints (through a backing image, so the control may draw at any time), shows
// its caret and scroll bars, and forwards keys, mouse, wheel, size and focus to it.
#pragma once

#include <QElapsedTimer>
#include <QFrame>
#include <QPixmap>
#include <QRegion>
#include <QTimer>

#include <array>
#include <optional>

#include "gui/qt_canvas.h"
#include "terminal/terminal_control.h"
#include "terminal/terminal_host.h"

class QKeyEvent;
class QMouseEvent;
class QPaintEvent;
class QScrollBar;
class QWheelEvent;

namespace hydrix::gui {

class TerminalWidget : public QFrame, public terminal::TerminalHost {
    Q_OBJECT

public:
    // The shortest time between two frames showing what the control changed (60 a second).
    static constexpr qint64 kFrameMs = 16;

    // terminal must outlive the widget; the widget becomes its host until destroyed. With
    // a fitSize the font is chosen so that the whole screen fits a widget of that size
    // (the form's design), beside the vertical scroll bar.
    explicit TerminalWidget(terminal::CustomTerminal& terminal, QWidget* parent = nullptr, QSize fitSize = QSize());
    ~TerminalWidget() override;

    terminal::CustomTerminal& Terminal() const { return terminal_; }
    // The client area (what the control calls its window, without the scroll bars).
    QWidget* Viewport() const;
    QScrollBar* HorizontalScrollBar() const { return bars_[0]; }
    QScrollBar* VerticalScrollBar() const { return bars_[1]; }

    QSize sizeHint() const override;

    // TerminalHost.
    terminal::CellSize MeasureFont(const terminal::TerminalFont& font) override;
    void ShowScrollBar(terminal::ScrollBarKind bar, bool visible) override;
    void SetScrollInfo(terminal::ScrollBarKind bar, const terminal::ScrollInfo& info) override;
    void InvalidateRect(const terminal::PixelRect* rect, bool erase) override;
    void ScrollWindow(int dx, int dy) override;
    terminal::Canvas* BeginDraw() override;
    void EndDraw() override;
    void SetCaret(const terminal::CaretState& caret) override;
    bool HasFocus() const override;
    void SetFocus() override;
    terminal::ClientPoint CursorPos() const override;
    bool NumLockOn() const override { return numLockOn_; }
    void SetBorder(bool single) override;

    // The font a TerminalFont stands for here: the named font when it is an installed
    // fixed-pitch family, else DejaVu Sans Mono, else the system's fixed font; at the
    // font's pixel height, or the largest smaller one whose cell fits in maxCell.
    static QFont ResolveFont(const terminal::TerminalFont& font, QSize maxCell = QSize());
    // The cell a font really takes (from the metrics of the font Qt resolved it to).
    static terminal::CellSize CellOf(const QFont& font);
    // The font the cells are drawn in.
    const QFont& CellFont() const { return font_.Font; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    class ClientArea;
    friend class ClientArea;

    // Events of the client area.
    void PaintClient(QPaintEvent* event);
    void KeyPressed(QKeyEvent* event);
    void MousePressed(QMouseEvent* event);
    void MouseMoved(QMouseEvent* event);
    void MouseReleased(QMouseEvent* event);
    void Wheel(QWheelEvent* event);
    void FocusChanged(bool in);
    bool WantsAllKeys() const { return terminal_.WantAllKeys(); }

    void ScrollAction(terminal::ScrollBarKind bar, int action);
    // A WM_HSCROLL / WM_VSCROLL request to the control; the bar then shows where the
    // control went.
    void ScrollRequest(terminal::ScrollBarKind bar, int code, int pos);
    void ShowControlPosition(terminal::ScrollBarKind bar);
    // The largest cell with which the screen fits fitSize_; invalid without one.
    QSize CellBudget() const;
    // Places client area and bars; a changed client size goes to the control, later
    // when the change came from the control itself.
    void Layout(bool deferReport);
    void ReportSize();
    void DeferReportSize();
    void EnsureBacking();
    // What the control changes (cells, caret, scroll bars) reaches the screen at most
    // once a frame: under a flood it changes far more often than anyone can see, and each
    // repaint costs the GUI thread (and Qt's painting threads, which it waits for) more
    // than the change itself.
    void Repaint(const QRegion& region);
    void ScheduleFrame();
    void ShowFrame();
    // Hands the bar's kept information to the Qt bar.
    void ApplyBar(terminal::ScrollBarKind bar);
    QRect CaretRect() const;
    // Runs a call into the control; an exception goes to the application's report, since
    // it must not cross Qt's event loop.
    template <typename Fn>
    void Forward(Fn fn);

    terminal::CustomTerminal& terminal_;
    const QSize fitSize_;
    ClientArea* viewport_;
    std::array<QScrollBar*, 2> bars_{};
    QWidget* corner_;
    std::array<bool, 2> barShown_{};
    std::array<terminal::ScrollInfo, 2> barInfo_{};
    QSize reportedSize_{-1, -1};
    bool reportQueued_ = false;

    CanvasFont font_;
    QPixmap backing_;
    QRegion dirty_;
    QRegion pendingRepaint_;
    std::array<bool, 2> barStale_{};
    QElapsedTimer lastFrame_;
    QTimer frameTimer_;
    QPainter drawPainter_;
    std::optional<QPainterCanvas> drawCanvas_;

    terminal::CaretState caret_;
    bool caretOn_ = true;
    bool painting_ = false;
    QTimer caretBlink_;
    bool numLockOn_ = true;
    int wheelRemainder_ = 0;
};

}  // namespace hydrix::gui
