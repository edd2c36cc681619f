// Test utilities for serial code on real pseudo-terminals: a raw pty pair whose slave
// path stands in for a serial port and whose master is the far end of the line, and a
// temporary Wine prefix whose dosdevices/comN links point at such a slave.
//
//   PtyPair pty;                        // raw, master non-blocking
//   TempWinePrefix prefix;              // sets WINEPREFIX until destroyed
//   prefix.LinkCom(7, pty.SlavePath()); // "COM7" now opens the pty
//   pty.WriteMaster("abc");             // bytes arrive at the port
//   pty.ReadMaster(3, 2000);            // bytes the port sent, waiting at most 2 s
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace hydrix::test {

class PtyPair {
public:
    PtyPair() {
        char name[256] = {};
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
            throw std::system_error(errno, std::generic_category(), "openpty");
        }
        slavePath_ = name;
        termios t{};
        ::tcgetattr(slave_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(slave_, TCSANOW, &t);
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~PtyPair() {
        CloseSlave();
        CloseMaster();
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& SlavePath() const { return slavePath_; }
    int MasterFd() const { return master_; }
    // The slave descriptor openpty made (-1 after CloseSlave).
    int SlaveFd() const { return slave_; }

    // The slave descriptor openpty made; kept open until here so that the master never
    // sees the line hang up while the port under test is not yet open.
    void CloseSlave() {
        if (slave_ >= 0) {
            ::close(slave_);
        }
        slave_ = -1;
    }
    // Suspends or resumes output from the slave side (tcflow on the kept slave descriptor):
    // a port under test then finds the driver full, as with a peer holding CTS low.
    void StopOutput(bool stop) { ::tcflow(slave_, stop ? TCOOFF : TCOON); }
    // Hangs up the line as seen from the slave side.
    void CloseMaster() {
        if (master_ >= 0) {
            ::close(master_);
        }
        master_ = -1;
    }

    // Writes all of data to the master, waiting for room at most timeoutMs; true when done.
    bool WriteMaster(const std::string& data, int timeoutMs = 2000) {
        size_t done = 0;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (done < data.size()) {
            const ssize_t n = ::write(master_, data.data() + done, data.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return false;
            } else if (!PollFor(POLLOUT, deadline)) {
                return false;
            }
        }
        return true;
    }

    // Reads from the master until count bytes came or timeoutMs passed; returns what came.
    std::string ReadMaster(size_t count, int timeoutMs = 2000) {
        std::string out;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        char buffer[4096];
        while (out.size() < count) {
            const size_t want = std::min(sizeof buffer, count - out.size());
            const ssize_t n = ::read(master_, buffer, want);
            if (n > 0) {
                out.append(buffer, static_cast<size_t>(n));
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                break;
            } else if (!PollFor(POLLIN, deadline)) {
                break;
            }
        }
        return out;
    }

private:
    using Clock = std::chrono::steady_clock;

    bool PollFor(short events, Clock::time_point deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return false;
        }
        pollfd p{master_, events, 0};
        return ::poll(&p, 1, static_cast<int>(left)) >= 0;
    }

    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

// A Wine prefix in a fresh temporary directory, set as WINEPREFIX for its lifetime (the
// previous value is restored and the directory removed afterwards).
class TempWinePrefix {
public:
    TempWinePrefix() {
        std::string pattern = (std::filesystem::temp_directory_path() / "hydrix-wine-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            throw std::system_error(errno, std::generic_category(), "mkdtemp");
        }
        path_ = pattern;
        std::filesystem::create_directories(path_ / "dosdevices");
        if (const char* old = std::getenv("WINEPREFIX")) {
            hadOld_ = true;
            old_ = old;
        }
        ::setenv("WINEPREFIX", path_.c_str(), 1);
    }
    ~TempWinePrefix() {
        if (hadOld_) {
            ::setenv("WINEPREFIX", old_.c_str(), 1);
        } else {
            ::unsetenv("WINEPREFIX");
        }
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempWinePrefix(const TempWinePrefix&) = delete;
    TempWinePrefix& operator=(const TempWinePrefix&) = delete;

    const std::filesystem::path& Path() const { return path_; }

    // dosdevices/com<n> -> target, as Wine's configuration makes it; an earlier link of
    // that number is replaced (the adapter plugged in again).
    void LinkCom(int n, const std::string& target) {
        const std::filesystem::path link = path_ / "dosdevices" / ("com" + std::to_string(n));
        std::filesystem::remove(link);
        std::filesystem::create_symlink(target, link);
    }

private:
    std::filesystem::path path_;
    bool hadOld_ = false;
    std::string old_;
};

}  // namespace hydrix::test
