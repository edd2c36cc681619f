#include "app/window_timer.h"

namespace hydrix::app {

namespace {
constexpr uint32_t kTimerId = 1;
}

WindowTimer::WindowTimer(uint32_t intervalMs) : interval_(intervalMs) {}

WindowTimer::~WindowTimer() {
    if (window_ != 0) {
        platform::MessageLoop::Instance().DestroyWindow(window_);
    }
}

void WindowTimer::SetEnabled(bool value) {
    if (value == enabled_) {
        return;
    }
    enabled_ = value;
    Update();
}

void WindowTimer::SetInterval(uint32_t value) {
    if (value == interval_) {
        return;
    }
    interval_ = value;
    Update();
}

void WindowTimer::Update() {
    auto& loop = platform::MessageLoop::Instance();
    if (window_ != 0) {
        loop.KillTimer(window_, kTimerId);
    }
    if (!enabled_ || interval_ == 0) {
        return;
    }
    if (window_ == 0) {
        window_ = loop.CreateWindow(
            [this](uint32_t msg, platform::WParam w, platform::LParam l) { return WndProc(msg, w, l); });
    }
    loop.SetTimer(window_, kTimerId, interval_);
}

platform::LResult WindowTimer::WndProc(uint32_t msg, platform::WParam w, platform::LParam) {
    // A WM_TIMER already queued when the timer was stopped must not fire.
    if (msg == platform::WM_TIMER && w == kTimerId && enabled_ && OnTimer) {
        OnTimer();
    }
    return 0;
}

}  // namespace hydrix::app
