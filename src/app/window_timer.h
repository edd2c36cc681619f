// A window timer as the station's form holds them (the watchdog and the delayed close):
// a message window of its own whose WM_TIMER runs OnTimer on the GUI thread, repeating
// every Interval milliseconds while Enabled.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/message_loop.h"

namespace hydrix::app {

class WindowTimer {
public:
    explicit WindowTimer(uint32_t intervalMs = 1000);
    ~WindowTimer();
    WindowTimer(const WindowTimer&) = delete;
    WindowTimer& operator=(const WindowTimer&) = delete;

    bool Enabled() const { return enabled_; }
    // Changing the state starts the countdown afresh or stops it; the same value again
    // changes nothing.
    void SetEnabled(bool value);
    uint32_t Interval() const { return interval_; }
    // A new interval while enabled restarts the countdown from the full interval.
    void SetInterval(uint32_t value);

    std::function<void()> OnTimer;

private:
    void Update();
    platform::LResult WndProc(uint32_t msg, platform::WParam w, platform::LParam l);

    bool enabled_ = false;
    uint32_t interval_;
    platform::WindowHandle window_ = 0;
};

}  // namespace hydrix::app
