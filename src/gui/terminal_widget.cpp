#include "gui/terminal_widget.h"

#include <QApplication>
#include <QCursor>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <exception>
#include <string>

#include "gui/qt_key_map.h"
#include "platform/dialogs.h"

namespace hydrix::gui {

using terminal::PixelRect;
using terminal::ScrollBarKind;

namespace {

// Pixel rows copied from the backing image at a time (Qt's painting threads take copies
// of 96 rows and more).
constexpr int kCopyBandRows = 64;

QRect ToQRect(const PixelRect& r) {
    return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

PixelRect ToPixelRect(const QRect& r) {
    return PixelRect{r.left(), r.top(), r.right() + 1, r.bottom() + 1};
}

terminal::ShiftState ShiftOf(Qt::KeyboardModifiers mods) {
    terminal::ShiftState shift = 0;
    if (mods & Qt::ShiftModifier) {
        shift |= terminal::ssShift;
    }
    if (mods & Qt::ControlModifier) {
        shift |= terminal::ssCtrl;
    }
    if (mods & Qt::AltModifier) {
        shift |= terminal::ssAlt;
    }
    return shift;
}

std::optional<terminal::MouseButton> ButtonOf(Qt::MouseButton button) {
    switch (button) {
    case Qt::LeftButton:
        return terminal::MouseButton::mbLeft;
    case Qt::RightButton:
        return terminal::MouseButton::mbRight;
    case Qt::MiddleButton:
        return terminal::MouseButton::mbMiddle;
    default:
        return std::nullopt;
    }
}

bool IsKeypadNavigation(int key) {
    switch (key) {
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Insert:
    case Qt::Key_Delete:
    case Qt::Key_Clear:
        return true;
    default:
        return false;
    }
}

}  // namespace

// The client area: hands every event to the widget, which forwards it to the control.
class TerminalWidget::ClientArea : public QWidget {
public:
    explicit ClientArea(TerminalWidget& owner) : QWidget(&owner), owner_(owner) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_NoSystemBackground);
        setAttribute(Qt::WA_InputMethodEnabled, false);
        setMouseTracking(true);  // OnMouseMove sees moves without a button, as on Windows
        setFocusPolicy(Qt::ClickFocus);
    }

protected:
    bool event(QEvent* event) override {
        // Keys the control wants (Ctrl+C included) are not taken as shortcuts elsewhere;
        // Alt combinations stay with the window's menus, as system keys do.
        if (event->type() == QEvent::ShortcutOverride && owner_.WantsAllKeys() &&
            !(static_cast<QKeyEvent*>(event)->modifiers() & Qt::AltModifier)) {
            event->accept();
            return true;
        }
        return QWidget::event(event);
    }
    bool focusNextPrevChild(bool next) override {
        return owner_.WantsAllKeys() ? false : QWidget::focusNextPrevChild(next);
    }
    void paintEvent(QPaintEvent* event) override { owner_.PaintClient(event); }
    void keyPressEvent(QKeyEvent* event) override { owner_.KeyPressed(event); }
    void mousePressEvent(QMouseEvent* event) override { owner_.MousePressed(event); }
    void mouseDoubleClickEvent(QMouseEvent* event) override { owner_.MousePressed(event); }
    void mouseMoveEvent(QMouseEvent* event) override { owner_.MouseMoved(event); }
    void mouseReleaseEvent(QMouseEvent* event) override { owner_.MouseReleased(event); }
    void wheelEvent(QWheelEvent* event) override { owner_.Wheel(event); }
    void focusInEvent(QFocusEvent*) override { owner_.FocusChanged(true); }
    void focusOutEvent(QFocusEvent*) override { owner_.FocusChanged(false); }

private:
    TerminalWidget& owner_;
};

