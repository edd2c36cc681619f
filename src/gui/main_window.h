// The station's window: the side panel with the serial number, clock and PASS/FAIL
// counts, the Cancel/Close button, and the terminal showing what the instrument sends.
// All behaviour is the station's; the window shows its texts and forwards the operator.
#pragma once

#include <QWidget>

#include <memory>

#include "app/run_session.h"
#include "app/station.h"
#include "app/station_view.h"

class QFrame;
class QLabel;
class QPushButton;

namespace hydrix::gui {

class TerminalWidget;

class MainWindow : public QWidget, public app::StationView {
    Q_OBJECT

public:
    // session, when given, learns what the window saw of the run.
    explicit MainWindow(app::StationOptions options = {}, app::RunSession* session = nullptr,
                        QWidget* parent = nullptr);
    ~MainWindow() override;

    // The station's start-up; an exception it raises goes to the application's report
    // and the window opens all the same.
    void FormCreate();

    app::Station& Station() { return *station_; }

    QLabel* Label(app::FormItem item) const;
    QPushButton* Button1() const { return button1_; }
    TerminalWidget* Terminal1() const { return terminal1_; }
    QFrame* Bevel1() const { return bevel1_; }

    // StationView.
    void FormChanged(app::FormItem item) override;
    void SetFocus(app::FocusTarget target) override;
    void CloseWindow() override;
    void StepFailed(const std::string& what) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* AddLabel(const char* name, const char* text, int x, int y, bool bold, bool visible = true);
    void Button1Clicked();
    // The side panel down the left edge, the terminal filling the rest.
    void LayoutChildren();

    app::RunSession* session_;
    std::unique_ptr<app::Station> station_;
    QFrame* bevel1_;
    QLabel* label1_;
    QLabel* label6_;
    QLabel* label2_;
    QLabel* label3_;
    QLabel* lblPass_;
    QLabel* lblFail_;
    QLabel* lblSerial_;
    QLabel* lblDateTime_;
    QLabel* label4_;
    QLabel* label5_;
    QLabel* label7_;
    QLabel* label8_;
    QLabel* label9_;
    QLabel* label10_;
    QPushButton* button1_;
    TerminalWidget* terminal1_;
    bool centred_ = false;
    bool closeQueued_ = false;
};

}  // namespace hydrix::gui
