// Keeps every message box and exception report text shown during a run, in order, for
// the run's report, and passes each on to the user interface that shows it.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dialogs.h"

namespace hydrix::app {

class MessageRecorder : public platform::UserInterface {
public:
    explicit MessageRecorder(std::shared_ptr<platform::UserInterface> inner);

    void ShowMessage(const std::string& text, const std::string& caption, platform::MessageIcon icon) override;
    void ShowException(const std::string& text) override;
    void Beep() override { inner_->Beep(); }
    void SetClipboardText(const std::string& text) override { inner_->SetClipboardText(text); }
    std::string ClipboardText() override { return inner_->ClipboardText(); }

    std::vector<std::string> Messages() const;

private:
    void Record(const std::string& text);

    std::shared_ptr<platform::UserInterface> inner_;
    mutable std::mutex lock_;
    std::vector<std::string> messages_;
};

}  // namespace hydrix::app
