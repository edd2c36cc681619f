// Claiming a real tty through the com port: nothing the far end sends while the port opens
// is echoed back or kept (a real tty opens canonical, with echo), a second opener is refused
// and told who holds the line, and a break the port holds reaches the far end where the
// line carries breaks at all.
#include <spawn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "comm/exceptions.h"
#include "platform/holder_process.h"
#include "platform/sys_call.h"
#include "real_line.h"

extern char** environ;

namespace hydrix::test {
namespace {

using namespace std::chrono_literals;

// Runs this program with --try-open PATH; returns what it printed ("code holder").
std::string TryOpenFromAnotherProcess(const std::string& path) {
    int out[2];
    if (::pipe(out) != 0) {
        return "pipe failed";
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char self[] = "/proc/self/exe";
    char flag[] = "--try-open";
    std::string target = path;
    char* argv[] = {self, flag, target.data(), nullptr};
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string text;
    char buffer[256];
    ssize_t n;
    while (rc == 0 && (n = ::read(out[0], buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(out[0]);
    int status = 0;
    if (rc == 0) {
        ::waitpid(pid, &status, 0);
    }
    return text;
}

TEST_F(RealLineTest, SecondOpenerIsRefusedAndToldWhoHoldsTheLine) {
    {
        HolderProcess other(HolderProcess::OpenPath(port_));
        comm::ComPort port;
        port.SetComNumber(kRealCom);
        port.SetPromptForPort(false);
        try {
            port.SetOpen(true);
            ADD_FAILURE() << "opened a line another program holds";
        } catch (const comm::EAlreadyOpen& e) {
            EXPECT_NE(std::string(e.what()).find("PID " + std::to_string(other.Pid())), std::string::npos) << e.what();
        }
    }
    comm::ComPort port;
    OpenPort(port);
    const std::string answer = TryOpenFromAnotherProcess(port_);
    EXPECT_EQ(answer.rfind("-5 ", 0), 0u) << answer;
    EXPECT_NE(answer.find("PID " + std::to_string(::getpid())), std::string::npos) << answer;
}

// While the port is claimed (its flock comes first), the far end sends a line and the
// driver takes it in before the claim goes on.
struct ChatterWhileClaiming {
    static inline std::string port;
    static inline int farFd = -1;
    static inline std::atomic<bool> sent{false};
    static int Hook(platform::sys::Op op) {
        if (op != platform::sys::Op::Flock || sent.exchange(true)) {
            return 0;
        }
        RawTty view(port, RawTty::AsItIs{});
        if (::write(farFd, "early\n", 6) != 6) {
            return 0;
        }
        const auto deadline = std::chrono::steady_clock::now() + 3s;
        while (view.InQueue() == 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
        return 0;
    }
};

TEST_F(RealLineTest, WhatArrivesWhileOpeningIsNeitherEchoedNorKept) {
    {
        // As the driver has it after boot: canonical, echoing.
        RawTty fresh(port_, RawTty::AsItIs{});
        termios t = fresh.Termios();
        t.c_lflag |= ICANON | ECHO;
        t.c_oflag |= OPOST | ONLCR;
        ASSERT_EQ(::tcsetattr(fresh.Fd(), TCSANOW, &t), 0);
    }
    RawTty far(far_);
    ChatterWhileClaiming::port = port_;
    ChatterWhileClaiming::farFd = far.Fd();
    ChatterWhileClaiming::sent = false;
    comm::ComPort port;
    {
        platform::sys::ScopedFaultHook hook(ChatterWhileClaiming::Hook);
        OpenPort(port);
    }
    ASSERT_TRUE(ChatterWhileClaiming::sent);
    // An echo of the early line would reach the far end before this byte.
    port.SendString("Z");
    EXPECT_EQ(far.Read(1), "Z");
    ASSERT_TRUE(far.Write("late"));
    ASSERT_TRUE(PumpUntil([&] { return port.Dispatcher()->BytesAvailable() >= 4; }));
    char buffer[16] = {};
    EXPECT_EQ(port.Dispatcher()->BytesAvailable(), 4) << "what arrived while opening was kept";
    ASSERT_EQ(port.Dispatcher()->ReadBytes(buffer, 4), 4);
    EXPECT_EQ(std::string(buffer, 4), "late");
}

TEST_F(RealLineTest, BreakHeldByThePortReachesTheFarEnd) {
    RawTty far(far_);
    const int before = far.Breaks();
    {
        RawTty probe(port_);
        ::tcsendbreak(probe.Fd(), 0);
    }
    if (before < 0 || !PumpUntil([&] { return far.Breaks() != before; }, 1000ms)) {
        GTEST_SKIP() << "this line carries no break to the far end (QEMU's socket chardevs do not)";
    }
    const int carried = far.Breaks();
    comm::ComPort port;
    OpenPort(port);
    port.TransmitBreak(5, true);
    EXPECT_TRUE(PumpUntil([&] { return far.Breaks() > carried; }));
}

}  // namespace
}  // namespace hydrix::test
