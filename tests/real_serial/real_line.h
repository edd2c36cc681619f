// The real-driver checks' view of a wired line: the port under test (a UART or a USB
// adapter, HYDRIX_REAL_PORT) reached by the com port as COM5 through a temporary Wine
// prefix, a raw descriptor on the far end (HYDRIX_REAL_FAR), and a second descriptor on
// the port's own tty that reads back what the driver holds (termios, modem lines, queue).
#pragma once

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "capturing_ui.h"
#include "comm/com_port.h"
#include "platform/dialogs.h"
#include "platform/message_loop.h"
#include "pty_helper.h"

namespace hydrix::test {

constexpr uint16_t kRealCom = 5;

inline std::string RealEnv(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// A raw, non-blocking descriptor on a tty; closed with the object.
class RawTty {
public:
    explicit RawTty(const std::string& path, speed_t speed = B115200) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) {
            return;
        }
        termios t{};
        ::tcgetattr(fd_, &t);
        ::cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        ::cfsetspeed(&t, speed);
        ::tcsetattr(fd_, TCSANOW, &t);
    }
    // Opened as it is, its settings untouched.
    struct AsItIs {};
    RawTty(const std::string& path, AsItIs) { fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); }
    ~RawTty() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    RawTty(const RawTty&) = delete;
    RawTty& operator=(const RawTty&) = delete;

    int Fd() const { return fd_; }
    bool Ok() const { return fd_ >= 0; }

    // Reads until count bytes came or timeoutMs passed; returns what came.
    std::string Read(size_t count, int timeoutMs = 5000) const {
        std::string out;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        char buffer[4096];
        while (out.size() < count) {
            const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, count - out.size()));
            if (n > 0) {
                out.append(buffer, static_cast<size_t>(n));
                continue;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                break;
            }
            pollfd p{fd_, POLLIN, 0};
            ::poll(&p, 1, static_cast<int>(left.count()));
        }
        return out;
    }
    bool Write(const std::string& bytes) const {
        return ::write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    termios Termios() const {
        termios t{};
        ::tcgetattr(fd_, &t);
        return t;
    }
    int ModemBits() const {
        int bits = 0;
        return ::ioctl(fd_, TIOCMGET, &bits) == 0 ? bits : -1;
    }
    int OutQueue() const {
        int count = 0;
        return ::ioctl(fd_, TIOCOUTQ, &count) == 0 ? count : -1;
    }
    int InQueue() const {
        int count = 0;
        return ::ioctl(fd_, FIONREAD, &count) == 0 ? count : -1;
    }
    // The driver's break count, or -1 where it keeps no counters.
    int Breaks() const {
        serial_icounter_struct counts{};
        return ::ioctl(fd_, TIOCGICOUNT, &counts) == 0 ? counts.brk : -1;
    }

private:
    int fd_ = -1;
};

// Polls pred until it holds, at most timeout; the message loop is served meanwhile.
template <typename Pred>
bool PumpUntil(Pred pred, std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) {
    return platform::MessageLoop::Instance().ProcessUntil(pred, static_cast<uint32_t>(timeout.count()));
}

// The test's thread is the GUI thread; COM5 names the port under test; message boxes are
// kept instead of shown.
class RealLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        port_ = RealEnv("HYDRIX_REAL_PORT");
        far_ = RealEnv("HYDRIX_REAL_FAR");
        if (port_.empty() || far_.empty()) {
            GTEST_SKIP() << "HYDRIX_REAL_PORT and HYDRIX_REAL_FAR name no wired line";
        }
        platform::MessageLoop::Instance().AttachToCurrentThread();
        prefix_.LinkCom(kRealCom, port_);
        ui_ = std::make_shared<CapturingUi>();
        previousUi_ = platform::SetUserInterface(ui_);
    }
    void TearDown() override {
        if (previousUi_) {
            platform::SetUserInterface(previousUi_);
        }
    }

    // A port on the line at 115200 8N1, open.
    void OpenPort(comm::ComPort& port) {
        port.SetComNumber(kRealCom);
        port.SetPromptForPort(false);
        port.SetBaud(115200);
        port.SetOpen(true);
        ASSERT_TRUE(port.Open());
    }

    std::string port_;
    std::string far_;
    TempWinePrefix prefix_;
    std::shared_ptr<CapturingUi> ui_;
    std::shared_ptr<platform::UserInterface> previousUi_;
};

}  // namespace hydrix::test
