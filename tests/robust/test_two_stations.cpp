// Two built stations started at the same moment on one free port, round after round:
// exactly one runs the test (its wake-up reaches the instrument) and the other refuses
// with the port error, naming the winner by PID and program.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <string>

#include "app/report.h"
#include "app/station_test_util.h"
#include "station_process.h"

namespace hydrix::app::test {
namespace {

constexpr int kRounds = 20;
constexpr int kDeadlineMs = 10000;

class TwoStations : public StationFixture {};

TEST_F(TwoStations, StartedTogetherExactlyOneRunsAndTheOtherNamesIt) {
    WriteSettings({});
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        pty_.ReadMaster(1 << 16, 0);  // what the last round's station sent on closing
        int gate[2];
        ASSERT_EQ(::pipe2(gate, O_CLOEXEC), 0);
        robust::StationProcess a(prefix_.Path(), prefix_.Path(), "a", gate[0]);
        robust::StationProcess b(prefix_.Path(), prefix_.Path(), "b", gate[0]);
        ASSERT_EQ(::write(gate[1], "go", 2), 2);  // both let go at once
        ::close(gate[0]);
        ::close(gate[1]);
        pollfd ends[2] = {{a.PidFd(), POLLIN, 0}, {b.PidFd(), POLLIN, 0}};
        ASSERT_GT(::poll(ends, 2, kDeadlineMs), 0) << "neither station ended";
        robust::StationProcess& loser = ends[0].revents != 0 ? a : b;
        robust::StationProcess& winner = ends[0].revents != 0 ? b : a;
        ASSERT_TRUE(loser.Reap());
        ASSERT_EQ(loser.ExitStatus(), kExitPort) << loser.Stderr();
        EXPECT_NE(loser.FirstMessage().find("held by PID " + std::to_string(winner.Pid()) + " (hydrix)"),
                  std::string::npos)
            << loser.FirstMessage();
        // The winner runs: its wake-up reaches the instrument. Then it is cancelled.
        ASSERT_EQ(pty_.ReadMaster(6, kDeadlineMs), "=====\r") << winner.Stderr();
        winner.Signal(SIGTERM);
        ASSERT_TRUE(winner.WaitExit(kDeadlineMs));
        EXPECT_EQ(winner.ExitStatus(), kExitCancelled) << winner.Stderr();
    }
}

}  // namespace
}  // namespace hydrix::app::test
