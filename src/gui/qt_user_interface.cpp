#include "gui/qt_user_interface.h"

#include <QApplication>
#include <QClipboard>
#include <QMessageBox>
#include <QThread>

namespace hydrix::gui {

namespace {

QString FromBytes(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

QtUserInterface::QtUserInterface(platform::MessageLoop& loop) : loop_(loop), throughLoop_(loop.IsOwnerThread()) {}

void QtUserInterface::OnGuiThread(const std::function<void()>& fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        fn();
    } else if (throughLoop_) {
        loop_.RunOnOwnerThread(fn);
    } else {
        QMetaObject::invokeMethod(app, fn, Qt::BlockingQueuedConnection);
    }
}

void QtUserInterface::ShowMessage(const std::string& text, const std::string& caption, platform::MessageIcon icon) {
    OnGuiThread([&] {
        QMessageBox box(icon == platform::MessageIcon::Error ? QMessageBox::Critical : QMessageBox::Information,
                        FromBytes(caption), FromBytes(text), QMessageBox::Ok, parent_);
        box.exec();
    });
}

void QtUserInterface::ShowException(const std::string& text) {
    OnGuiThread([&] {
        // The report ends its sentence, as the usual application exception box does.
        QString message = FromBytes(text);
        if (!message.isEmpty() && message.back() > QLatin1Char('.')) {
            message += QLatin1Char('.');
        }
        QMessageBox box(QMessageBox::Critical, QApplication::applicationDisplayName(), message, QMessageBox::Ok,
                        parent_);
        box.exec();
    });
}

void QtUserInterface::Beep() {
    OnGuiThread([] { QApplication::beep(); });
}

void QtUserInterface::SetClipboardText(const std::string& text) {
    // Terminal text is bytes: Latin-1 carries every byte value through unchanged.
    OnGuiThread([&] {
        QGuiApplication::clipboard()->setText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
    });
}

std::string QtUserInterface::ClipboardText() {
    std::string result;
    OnGuiThread([&] { result = QGuiApplication::clipboard()->text().toLatin1().toStdString(); });
    return result;
}

}  // namespace hydrix::gui
