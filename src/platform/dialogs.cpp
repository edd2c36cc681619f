#include "platform/dialogs.h"

#include <utility>

namespace hydrix::platform {

void HeadlessUserInterface::WriteLine(const std::string& line) {
    // One line per report: a line break inside the text (a CR would even overwrite the
    // line on a terminal) becomes a blank.
    std::string flat;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\r' && i + 1 < line.size() && line[i + 1] == '\n') {
            continue;
        }
        flat += (c == '\r' || c == '\n') ? ' ' : c;
    }
    std::lock_guard<std::mutex> guard(lock_);
    std::fputs(flat.c_str(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
}

void HeadlessUserInterface::ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) {
    const char* kind = icon == MessageIcon::Error ? "Error" : "Information";
    WriteLine(std::string(kind) + (caption.empty() ? "" : " (" + caption + ")") + ": " + text);
}

void HeadlessUserInterface::ShowException(const std::string& text) {
    WriteLine("Exception: " + text);
}

void HeadlessUserInterface::SetClipboardText(const std::string& text) {
    std::lock_guard<std::mutex> guard(lock_);
    clipboard_ = text;
}

std::string HeadlessUserInterface::ClipboardText() {
    std::lock_guard<std::mutex> guard(lock_);
    return clipboard_;
}

namespace {

struct Installed {
    std::mutex lock;
    std::shared_ptr<UserInterface> ui = std::make_shared<HeadlessUserInterface>();
};

// Never destroyed: worker threads may still report while static objects go away.
Installed& TheInstalled() {
    static Installed* installed = new Installed;
    return *installed;
}

}  // namespace

std::shared_ptr<UserInterface> SetUserInterface(std::shared_ptr<UserInterface> ui) {
    if (!ui) {
        ui = std::make_shared<HeadlessUserInterface>();
    }
    Installed& installed = TheInstalled();
    std::lock_guard<std::mutex> guard(installed.lock);
    return std::exchange(installed.ui, std::move(ui));
}

std::shared_ptr<UserInterface> CurrentUserInterface() {
    Installed& installed = TheInstalled();
    std::lock_guard<std::mutex> guard(installed.lock);
    return installed.ui;
}

void ShowMessageBox(const std::string& text, const std::string& caption, MessageIcon icon) {
    CurrentUserInterface()->ShowMessage(text, caption, icon);
}

void ShowExceptionReport(const std::string& text) {
    CurrentUserInterface()->ShowException(text);
}

void MessageBeep() {
    CurrentUserInterface()->Beep();
}

void SetClipboardText(const std::string& text) {
    CurrentUserInterface()->SetClipboardText(text);
}

std::string ClipboardText() {
    return CurrentUserInterface()->ClipboardText();
}

}  // namespace hydrix::platform
