// The operator's feedback in the Qt program: message boxes, the exception report, the
// beep and the system clipboard. Calls from worker threads (an exception that ends a
// worker, a notification handler) are carried to the GUI thread and waited for.
#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>
#include <string>

#include "platform/dialogs.h"
#include "platform/message_loop.h"

namespace hydrix::gui {

class QtUserInterface : public platform::UserInterface {
public:
    // Create on the GUI thread. When that thread owns the message loop (the Qt loop
    // driver is installed), calls from other threads go through the loop's run-and-wait,
    // which the loop's own message-processing waits serve too; otherwise through a
    // blocking queued call into Qt's event loop.
    explicit QtUserInterface(platform::MessageLoop& loop = platform::MessageLoop::Instance());

    // The window the boxes are modal to; nullptr (the default) centres them on the screen.
    void SetParentWindow(QWidget* parent) { parent_ = parent; }

    void ShowMessage(const std::string& text, const std::string& caption, platform::MessageIcon icon) override;
    void ShowException(const std::string& text) override;
    void Beep() override;
    void SetClipboardText(const std::string& text) override;
    std::string ClipboardText() override;

private:
    void OnGuiThread(const std::function<void()>& fn);

    platform::MessageLoop& loop_;
    bool throughLoop_;
    QPointer<QWidget> parent_;
};

}  // namespace hydrix::gui
