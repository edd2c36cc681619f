// A headless user interface that keeps what would have been shown, for tests that check
// which message boxes and exception reports reached the operator. Any thread may show.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dialogs.h"

namespace hydrix::test {

class CapturingUi : public platform::HeadlessUserInterface {
public:
    void ShowMessage(const std::string& text, const std::string&, platform::MessageIcon icon) override {
        {
            std::lock_guard guard(lock_);
            messages_.push_back(text);
            icons_.push_back(icon);
        }
        if (onMessage) {
            onMessage(text);
        }
    }
    void ShowException(const std::string& text) override {
        std::lock_guard guard(lock_);
        reports_.push_back(text);
    }
    std::vector<std::string> Messages() {
        std::lock_guard guard(lock_);
        return messages_;
    }
    std::vector<platform::MessageIcon> Icons() {
        std::lock_guard guard(lock_);
        return icons_;
    }
    std::vector<std::string> Reports() {
        std::lock_guard guard(lock_);
        return reports_;
    }
    void ClearMessages() {
        std::lock_guard guard(lock_);
        messages_.clear();
        icons_.clear();
    }

    // Runs on the showing thread while the box would be open; set before the run.
    std::function<void(const std::string&)> onMessage;

private:
    std::mutex lock_;
    std::vector<std::string> messages_;
    std::vector<platform::MessageIcon> icons_;
    std::vector<std::string> reports_;
};

}  // namespace hydrix::test
