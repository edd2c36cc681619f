#include "gui/port_select_dialog.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QThread>

#include "platform/message_loop.h"

namespace hydrix::gui {

PortSelectDialog::PortSelectDialog(comm::ComSelectModel& model, QWidget* parent) : QDialog(parent), model_(model) {
    setWindowTitle(QString::fromLatin1(comm::ComSelectModel::kCaption));
    // A dialog frame with only the close box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(220, 131);

    auto* bevel = new QFrame(this);
    bevel->setFrameShape(QFrame::Box);
    bevel->setFrameShadow(QFrame::Sunken);
    bevel->setGeometry(8, 8, 201, 42);

    label1_ = new QLabel(QString::fromLatin1(comm::ComSelectModel::kLabel1), this);
    label1_->move(18, 14);
    label2_ = new QLabel(QString::fromLatin1(comm::ComSelectModel::kLabel2), this);
    label2_->move(18, 30);

    portsComboBox_ = new QComboBox(this);
    portsComboBox_->setEditable(false);
    portsComboBox_->setGeometry(8, 64, 201, portsComboBox_->sizeHint().height());

    okBtn_ = new QPushButton(tr("OK"), this);
    okBtn_->setGeometry(8, 95, 85, 27);
    okBtn_->setDefault(true);
    abortBtn_ = new QPushButton(tr("Cancel"), this);
    abortBtn_->setGeometry(124, 95, 85, 27);
    connect(okBtn_, &QPushButton::clicked, this, &QDialog::accept);
    connect(abortBtn_, &QPushButton::clicked, this, &QDialog::reject);

    model_.FormCreate();
    for (const std::string& entry : model_.Entries()) {
        portsComboBox_->addItem(QString::fromStdString(entry));
    }
    portsComboBox_->setCurrentIndex(model_.ItemIndex());
    connect(portsComboBox_, &QComboBox::currentIndexChanged, this, [this](int index) { model_.SetItemIndex(index); });
}

void PortSelectDialog::done(int result) {
    // Every way out that is not OK (Cancel, Esc, the close box) is a Cancel.
    if (result == QDialog::Accepted) {
        model_.Ok();
    } else {
        model_.Cancel();
    }
    QDialog::done(result);
}

DialogPortChooser::DialogPortChooser(QWidget* parent, comm::ComSelectModel::AvailabilityTest available)
    : parent_(parent), available_(std::move(available)) {}

std::optional<int> DialogPortChooser::Choose() {
    std::optional<int> choice;
    auto ask = [&] {
        comm::ComSelectModel model(available_);
        {
            PortSelectDialog dialog(model, parent_);
            dialog.exec();
        }
        choice = model.Choice();
    };
    QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() != app->thread()) {
        platform::MessageLoop::Instance().RunOnOwnerThread(ask);
    } else {
        ask();
    }
    return choice;
}

}  // namespace hydrix::gui
