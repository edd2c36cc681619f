// A headless user interface that keeps what would have been shown, for tests that check
// which message boxes and exception reports reached the operator. Any thread may show.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/dialogs.h"

namespace hydrix::test {

class CapturingUi : public platform::HeadlessUserInterface {
public:
    void ShowMessage(const std::string& text, const std::string&, platform::MessageIcon) override {
        std::lock_guard guard(lock_);
        messages_.push_back(text);
    }
    void ShowException(const std::string& text) override {
        std::lock_guard guard(lock_);
        reports_.push_back(text);
    }
    std::vector<std::string> Messages() {
        std::lock_guard guard(lock_);
        return messages_;
    }
    std::vector<std::string> Reports() {
        std::lock_guard guard(lock_);
        return reports_;
    }

private:
    std::mutex lock_;
    std::vector<std::string> messages_;
    std::vector<std::string> reports_;
};

}  // namespace hydrix::test