TerminalWidget::TerminalWidget(terminal::CustomTerminal& terminal, QWidget* parent, QSize fitSize)
    : QFrame(parent), terminal_(terminal), fitSize_(fitSize) {
    viewport_ = new ClientArea(*this);
    setFocusProxy(viewport_);
    for (int i = 0; i < 2; ++i) {
        const auto kind = static_cast<ScrollBarKind>(i);
        auto* bar = new QScrollBar(kind == ScrollBarKind::Horizontal ? Qt::Horizontal : Qt::Vertical, this);
        bar->setFocusPolicy(Qt::NoFocus);
        bar->hide();
        connect(bar, &QScrollBar::actionTriggered, this, [this, kind](int action) { ScrollAction(kind, action); });
        connect(bar, &QScrollBar::sliderReleased, this, [this, kind] {
            ScrollRequest(kind, terminal::SB_THUMBPOSITION, bars_[static_cast<int>(kind)]->sliderPosition());
        });
        // A value set without an action (the bar's "Scroll here") moves the view as well.
        connect(bar, &QScrollBar::valueChanged, this, [this, kind](int value) {
            if (value != barInfo_[static_cast<int>(kind)].Pos) {
                ScrollRequest(kind, terminal::SB_THUMBPOSITION, value);
            }
        });
        bars_[i] = bar;
    }
    corner_ = new QWidget(this);
    corner_->setAutoFillBackground(true);
    corner_->hide();

    frameTimer_.setSingleShot(true);
    frameTimer_.setTimerType(Qt::PreciseTimer);
    connect(&frameTimer_, &QTimer::timeout, this, [this] { ShowFrame(); });

    const int flash = QApplication::cursorFlashTime();
    if (flash > 0) {
        caretBlink_.setInterval(flash / 2);
        connect(&caretBlink_, &QTimer::timeout, this, [this] {
            caretOn_ = !caretOn_;
            viewport_->update(CaretRect());
        });
    }

    Forward([this] { terminal_.SetHost(this); });
    Layout(false);
    ReportSize();
}

TerminalWidget::~TerminalWidget() {
    // The control hears of the lost focus while this widget is still whole; the client
    // area goes before the base class would delete it, since its events come here.
    viewport_->clearFocus();
    drawCanvas_.reset();
    if (drawPainter_.isActive()) {
        drawPainter_.end();
    }
    if (terminal_.Host() == this) {
        Forward([this] { terminal_.SetHost(nullptr); });
    }
    delete viewport_;
}

QWidget* TerminalWidget::Viewport() const {
    return viewport_;
}

template <typename Fn>
void TerminalWidget::Forward(Fn fn) {
    std::string error;
    try {
        fn();
        return;
    } catch (const std::exception& e) {
        error = e.what();
    } catch (...) {
        error = "Unknown exception";
    }
    // Reported from the event loop, not from inside this event (perhaps a paint).
    QMetaObject::invokeMethod(
        qApp, [error] { platform::ShowExceptionReport(error); }, Qt::QueuedConnection);
}

QSize TerminalWidget::sizeHint() const {
    const int cols = std::max(terminal_.Columns(), 1);
    const int rows = std::max(terminal_.Rows(), 1);
    const int w = cols * std::max(terminal_.View().CharWidth(), 1) + frameWidth() * 2 +
                  (barShown_[1] ? bars_[1]->sizeHint().width() : 0);
    const int h = rows * std::max(terminal_.View().CharHeight(), 1) + frameWidth() * 2 +
                  (barShown_[0] ? bars_[0]->sizeHint().height() : 0);
    return QSize(w, h);
}

// Geometry ---------------------------------------------------------------------------------

void TerminalWidget::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    Layout(false);
}

void TerminalWidget::Layout(bool deferReport) {
    const QRect area = contentsRect();
    const int barW = barShown_[1] ? bars_[1]->sizeHint().width() : 0;
    const int barH = barShown_[0] ? bars_[0]->sizeHint().height() : 0;
    const int clientW = std::max(area.width() - barW, 0);
    const int clientH = std::max(area.height() - barH, 0);
    viewport_->setGeometry(area.x(), area.y(), clientW, clientH);
    bars_[1]->setGeometry(area.x() + clientW, area.y(), barW, clientH);
    bars_[0]->setGeometry(area.x(), area.y() + clientH, clientW, barH);
    corner_->setGeometry(area.x() + clientW, area.y() + clientH, barW, barH);
    corner_->setVisible(barShown_[0] && barShown_[1]);
    EnsureBacking();
    if (viewport_->size() == reportedSize_) {
        return;
    }
    if (deferReport) {
        DeferReportSize();
    } else {
        ReportSize();
    }
}

