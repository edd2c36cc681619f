// Feedback to the operator: modal message boxes, the application's exception report,
// the beep and the clipboard. The GUI installs its Qt implementation; headless runs and
// tests keep the default (lines on standard error) or install a capturing one.
#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

namespace hydrix::platform {

enum class MessageIcon { Error, Information };

// Every operation may be called from any thread; an implementation that must show
// something on the GUI thread moves the call there itself.
class UserInterface {
public:
    virtual ~UserInterface() = default;
    // A modal box with the icon, the text and one OK button; returns when it is closed.
    virtual void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) = 0;
    // The application's report of an exception that escaped an event handler.
    virtual void ShowException(const std::string& text) = 0;
    virtual void Beep() = 0;
    virtual void SetClipboardText(const std::string& text) = 0;
    virtual std::string ClipboardText() = 0;
};

// No window: boxes and reports become one line each on a stream (standard error by
// default), the clipboard lives in the process, the beep is silent.
class HeadlessUserInterface : public UserInterface {
public:
    explicit HeadlessUserInterface(std::FILE* out = stderr) : out_(out) {}
    void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override;
    void ShowException(const std::string& text) override;
    void Beep() override {}
    void SetClipboardText(const std::string& text) override;
    std::string ClipboardText() override;

private:
    void WriteLine(const std::string& line);

    std::FILE* out_;
    std::mutex lock_;
    std::string clipboard_;
};

// The installed implementation. Installing nullptr returns to a headless default;
// the previous one is returned. Callers keep the shared pointer for the call, so an
// implementation replaced meanwhile stays alive until they are done.
std::shared_ptr<UserInterface> SetUserInterface(std::shared_ptr<UserInterface> ui);
std::shared_ptr<UserInterface> CurrentUserInterface();

// Shorthands for the installed implementation.
void ShowMessageBox(const std::string& text, const std::string& caption, MessageIcon icon);
void ShowExceptionReport(const std::string& text);
void MessageBeep();
void SetClipboardText(const std::string& text);
std::string ClipboardText();

}  // namespace hydrix::platform
