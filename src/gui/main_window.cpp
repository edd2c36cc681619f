#include "gui/main_window.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>

#include "gui/app_icon.h"
#include "gui/panel_font.h"
#include "gui/terminal_pane.h"
#include "gui/terminal_widget.h"
#include "platform/dialogs.h"

namespace hydrix::gui {

namespace {

// The form's client area: the side panel and the terminal's pane beside it.
constexpr int kPanelWidth = 117;
// Where the panel's labels start; their texts must end inside the bevel.
constexpr int kLabelLeft = 12;
constexpr int kClientWidth = kPanelWidth + kTerminalPaneWidth;
constexpr int kClientHeight = kTerminalPaneHeight;

QString Text(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

MainWindow::MainWindow(app::StationOptions options, app::RunSession* session, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      session_(session),
      station_(std::make_unique<app::Station>(this, std::move(options))) {
    setObjectName("Form1");
    setWindowTitle(Text(station_->Form().Caption));
    setWindowIcon(StationIcon());
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);

    bevel1_ = new QFrame(this);
    bevel1_->setObjectName("Bevel1");
    bevel1_->setFrameStyle(QFrame::Box | QFrame::Sunken);
    // The form's 8-point font, smaller where the clock and serial would not fit the panel.
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(8);
    setFont(ChoosePanelFont(font, kPanelWidth - bevel1_->frameWidth() - kLabelLeft));

    const app::StationForm& form = station_->Form();
    label1_ = AddLabel("Label1", "Serial Number:", kLabelLeft, 20, true);
    label6_ = AddLabel("Label6", "Date, Time:", kLabelLeft, 68, true);
    label2_ = AddLabel("Label2", "Pass", kLabelLeft, 128, true);
    label3_ = AddLabel("Label3", "Fail", 68, 128, true);
    lblPass_ = AddLabel("lblPass", form.lblPass.c_str(), 24, 148, false);
    lblFail_ = AddLabel("lblFail", form.lblFail.c_str(), 76, 148, false);
    lblSerial_ = AddLabel("lblSerial", form.lblSerial.c_str(), kLabelLeft, 40, false);
    lblDateTime_ = AddLabel("lblDateTime", form.lblDateTime.c_str(), kLabelLeft, 88, false);
    // Hidden: they hold the configuration as text.
    label4_ = AddLabel("Label4", "", 0, 0, false, false);
    label5_ = AddLabel("Label5", "", 0, 0, false, false);
    label7_ = AddLabel("Label7", "", 0, 0, false, false);
    label8_ = AddLabel("Label8", "", 0, 0, false, false);
    label9_ = AddLabel("Label9", "", 0, 0, false, false);
    label10_ = AddLabel("Label10", "", 0, 0, false, false);

    button1_ = new QPushButton(Text(form.Button1), this);
    button1_->setObjectName("Button1");
    button1_->setGeometry(16, 188, 75, 25);
    connect(button1_, &QPushButton::clicked, this, &MainWindow::Button1Clicked);

    terminal1_ = MakeTerminalPane(station_->Terminal1(), this);
    terminal1_->setObjectName("Terminal1");
    // Escape is the window's Cancel key even while the terminal, which wants every other
    // key, has the focus; only a selection being dragged there takes it first.
    terminal1_->Viewport()->installEventFilter(this);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, button1_, &QPushButton::click);

    resize(kClientWidth, kClientHeight);
    LayoutChildren();
}

MainWindow::~MainWindow() {
    // The widget refers to the station's terminal, which goes with the station.
    delete terminal1_;
    station_.reset();
}

QLabel* MainWindow::AddLabel(const char* name, const char* text, int x, int y, bool bold, bool visible) {
    auto* label = new QLabel(this);
    label->setObjectName(name);
    // The instrument's texts are shown as they are, never as markup.
    label->setTextFormat(Qt::PlainText);
    label->setText(Text(text));
    if (bold) {
        QFont f = label->font();
        f.setBold(true);
        label->setFont(f);
    }
    label->move(x, y);
    label->adjustSize();
    label->setVisible(visible);
    return label;
}

void MainWindow::FormCreate() {
    try {
        station_->FormCreate();
    } catch (const std::exception& e) {
        platform::ShowExceptionReport(e.what());
    }
}

QLabel* MainWindow::Label(app::FormItem item) const {
    using F = app::FormItem;
    switch (item) {
    case F::Label4:
        return label4_;
    case F::Label5:
        return label5_;
    case F::Label7:
        return label7_;
    case F::Label8:
        return label8_;
    case F::Label9:
        return label9_;
    case F::Label10:
        return label10_;
    case F::lblPass:
        return lblPass_;
    case F::lblFail:
        return lblFail_;
    case F::lblSerial:
        return lblSerial_;
    case F::lblDateTime:
        return lblDateTime_;
    case F::Caption:
    case F::Button1:
        break;
    }
    return nullptr;
}

void MainWindow::FormChanged(app::FormItem item) {
    const app::StationForm& form = station_->Form();
    using F = app::FormItem;
    switch (item) {
    case F::Caption:
        setWindowTitle(Text(form.Caption));
        return;
    case F::Button1:
        button1_->setText(Text(form.Button1));
        return;
    case F::Label4:
        label4_->setText(Text(form.Label4));
        break;
    case F::Label5:
        label5_->setText(Text(form.Label5));
        break;
    case F::Label7:
        label7_->setText(Text(form.Label7));
        break;
    case F::Label8:
        label8_->setText(Text(form.Label8));
        break;
    case F::Label9:
        label9_->setText(Text(form.Label9));
        break;
    case F::Label10:
        label10_->setText(Text(form.Label10));
        break;
    case F::lblPass:
        lblPass_->setText(Text(form.lblPass));
        break;
    case F::lblFail:
        lblFail_->setText(Text(form.lblFail));
        break;
    case F::lblSerial:
        lblSerial_->setText(Text(form.lblSerial));
        break;
    case F::lblDateTime:
        lblDateTime_->setText(Text(form.lblDateTime));
        break;
    }
    Label(item)->adjustSize();
}

void MainWindow::SetFocus(app::FocusTarget target) {
    if (target == app::FocusTarget::Terminal1) {
        terminal1_->SetFocus();
    } else {
        button1_->setFocus(Qt::OtherFocusReason);
    }
}

void MainWindow::CloseWindow() {
    // Closed once the handler that asked has returned: the port must not close under the
    // notification that is running it.
    if (closeQueued_) {
        return;
    }
    closeQueued_ = true;
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void MainWindow::StepFailed(const std::string&) {
    if (session_) {
        session_->NoteStepFailed();
    }
}

void MainWindow::Button1Clicked() {
    try {
        station_->Button1Click();
    } catch (const std::exception& e) {
        platform::ShowExceptionReport(e.what());
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // A close the station did not ask for is the operator's: the title bar's.
    if (session_ && !station_->Closed()) {
        session_->NoteOperatorEnd();
    }
    try {
        station_->FormDestroy();
    } catch (const std::exception& e) {
        platform::ShowExceptionReport(e.what());
    }
    event->accept();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayoutChildren();
}

void MainWindow::LayoutChildren() {
    bevel1_->setGeometry(0, 0, kPanelWidth, height());
    terminal1_->setGeometry(kPanelWidth, 0, width() - kPanelWidth, height());
}

void MainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (centred_) {
        return;
    }
    centred_ = true;
    if (const QScreen* s = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == terminal1_->Viewport() && event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) {
            // While a selection is dragged Escape is the terminal's: it ends the drag and
            // nothing else. Otherwise it is kept from the terminal, left unaccepted, and the
            // window's shortcut takes it.
            if (station_->Terminal1().Selection().Selecting()) {
                event->accept();
            }
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace hydrix::gui
