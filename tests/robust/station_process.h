// The built station, `hydrix --headless --report FILE`, as a child process against a
// given Wine prefix: started, waited for with a deadline (through a pidfd, no sleeps),
// its exit status, standard error and JSON report read afterwards. The child gets no
// descriptor of the test's (a pty master would make it the far end of the line).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

extern char** environ;

namespace hydrix::robust {

class StationProcess {
public:
    // Report and standard error go to <dir>/<name>.json and <dir>/<name>.err. With a gate
    // (the read end of a pipe) the station starts when a byte arrives there, so that two
    // can be let go at the same moment.
    StationProcess(const std::filesystem::path& prefix, const std::filesystem::path& dir, const std::string& name,
                   int gate = -1)
        : report_(dir / (name + ".json")), stderr_(dir / (name + ".err")) {
        std::vector<std::string> args{HYDRIX_EXE, "--headless", "--report", report_.string()};
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        std::vector<std::string> env{"WINEPREFIX=" + prefix.string(), "QT_QPA_PLATFORM=offscreen"};
        for (char** e = environ; *e != nullptr; ++e) {
            if (std::string(*e).rfind("WINEPREFIX=", 0) != 0) {
                env.emplace_back(*e);
            }
        }
        std::vector<char*> envp;
        for (std::string& e : env) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);

        // Forked rather than spawned, so that the child can wait at the gate before it runs
        // the station; only async-signal-safe calls between fork and exec.
        pid_ = ::fork();
        if (pid_ < 0) {
            throw std::system_error(errno, std::generic_category(), "fork");
        }
        if (pid_ == 0) {
            ::dup2(::open("/dev/null", O_RDONLY), STDIN_FILENO);
            ::dup2(::open(stderr_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
            if (gate >= 0) {
                ::dup2(gate, kGateFd);
            }
            ::close_range(gate >= 0 ? kGateFd + 1 : kGateFd, ~0U, 0);
            char go;
            if (gate >= 0 && ::read(kGateFd, &go, 1) != 1) {
                ::_exit(127);
            }
            ::close(kGateFd);
            ::execve(HYDRIX_EXE, argv.data(), envp.data());
            ::_exit(127);
        }
        pidFd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
        if (pidFd_ < 0) {
            throw std::system_error(errno, std::generic_category(), "pidfd_open");
        }
    }
    ~StationProcess() {
        if (status_ == kRunning) {
            ::kill(pid_, SIGKILL);
            while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
        ::close(pidFd_);
    }
    StationProcess(const StationProcess&) = delete;
    StationProcess& operator=(const StationProcess&) = delete;

    pid_t Pid() const { return pid_; }
    int PidFd() const { return pidFd_; }
    void Signal(int sig) const { ::kill(pid_, sig); }

    // True once it has ended, waiting at most ms.
    bool WaitExit(int ms) {
        if (status_ != kRunning) {
            return true;
        }
        pollfd p{pidFd_, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0) {
            return false;
        }
        return Reap();
    }
    // Collects the status of a process whose pidfd is readable.
    bool Reap() {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) != pid_) {
            return false;
        }
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return true;
    }
    // The exit status (128 + signal when killed); -1 while it runs.
    int ExitStatus() const { return status_; }

    nlohmann::json Report() const {
        std::ifstream in(report_);
        const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        return nlohmann::json::parse(text, nullptr, false);
    }
    // The first message of the report, "" when there is none.
    std::string FirstMessage() const {
        const nlohmann::json j = Report();
        return j.is_object() && j["messages"].is_array() && !j["messages"].empty() ? j["messages"][0].get<std::string>()
                                                                                   : std::string();
    }
    std::string Stderr() const {
        std::ifstream in(stderr_);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

private:
    static constexpr int kRunning = -1;
    static constexpr int kGateFd = 3;

    std::filesystem::path report_;
    std::filesystem::path stderr_;
    pid_t pid_ = -1;
    int pidFd_ = -1;
    int status_ = kRunning;
};

}  // namespace hydrix::robust