void TerminalWidget::DeferReportSize() {
    if (reportQueued_) {
        return;
    }
    reportQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            reportQueued_ = false;
            ReportSize();
        },
        Qt::QueuedConnection);
}

void TerminalWidget::ReportSize() {
    const QSize size = viewport_->size();
    if (size == reportedSize_) {
        return;
    }
    reportedSize_ = size;
    Forward([&] { terminal_.View().Resize(size.width(), size.height()); });
}

void TerminalWidget::EnsureBacking() {
    const QSize size = viewport_->size();
    if (!backing_.isNull() && backing_.deviceIndependentSize().toSize() == size) {
        return;
    }
    if (size.isEmpty()) {
        backing_ = QPixmap();
        dirty_ = QRegion();
        return;
    }
    const qreal ratio = viewport_->devicePixelRatioF();
    backing_ = QPixmap(size * ratio);
    backing_.setDevicePixelRatio(ratio);
    backing_.fill(ColorFromRgbValue(terminal_.Color()));
    dirty_ = QRegion(QRect(QPoint(0, 0), size));
    viewport_->update();
}

// TerminalHost ------------------------------------------------------------------------------

QFont TerminalWidget::ResolveFont(const terminal::TerminalFont& spec, QSize maxCell) {
    // Installed by the set-up script; it has every character of the code page.
    static const QString kFallback = QStringLiteral("DejaVu Sans Mono");
    const QString name = QString::fromStdString(spec.Name);
    const auto fixed = [](const QString& family) {
        return QFontDatabase::hasFamily(family) && QFontDatabase::isFixedPitch(family);
    };
    QFont font = fixed(name)        ? QFont(name)
                 : fixed(kFallback) ? QFont(kFallback)
                                    : QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setKerning(false);
    if (spec.Height != 0) {
        font.setPixelSize(std::abs(spec.Height));
    } else if (spec.Size > 0) {
        font.setPointSize(spec.Size);
    }
    if (!maxCell.isValid()) {
        return font;
    }
    // The size asked for is the nominal one of the font the form names; another family
    // at that size may well take a taller or wider cell.
    constexpr int kSmallestPixelSize = 4;
    const auto fits = [&](const terminal::CellSize& cell) {
        return cell.Width <= maxCell.width() && cell.Height <= maxCell.height();
    };
    for (int px = QFontInfo(font).pixelSize(); px > kSmallestPixelSize && !fits(CellOf(font));) {
        font.setPixelSize(--px);
    }
    return font;
}

terminal::CellSize TerminalWidget::CellOf(const QFont& font) {
    const QFontMetricsF metrics(font);
    terminal::CellSize cell;
    cell.Width = static_cast<int>(std::ceil(metrics.horizontalAdvance(QLatin1Char('M'))));
    cell.Height = static_cast<int>(std::ceil(metrics.height() + std::max<qreal>(metrics.leading(), 0)));
    return cell;
}

QSize TerminalWidget::CellBudget() const {
    if (!fitSize_.isValid()) {
        return QSize();
    }
    const int w = fitSize_.width() - 2 * frameWidth() - bars_[1]->sizeHint().width();
    const int h = fitSize_.height() - 2 * frameWidth();
    return QSize(std::max(w / std::max(terminal_.Columns(), 1), 1), std::max(h / std::max(terminal_.Rows(), 1), 1));
}

terminal::CellSize TerminalWidget::MeasureFont(const terminal::TerminalFont& spec) {
    font_ = CanvasFont(ResolveFont(spec, CellBudget()));
    updateGeometry();
    return CellOf(font_.Font);
}

void TerminalWidget::ShowScrollBar(ScrollBarKind bar, bool visible) {
    const int i = static_cast<int>(bar);
    if (barShown_[i] == visible) {
        return;
    }
    barShown_[i] = visible;
    bars_[i]->setVisible(visible);
    updateGeometry();
    // The control is in the middle of its own work: it hears of the new size afterwards.
    Layout(true);
}

