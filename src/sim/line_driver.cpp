#include "sim/line_driver.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace hydrix::sim {
namespace {

constexpr int kOpenerPollMs = 20;

int PollRetry(pollfd* fds, nfds_t count, int timeoutMs) {
    for (;;) {
        const int n = ::poll(fds, count, timeoutMs);
        if (n >= 0 || errno != EINTR) {
            return n;
        }
    }
}

std::string Escaped(std::string_view bytes) {
    std::string out;
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (u < 0x20 || u >= 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", u);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

LineDriver::LineDriver(Instrument& instrument, int masterFd, const SimOptions& options)
    : instrument_(instrument), master_(masterFd), options_(options) {
    stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

LineDriver::~LineDriver() {
    if (stopFd_ >= 0) {
        ::close(stopFd_);
    }
}

void LineDriver::Stop() {
    const uint64_t one = 1;
    // Only write() here: this runs inside signal handlers.
    while (::write(stopFd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void LineDriver::Log(const char* direction, std::string_view bytes) const {
    if (options_.verbose) {
        std::fprintf(stderr, "adcp-sim %s %s\n", direction, Escaped(bytes).c_str());
    }
}

int LineDriver::Run() {
    if (stopFd_ < 0) {
        error_ = std::string("eventfd: ") + std::strerror(errno);
        return -errno;
    }
    if (!options_.recordFile.empty() && !record_.IsOpen()) {
        if (const int rc = record_.Create(options_.recordFile); rc < 0) {
            error_ = options_.recordFile + ": " + platform::ErrorTextForErrno(rc);
            return rc;
        }
    }
    const int flags = ::fcntl(master_, F_GETFL);
    if (flags < 0 || ::fcntl(master_, F_SETFL, flags | O_NONBLOCK) < 0) {
        const int err = errno;
        error_ = std::string("pty: ") + std::strerror(err);
        return -err;
    }
    for (;;) {
        Outcome outcome = WaitForOpener();
        if (outcome == Outcome::Continue) {
            Queue(instrument_.LineOpened());
            outcome = Serve();
        }
        if (outcome == Outcome::Stopped) {
            return 0;
        }
        if (outcome == Outcome::Failed) {
            return -EIO;
        }
        Log("--", "line hung up");
        instrument_.LineClosed();
        queue_.clear();
        frontWritten_ = 0;
        streaming_ = false;
        ++hangUps_;
        if (!options_.keepOpen) {
            return 0;
        }
    }
}

// Until the slave is opened the master reports a hang-up on every poll, so the wait is
// a short sleep on the stop descriptor between looks.
LineDriver::Outcome LineDriver::WaitForOpener() {
    for (;;) {
        pollfd master{master_, POLLIN, 0};
        if (PollRetry(&master, 1, 0) < 0) {
            error_ = std::string("poll: ") + std::strerror(errno);
            return Outcome::Failed;
        }
        if (!(master.revents & POLLHUP)) {
            return Outcome::Continue;
        }
        pollfd stop{stopFd_, POLLIN, 0};
        if (PollRetry(&stop, 1, kOpenerPollMs) > 0) {
            return Outcome::Stopped;
        }
    }
}

void LineDriver::Queue(std::vector<Emission> parts) {
    for (Emission& part : parts) {
        if (queue_.empty()) {
            frontDue_ = Clock::now() + std::chrono::milliseconds(part.delayMs);
            frontWritten_ = 0;
        }
        queue_.push_back(std::move(part));
    }
}

LineDriver::Outcome LineDriver::Serve() {
    for (;;) {
        if (queue_.empty() && instrument_.Streaming()) {
            if (!streaming_) {
                streaming_ = true;
                streamStart_ = Clock::now();
            }
            const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - streamStart_);
            Queue({instrument_.NextStreamPart(elapsed.count())});
        }
        if (!instrument_.Streaming() && queue_.empty()) {
            streaming_ = false;
        }

        int timeoutMs = -1;
        bool wantWrite = false;
        if (!queue_.empty()) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(frontDue_ - Clock::now()).count();
            if (wait <= 0) {
                wantWrite = true;
            } else {
                timeoutMs = static_cast<int>(wait);
            }
        }
        pollfd fds[2] = {{master_, static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0)), 0}, {stopFd_, POLLIN, 0}};
        if (PollRetry(fds, 2, timeoutMs) < 0) {
            error_ = std::string("poll: ") + std::strerror(errno);
            return Outcome::Failed;
        }
        if (fds[1].revents & POLLIN) {
            return Outcome::Stopped;
        }
        if (fds[0].revents & POLLIN) {
            if (Outcome o = ReadInput(); o != Outcome::Continue) {
                return o;
            }
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            return Outcome::HungUp;
        }
        if (wantWrite && (fds[0].revents & POLLOUT)) {
            if (Outcome o = WriteFront(); o != Outcome::Continue) {
                return o;
            }
        }
    }
}

LineDriver::Outcome LineDriver::ReadInput() {
    char buffer[4096];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n > 0) {
        const std::string_view bytes(buffer, static_cast<std::size_t>(n));
        Log("<-", bytes);
        Queue(instrument_.Receive(bytes));
        return Outcome::Continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return Outcome::Continue;
    }
    // EIO (or end of file) from a pty master: the last slave descriptor was closed.
    return Outcome::HungUp;
}

LineDriver::Outcome LineDriver::WriteFront() {
    const std::string& bytes = queue_.front().bytes;
    const std::size_t left = bytes.size() - frontWritten_;
    if (left > 0) {
        const std::size_t chunk = options_.byteWrites ? 1 : left;
        const ssize_t n = ::write(master_, bytes.data() + frontWritten_, chunk);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                return Outcome::Continue;
            }
            return Outcome::HungUp;
        }
        const std::string_view sent(bytes.data() + frontWritten_, static_cast<std::size_t>(n));
        if (record_.IsOpen() && record_.Write(sent) < 0) {
            error_ = options_.recordFile + ": write failed";
            return Outcome::Failed;
        }
        Log("->", sent);
        frontWritten_ += static_cast<std::size_t>(n);
        bytesSent_ += static_cast<uint64_t>(n);
    }
    if (frontWritten_ == bytes.size()) {
        queue_.pop_front();
        frontWritten_ = 0;
        if (!queue_.empty()) {
            frontDue_ = Clock::now() + std::chrono::milliseconds(queue_.front().delayMs);
        }
    }
    return Outcome::Continue;
}

}  // namespace hydrix::sim
