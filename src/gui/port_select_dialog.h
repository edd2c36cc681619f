// The "Select Port" dialog on screen: shown when a port opens without a number, it
// lists the ports the selection model found and hands the operator's choice back to the
// port through the installed PortChooser.
#pragma once

#include <QDialog>
#include <QPointer>

#include <optional>

#include "comm/port_chooser.h"
#include "comm/port_select.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace hydrix::gui {

class PortSelectDialog : public QDialog {
    Q_OBJECT

public:
    // Fills model's list (its FormCreate) and shows it; model must outlive the dialog.
    explicit PortSelectDialog(comm::ComSelectModel& model, QWidget* parent = nullptr);

    QComboBox* PortsComboBox() const { return portsComboBox_; }
    QPushButton* OkBtn() const { return okBtn_; }
    QPushButton* AbortBtn() const { return abortBtn_; }

    void done(int result) override;

private:
    comm::ComSelectModel& model_;
    QLabel* label1_;
    QLabel* label2_;
    QComboBox* portsComboBox_;
    QPushButton* okBtn_;
    QPushButton* abortBtn_;
};

// Asks the operator with the modal dialog, on the GUI thread.
class DialogPortChooser : public comm::PortChooser {
public:
    explicit DialogPortChooser(QWidget* parent = nullptr,
                               comm::ComSelectModel::AvailabilityTest available = comm::IsPortAvailable);
    std::optional<int> Choose() override;

private:
    QPointer<QWidget> parent_;
    comm::ComSelectModel::AvailabilityTest available_;
};

}  // namespace hydrix::gui
