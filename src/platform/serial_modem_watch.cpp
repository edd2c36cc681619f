#include "platform/serial_modem_watch.h"

#include <pthread.h>

#include <cerrno>
#include <chrono>
#include <csignal>

namespace hydrix::platform {

namespace {

// How often Stop repeats the signal, in case one came before the thread was in the wait.
constexpr auto kStopPoke = std::chrono::milliseconds(5);

int WakeSignal() {
    return SIGRTMIN + 5;
}

void IgnoreWake(int) {}

// The handler belongs to the process: it is installed once, and only where nothing else
// has claimed the signal. Without SA_RESTART the driver's wait returns EINTR on it.
bool WakeSignalReady() {
    static const bool ready = [] {
        struct sigaction old {};
        if (::sigaction(WakeSignal(), nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) != 0 ||
            old.sa_handler != SIG_DFL) {
            return false;
        }
        struct sigaction action {};
        action.sa_handler = IgnoreWake;
        sigemptyset(&action.sa_mask);
        return ::sigaction(WakeSignal(), &action, nullptr) == 0;
    }();
    return ready;
}

}  // namespace

void ModemWatch::Start(DriverWait wait, std::function<void()> onChange, std::function<void()> onGone) {
    Stop();
    if (!WakeSignalReady()) {
        return;
    }
    wait_ = std::move(wait);
    onChange_ = std::move(onChange);
    onGone_ = std::move(onGone);
    stop_ = false;
    ended_ = false;
    active_ = true;
    thread_ = std::thread([this] { Run(); });
}

void ModemWatch::Run() {
    // The thread that opened the port may block signals; this one must take its wake-up.
    sigset_t wake;
    sigemptyset(&wake);
    sigaddset(&wake, WakeSignal());
    pthread_sigmask(SIG_UNBLOCK, &wake, nullptr);
    while (!stop_) {
        const int r = wait_();
        if (stop_) {
            break;
        }
        if (r == 0) {
            onChange_();
            continue;
        }
        if (errno == EINTR) {
            continue;
        }
        // A USB adapter pulled out ends the wait with EIO; ENOTTY or EINVAL: no such wait.
        if (errno == EIO) {
            onGone_();
        }
        break;
    }
    active_ = false;
    std::lock_guard lock(endMutex_);
    ended_ = true;
    endChanged_.notify_all();
}

void ModemWatch::Kick() {
    pthread_kill(thread_.native_handle(), WakeSignal());
}

void ModemWatch::Rearm() {
    if (active_) {
        Kick();
    }
}

void ModemWatch::Stop() {
    if (!thread_.joinable()) {
        return;
    }
    stop_ = true;
    std::unique_lock lock(endMutex_);
    while (!ended_) {
        Kick();
        endChanged_.wait_for(lock, kStopPoke);
    }
    lock.unlock();
    thread_.join();
}

}  // namespace hydrix::platform