void TerminalWidget::SetScrollInfo(ScrollBarKind bar, const terminal::ScrollInfo& info) {
    const int i = static_cast<int>(bar);
    terminal::ScrollInfo& kept = barInfo_[i];
    if (info.Mask & terminal::SIF_RANGE) {
        kept.Min = info.Min;
        kept.Max = info.Max;
    }
    if (info.Mask & terminal::SIF_PAGE) {
        kept.Page = info.Page;
    }
    if (info.Mask & terminal::SIF_POS) {
        kept.Pos = info.Pos;
    }
    kept.Mask |= info.Mask;
    barStale_[i] = true;
    ScheduleFrame();
}

void TerminalWidget::ApplyBar(ScrollBarKind bar) {
    const int i = static_cast<int>(bar);
    barStale_[i] = false;
    const terminal::ScrollInfo& kept = barInfo_[i];
    QScrollBar* sb = bars_[i];
    const QSignalBlocker block(sb);
    // The system's bar reaches Max - Page + 1 at most; Qt's maximum is that position.
    const int page = std::max(kept.Page, 0);
    const int highest = kept.Max - std::max(page - 1, 0);
    const bool scrollable = highest > kept.Min;
    sb->setEnabled(scrollable);
    sb->setRange(kept.Min, std::max(highest, kept.Min));
    // Qt repaints the bar on every step set, also an unchanged one.
    if (sb->pageStep() != std::max(page, 1)) {
        sb->setPageStep(std::max(page, 1));
    }
    if (sb->singleStep() != 1) {
        sb->setSingleStep(1);
    }
    ShowControlPosition(bar);
}

void TerminalWidget::InvalidateRect(const PixelRect* rect, bool) {
    const QRect all(QPoint(0, 0), viewport_->size());
    const QRect r = rect != nullptr ? ToQRect(*rect) & all : all;
    if (r.isEmpty()) {
        return;
    }
    dirty_ += r;
    Repaint(r);
}

void TerminalWidget::ScrollWindow(int dx, int dy) {
    const QRect all(QPoint(0, 0), viewport_->size());
    if (backing_.isNull() || (dx == 0 && dy == 0)) {
        return;
    }
    const qreal ratio = backing_.devicePixelRatio();
    backing_.scroll(qRound(dx * ratio), qRound(dy * ratio), backing_.rect());
    // Pending repaints move with the pixels; the uncovered band is repainted.
    dirty_.translate(dx, dy);
    dirty_ += QRegion(all) - QRegion(all.translated(dx, dy));
    dirty_ &= all;
    Repaint(all);
}

terminal::Canvas* TerminalWidget::BeginDraw() {
    EnsureBacking();
    if (backing_.isNull() || drawPainter_.isActive()) {
        return nullptr;
    }
    drawPainter_.begin(&backing_);
    const QSize size = viewport_->size();
    drawCanvas_.emplace(drawPainter_, font_, PixelRect{0, 0, size.width(), size.height()});
    return &*drawCanvas_;
}

void TerminalWidget::EndDraw() {
    if (!drawCanvas_) {
        return;
    }
    const QRect touched = drawCanvas_->Touched();
    drawCanvas_.reset();
    drawPainter_.end();
    if (!touched.isEmpty()) {
        Repaint(touched);
    }
}

void TerminalWidget::Repaint(const QRegion& region) {
    pendingRepaint_ += region;
    ScheduleFrame();
}

void TerminalWidget::ScheduleFrame() {
    if (frameTimer_.isActive()) {
        return;
    }
    const qint64 since = lastFrame_.isValid() ? lastFrame_.elapsed() : kFrameMs;
    if (since >= kFrameMs) {
        ShowFrame();
    } else {
        frameTimer_.start(static_cast<int>(kFrameMs - since));
    }
}

