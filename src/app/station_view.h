// What the station tells whoever shows it: the Qt main window, or the headless runner
// that has no window. The station keeps the texts (Station::Form); the view is told
// which one changed and is asked to move the focus and to close the window.
#pragma once

#include <string>

namespace hydrix::app {

enum class FormItem {
    Caption,  // the window title
    Label4,
    Label5,
    Label7,
    Label8,
    Label9,
    Label10,
    lblPass,
    lblFail,
    lblSerial,
    lblDateTime,
    Button1,
};

enum class FocusTarget { Terminal1, Button1 };

class StationView {
public:
    virtual ~StationView() = default;
    virtual void FormChanged(FormItem item) = 0;
    virtual void SetFocus(FocusTarget target) = 0;
    // Close the main window: the message loop ends and the station is destroyed.
    virtual void CloseWindow() = 0;
    // The finish branch has run: the test is over and the capture saved.
    virtual void RunFinished() {}
    // An exception is leaving a step of the sequence; the rest of that step is skipped,
    // so the sequence cannot go on by itself.
    virtual void StepFailed(const std::string& /*what*/) {}
};

}  // namespace hydrix::app
