#include "gui/signal_watcher.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

namespace hydrix::gui {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// One watcher per process: the handler can reach only what is global.
int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

SignalWatcher::SignalWatcher() {
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("hydrix: pipe");
        return;
    }
    thread_ = std::thread([this] { Watch(); });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kSignals) {
        ::sigaction(signal, &action, nullptr);
    }
    // Past a file-size limit a write fails (and the capture says so) instead of the
    // signal ending the run without its report.
    std::signal(SIGXFSZ, SIG_IGN);
}

SignalWatcher::~SignalWatcher() {
    if (!thread_.joinable()) {
        return;
    }
    for (const int signal : kSignals) {
        std::signal(signal, SIG_DFL);
    }
    const char stop = 0;
    ssize_t n;
    do {
        n = ::write(g_signalPipe[1], &stop, 1);
    } while (n < 0 && errno == EINTR);
    thread_.join();
    ::close(g_signalPipe[0]);
    ::close(g_signalPipe[1]);
}

void SignalWatcher::SetCancel(std::function<void()> cancel) {
    std::function<void()> now;
    {
        std::lock_guard guard(lock_);
        cancel_ = std::move(cancel);
        if (kept_ && cancel_) {
            kept_ = false;
            now = cancel_;
        }
    }
    if (now) {
        now();
    }
}

void SignalWatcher::Signalled() {
    // Called under the lock, so that the run it asks cannot go away meanwhile.
    std::lock_guard guard(lock_);
    if (!cancel_) {
        kept_ = true;
        return;
    }
    cancel_();
}

void SignalWatcher::Watch() {
    for (;;) {
        pollfd p{g_signalPipe[0], POLLIN, 0};
        if (::poll(&p, 1, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        char bytes[16];
        const ssize_t n = ::read(g_signalPipe[0], bytes, sizeof bytes);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        for (ssize_t i = 0; i < n; ++i) {
            if (bytes[i] == 0) {
                return;
            }
            Signalled();
        }
    }
}

}  // namespace hydrix::gui