void TerminalWidget::ShowFrame() {
    lastFrame_.start();
    for (const ScrollBarKind bar : {ScrollBarKind::Horizontal, ScrollBarKind::Vertical}) {
        if (barStale_[static_cast<int>(bar)]) {
            ApplyBar(bar);
        }
    }
    if (!pendingRepaint_.isEmpty()) {
        viewport_->update(pendingRepaint_);
        pendingRepaint_ = QRegion();
    }
}

QRect TerminalWidget::CaretRect() const {
    return QRect(caret_.X, caret_.Y, caret_.Width, caret_.Height);
}

void TerminalWidget::SetCaret(const terminal::CaretState& caret) {
    if (caret == caret_) {
        return;
    }
    const QRect old = CaretRect();
    caret_ = caret;
    // A moved caret shows at once and blinks from there.
    caretOn_ = true;
    if (caret_.Visible && caretBlink_.interval() > 0) {
        caretBlink_.start();
    } else {
        caretBlink_.stop();
    }
    if (!painting_) {
        Repaint(QRegion(old) + CaretRect());
    }
}

bool TerminalWidget::HasFocus() const {
    return viewport_->hasFocus();
}

void TerminalWidget::SetFocus() {
    viewport_->setFocus(Qt::MouseFocusReason);
}

terminal::ClientPoint TerminalWidget::CursorPos() const {
    const QPoint p = viewport_->mapFromGlobal(QCursor::pos());
    return terminal::ClientPoint{p.x(), p.y()};
}

void TerminalWidget::SetBorder(bool single) {
    setFrameStyle(single ? (QFrame::StyledPanel | QFrame::Sunken) : QFrame::NoFrame);
    Layout(true);
}

// Events ------------------------------------------------------------------------------------

void TerminalWidget::PaintClient(QPaintEvent* event) {
    EnsureBacking();
    if (backing_.isNull()) {
        return;
    }
    const terminal::CaretState caretBefore = caret_;
    if (!dirty_.isEmpty()) {
        const QRegion todo = dirty_;
        dirty_ = QRegion();
        painting_ = true;
        {
            QPainter painter(&backing_);
            for (const QRect& rect : todo) {
                QPainterCanvas canvas(painter, font_, ToPixelRect(rect));
                Forward([&] { terminal_.Paint(canvas); });
            }
        }
        painting_ = false;
    }
    QPainter painter(viewport_);
    painter.setClipRegion(event->region());
    // In bands of a few dozen pixel rows: Qt hands a taller copy to its painting threads
    // and waits for them, and while the port's threads keep the processors busy that
    // wait holds the GUI thread far longer than the copy itself would.
    const qreal ratio = backing_.devicePixelRatio();
    for (const QRect& rect : event->region()) {
        for (int top = rect.top(); top <= rect.bottom(); top += kCopyBandRows) {
            const QRect band(rect.left(), top, rect.width(), std::min(kCopyBandRows, rect.bottom() + 1 - top));
            painter.drawPixmap(band, backing_,
                               QRectF(band.x() * ratio, band.y() * ratio, band.width() * ratio, band.height() * ratio));
        }
    }
    if (caret_.Visible && caretOn_ && viewport_->hasFocus()) {
        // The caret inverts what lies under it, as the system caret does.
        painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        painter.fillRect(CaretRect(), Qt::white);
    }
    if (caret_ != caretBefore) {
        viewport_->update(CaretRect());
    }
}

void TerminalWidget::KeyPressed(QKeyEvent* event) {
    event->accept();
    const TranslatedKey key = TranslateKey(*event);
    if (event->modifiers() & Qt::KeypadModifier) {
        // The keypad reports navigation keys only while NumLock is off.
        if (IsKeypadNavigation(event->key())) {
            numLockOn_ = false;
        } else if (event->key() >= Qt::Key_0 && event->key() <= Qt::Key_9) {
            numLockOn_ = true;
        }
    }
    Forward([&] {
        if (key.Key != 0) {
            if (terminal_.PreviewKeyDown(key.Key, key.KeyData, key.Shift)) {
                return;
            }
            uint16_t vk = key.Key;
            terminal_.KeyDown(vk, key.Shift);
        }
        if (key.Char) {
            uint8_t ch = *key.Char;
            terminal_.KeyPress(ch);
        }
    });
}

