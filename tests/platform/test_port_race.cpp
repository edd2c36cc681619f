// Two stations started at the same moment on one free port, each in a process of its
// own (claim_port), released together through pipes, round after round: exactly one
// gets the port every round and the other names it. With lock files, and without any
// (no lock folder writable), where the device's own flock decides.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "pty_helper.h"

extern char** environ;

namespace hydrix::platform {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRounds = 20;
constexpr auto kDeadline = std::chrono::seconds(10);

class Contender {
public:
    Contender(const std::string& device, const std::vector<std::string>& folders) {
        int in[2];
        int out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
            throw std::system_error(errno, std::generic_category(), "pipe2");
        }
        std::vector<std::string> args{HYDRIX_CLAIM_PORT, device};
        args.insert(args.end(), folders.begin(), folders.end());
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        const int rc = ::posix_spawn(&pid_, HYDRIX_CLAIM_PORT, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        go_ = in[1];
        result_ = out[0];
        if (rc != 0) {
            throw std::system_error(rc, std::generic_category(), "posix_spawn claim_port");
        }
    }
    ~Contender() {
        // Closing its input lets it go; its output closes when it has ended.
        ::close(go_);
        ReadUntil(Clock::now() + kDeadline, false);
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
        ::close(result_);
    }
    Contender(const Contender&) = delete;
    Contender& operator=(const Contender&) = delete;

    pid_t Pid() const { return pid_; }
    void Go() { ASSERT_EQ(::write(go_, "g", 1), 1); }
    // "<code> <holder>" as the contender printed it; empty when nothing came in time.
    std::string Result() {
        ReadUntil(Clock::now() + kDeadline, true);
        const size_t end = text_.find('\n');
        return end == std::string::npos ? std::string() : text_.substr(0, end);
    }

private:
    // Reads until a whole line came (or, with line false, until the end of the output).
    void ReadUntil(Clock::time_point deadline, bool line) {
        while (!line || text_.find('\n') == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            pollfd p{result_, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) {
                return;
            }
            char buffer[512];
            const ssize_t n = ::read(result_, buffer, sizeof buffer);
            if (n <= 0) {
                return;
            }
            text_.append(buffer, static_cast<size_t>(n));
        }
    }

    pid_t pid_ = -1;
    int go_ = -1;
    int result_ = -1;
    std::string text_;
};

class PortRaceTest : public ::testing::Test {
protected:
    PortRaceTest() {
        std::string pattern = (fs::temp_directory_path() / "hydrix-race-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            throw std::system_error(errno, std::generic_category(), "mkdtemp");
        }
        folder_ = pattern;
    }
    ~PortRaceTest() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    // Runs the rounds; each round both contenders are released together.
    void Race(const std::vector<std::string>& folders) {
        for (int round = 0; round < kRounds; ++round) {
            SCOPED_TRACE("round " + std::to_string(round));
            Contender a(pty_.SlavePath(), folders);
            Contender b(pty_.SlavePath(), folders);
            a.Go();
            b.Go();
            const std::string ra = a.Result();
            const std::string rb = b.Result();
            const bool aWon = ra.rfind("0 ", 0) == 0;
            const bool bWon = rb.rfind("0 ", 0) == 0;
            ASSERT_NE(aWon, bWon) << "a: " << ra << ", b: " << rb;
            const pid_t winner = aWon ? a.Pid() : b.Pid();
            const std::string& lost = aWon ? rb : ra;
            EXPECT_EQ(lost.rfind("-5 PID " + std::to_string(winner) + " (claim_port)", 0), 0u) << lost;
        }
    }

    test::PtyPair pty_;
    fs::path folder_;
};

TEST_F(PortRaceTest, WithLockFilesExactlyOneWinsAndTheOtherNamesIt) {
    Race({folder_.string()});
    EXPECT_TRUE(fs::is_empty(folder_)) << "every winner removed its lock";
}

TEST_F(PortRaceTest, WithoutLockFilesTheDeviceDecides) {
    Race({});
}

}  // namespace
}  // namespace hydrix::platform
