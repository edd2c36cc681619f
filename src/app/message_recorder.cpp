#include "app/message_recorder.h"

namespace hydrix::app {

MessageRecorder::MessageRecorder(std::shared_ptr<platform::UserInterface> inner)
    : inner_(inner ? std::move(inner) : std::make_shared<platform::HeadlessUserInterface>()) {}

void MessageRecorder::ShowMessage(const std::string& text, const std::string& caption, platform::MessageIcon icon) {
    Record(text);
    inner_->ShowMessage(text, caption, icon);
}

void MessageRecorder::ShowException(const std::string& text) {
    Record(text);
    inner_->ShowException(text);
}

void MessageRecorder::Record(const std::string& text) {
    std::lock_guard guard(lock_);
    messages_.push_back(text);
}

std::vector<std::string> MessageRecorder::Messages() const {
    std::lock_guard guard(lock_);
    return messages_;
}

}  // namespace hydrix::app