void TerminalWidget::MousePressed(QMouseEvent* event) {
    const auto button = ButtonOf(event->button());
    if (!button) {
        return;
    }
    const QPoint p = event->position().toPoint();
    Forward([&] { terminal_.MouseDown(*button, ShiftOf(event->modifiers()), p.x(), p.y()); });
}

void TerminalWidget::MouseMoved(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    Forward([&] { terminal_.MouseMove(ShiftOf(event->modifiers()), p.x(), p.y()); });
}

void TerminalWidget::MouseReleased(QMouseEvent* event) {
    const auto button = ButtonOf(event->button());
    if (!button) {
        return;
    }
    const QPoint p = event->position().toPoint();
    Forward([&] { terminal_.MouseUp(*button, ShiftOf(event->modifiers()), p.x(), p.y()); });
}

void TerminalWidget::Wheel(QWheelEvent* event) {
    event->accept();
    // One notch (120) scrolls the system's number of lines, one line request each.
    wheelRemainder_ += event->angleDelta().y();
    const int notches = wheelRemainder_ / 120;
    wheelRemainder_ -= notches * 120;
    const int lines = std::abs(notches) * std::max(QApplication::wheelScrollLines(), 1);
    const int code = notches > 0 ? terminal::SB_LINEUP : terminal::SB_LINEDOWN;
    Forward([&] {
        for (int i = 0; i < lines; ++i) {
            terminal_.View().VScroll(code, 0);
        }
    });
    ShowFrame();
}

void TerminalWidget::FocusChanged(bool in) {
    Forward([&] { in ? terminal_.Painter().FocusIn() : terminal_.Painter().FocusOut(); });
    viewport_->update(CaretRect());
}

void TerminalWidget::ScrollAction(ScrollBarKind bar, int action) {
    QScrollBar* sb = bars_[static_cast<int>(bar)];
    const terminal::ScrollInfo& info = barInfo_[static_cast<int>(bar)];
    // The control takes no top and bottom requests: the ends are thumb positions at the
    // ends of the range, which the control cuts to the rows it can show. (Qt's maximum
    // comes from the page, and a view in the scrollback may hold a row more.)
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
        ScrollRequest(bar, terminal::SB_LINEUP, 0);
        break;
    case QAbstractSlider::SliderSingleStepAdd:
        ScrollRequest(bar, terminal::SB_LINEDOWN, 0);
        break;
    case QAbstractSlider::SliderPageStepSub:
        ScrollRequest(bar, terminal::SB_PAGEUP, 0);
        break;
    case QAbstractSlider::SliderPageStepAdd:
        ScrollRequest(bar, terminal::SB_PAGEDOWN, 0);
        break;
    case QAbstractSlider::SliderToMinimum:
        ScrollRequest(bar, terminal::SB_THUMBPOSITION, info.Min);
        break;
    case QAbstractSlider::SliderToMaximum:
        ScrollRequest(bar, terminal::SB_THUMBPOSITION, info.Max);
        break;
    case QAbstractSlider::SliderMove:
        ScrollRequest(bar, terminal::SB_THUMBTRACK, sb->sliderPosition());
        break;
    default:
        ShowControlPosition(bar);
        break;
    }
}

void TerminalWidget::ScrollRequest(ScrollBarKind bar, int code, int pos) {
    Forward([&] {
        bar == ScrollBarKind::Horizontal ? terminal_.View().HScroll(code, pos) : terminal_.View().VScroll(code, pos);
    });
    // What the operator does shows at once.
    ShowFrame();
    ShowControlPosition(bar);
}

void TerminalWidget::ShowControlPosition(ScrollBarKind bar) {
    // Where the control is, not where Qt's own step or the menu would have gone.
    QScrollBar* sb = bars_[static_cast<int>(bar)];
    const QSignalBlocker block(sb);
    sb->setValue(std::clamp(barInfo_[static_cast<int>(bar)].Pos, sb->minimum(), sb->maximum()));
}

}  // namespace hydrix::gui
