// The same run gives the same capture: the whole sequence against the simulator, run
// again and again, plainly, with one-byte writes and with delayed replies; every capture
// equals the simulator's record from the first byte after the prompt that started it up
// to the prompt that finished, byte for byte, however the threads were scheduled.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/headless_runner.h"
#include "app/station_test_util.h"
#include "robust/capture_record.h"
#include "robust/robust_util.h"

namespace hydrix::app::test {
namespace {

constexpr int kSimCom = 6;
constexpr int kRunsPerKind = 12;

class CaptureRepeat : public StationFixture {
protected:
    // One whole run; true when it finished and its capture equals the record.
    ::testing::AssertionResult RunOnce(const std::vector<std::string>& extra, int run) {
        WriteSettings(RegSettings::Port("COM" + std::to_string(kSimCom)));
        const auto record = prefix_.Path() / ("record" + std::to_string(run));
        std::vector<std::string> args{"--record", record.string(), "--pc2-records", "3", "--pc2-interval-ms", "1"};
        args.insert(args.end(), extra.begin(), extra.end());
        // The simulator's link of the run before must not pass for the new one's.
        std::filesystem::remove(prefix_.Path() / "dosdevices" / ("com" + std::to_string(kSimCom)));
        robust::SimProcess sim(prefix_.Path(), kSimCom, args);
        HeadlessRunner runner(RunOptions{prefix_.Path(), ""});
        const int status = runner.Run();
        sim.Stop();
        const RunReport& report = runner.Report();
        if (status != kExitFinished || !report.captureFile) {
            return ::testing::AssertionFailure() << "run " << run << " ended with status " << status;
        }
        const std::filesystem::path capture = *report.captureFile;
        const bool same = robust::CaptureMatchesRecord(record, capture);
        const std::string head = ReadFile(capture).substr(0, 8);
        std::filesystem::remove(capture);
        if (!same) {
            return ::testing::AssertionFailure() << "run " << run << ": capture begins \"" << head << "\"";
        }
        return ::testing::AssertionSuccess();
    }

    void RunMany(const std::vector<std::string>& extra) {
        for (int run = 0; run < kRunsPerKind; ++run) {
            ASSERT_TRUE(RunOnce(extra, run));
        }
    }
};

TEST_F(CaptureRepeat, PlainReplies) {
    RunMany({});
}

TEST_F(CaptureRepeat, OneByteWrites) {
    RunMany({"--byte-writes"});
}

TEST_F(CaptureRepeat, DelayedReplies) {
    RunMany({"--delay-ms", "3"});
}

}  // namespace
}  // namespace hydrix::app::test
