// Measuring helpers for the fault and load tests: process CPU time, resident size and
// open descriptors of this process (the station runs in it), and the instrument
// simulator as a child process on its own pseudo-terminal, linked as a COM port.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace hydrix::robust {

// User plus system CPU seconds of the whole process so far.
inline double ProcessCpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    auto sec = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return sec(u.ru_utime) + sec(u.ru_stime);
}

// VmRSS of the process in kB, 0 when unknown.
inline long ResidentKb(pid_t pid = 0) {
    std::ifstream in(pid == 0 ? std::string("/proc/self/status") : "/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
}

inline int OpenDescriptors() {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
        ++n;
    }
    return n;
}

// adcp-sim with --link-com into $WINEPREFIX (set by the caller's TempWinePrefix).
class SimProcess {
public:
    SimProcess(const std::filesystem::path& prefix, int com, std::vector<std::string> args) {
        args.insert(args.begin(), {HYDRIX_ADCP_SIM, "--link-com", std::to_string(com)});
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ < 0) {
            throw std::runtime_error("fork failed");
        }
        if (pid_ == 0) {
            // Its pty path line would only clutter the test's output.
            const int null = ::open("/dev/null", O_WRONLY);
            if (null >= 0) {
                ::dup2(null, STDOUT_FILENO);
            }
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        const auto link = prefix / "dosdevices" / ("com" + std::to_string(com));
        for (int i = 0; i < 200 && !std::filesystem::is_symlink(link); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        if (!std::filesystem::is_symlink(link)) {
            throw std::runtime_error("the simulator did not come up");
        }
    }
    ~SimProcess() { Stop(); }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Waits up to waitMs for the simulator to end by itself (it does after the hang-up),
    // then terminates it.
    void Stop(int waitMs = 2000) {
        if (pid_ <= 0) {
            return;
        }
        for (int i = 0; i < waitMs / 20; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ::kill(pid_, SIGTERM);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

// Writes data to a non-blocking descriptor (a pty master) while the GUI thread keeps
// pumping: the station takes bytes only as fast as its GUI thread drains them.
template <typename Pump>
bool WriteWhilePumping(int fd, const std::string& data, Pump pump, int timeoutMs = 20000) {
    size_t done = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else if (std::chrono::steady_clock::now() > deadline) {
            return false;
        } else {
            pump();
        }
    }
    return true;
}

}  // namespace hydrix::robust
