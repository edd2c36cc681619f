// The simulator floods the line after PC2 as fast as the pty takes it, with the capture
// on: nothing is lost (the capture equals the simulator's record between the prompts
// that start and stop it), the resident size stays flat, and the GUI thread's longest
// pause is measured with a 10 ms window timer of its own. Flood.Soak runs only when
// HYDRIX_SOAK_SECONDS is set (CTest label "soak", scripts/soak.sh).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "app/headless_runner.h"
#include "app/station_test_util.h"
#include "robust/capture_record.h"
#include "robust/robust_util.h"

namespace hydrix::app::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSimCom = 5;
constexpr const char* kClockText = "07/12/31,23:59:58.99";

struct FloodFigures {
    uintmax_t recordBytes = 0;
    uintmax_t captureBytes = 0;
    long rssStartKb = 0;
    long rssPeakKb = 0;
    long rssEndKb = 0;
    long longestPauseMs = 0;  // the whole run, start-up and close included
    long floodPauseMs = 0;    // while the record grew
};

class Flood : public StationFixture {
protected:
    FloodFigures Run(double seconds, std::vector<std::string> extra = {}) {
        FloodFigures f;
        WriteSettings(RegSettings::Port("COM" + std::to_string(kSimCom)));
        const auto record = prefix_.Path() / "record";
        std::vector<std::string> args{"--record", record.string(), "--clock", kClockText};
        if (seconds > 0) {
            args.push_back("--flood-seconds");
            args.push_back(std::to_string(seconds));
        }
        args.insert(args.end(), extra.begin(), extra.end());
        robust::SimProcess sim(prefix_.Path(), kSimCom, args);

        // The GUI thread's pauses, from the gaps between its own timer's deliveries.
        WindowTimer probe(10);
        std::vector<std::pair<Clock::time_point, long>> gaps;  // (delivery, ms since the one before)
        gaps.reserve(1 << 16);
        Clock::time_point last = Clock::now();
        probe.OnTimer = [&] {
            const auto now = Clock::now();
            gaps.emplace_back(now, std::chrono::duration_cast<std::chrono::milliseconds>(now - last).count());
            last = now;
        };
        probe.SetEnabled(true);

        // Resident size sampled while the record grows; the start is taken once the flood
        // has filled the scrollback and the capture is under way.
        std::atomic<bool> stop{false};
        std::mutex lock;
        Clock::time_point floodStart{}, floodEnd{};
        std::thread sampler([&] {
            uintmax_t lastSize = 0;
            while (!stop) {
                const long rss = robust::ResidentKb();
                std::error_code ec;
                const uintmax_t size = std::filesystem::file_size(record, ec);
                {
                    std::lock_guard guard(lock);
                    if (f.rssStartKb == 0 && !ec && size > (256u << 10)) {
                        f.rssStartKb = rss;
                        floodStart = Clock::now();
                    }
                    if (f.rssStartKb != 0 && !ec && size > lastSize) {
                        f.rssEndKb = rss;
                        floodEnd = Clock::now();
                    }
                    if (!ec) {
                        lastSize = size;
                    }
                    f.rssPeakKb = std::max(f.rssPeakKb, rss);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        });

        HeadlessRunner runner(RunOptions{prefix_.Path(), (prefix_.Path() / "report.json").string()});
        status_ = runner.Run();
        stop = true;
        sampler.join();
        probe.SetEnabled(false);
        sim.Stop();

        report_ = runner.Report();
        for (const auto& [when, gap] : gaps) {
            f.longestPauseMs = std::max(f.longestPauseMs, gap);
            if (when > floodStart && when <= floodEnd) {
                f.floodPauseMs = std::max(f.floodPauseMs, gap);
            }
        }
        f.recordBytes = std::filesystem::file_size(record);
        if (report_.captureFile) {
            f.captureBytes = std::filesystem::file_size(*report_.captureFile);
            captureMatches_ = robust::CaptureMatchesRecord(record, *report_.captureFile);
        }
        std::printf(
            "[ figures ] flood %.0f s: record %ju bytes, capture %ju bytes, RSS start %ld kB, peak %ld kB, "
            "end %ld kB, longest GUI pause %ld ms (%ld ms during the flood)\n",
            seconds, f.recordBytes, f.captureBytes, f.rssStartKb, f.rssPeakKb, f.rssEndKb, f.longestPauseMs,
            f.floodPauseMs);
        RecordProperty("record_bytes", std::to_string(f.recordBytes));
        RecordProperty("rss_start_kb", std::to_string(f.rssStartKb));
        RecordProperty("rss_end_kb", std::to_string(f.rssEndKb));
        RecordProperty("longest_gui_pause_ms", std::to_string(f.longestPauseMs));
        RecordProperty("longest_gui_pause_flood_ms", std::to_string(f.floodPauseMs));
        return f;
    }

    void ExpectCompleteRun(const FloodFigures& f) {
        EXPECT_EQ(status_, kExitFinished);
        EXPECT_EQ(report_.outcome, RunOutcome::Finished);
        EXPECT_TRUE(report_.captureComplete);
        EXPECT_TRUE(report_.messages.empty()) << report_.messages.front();
        EXPECT_TRUE(captureMatches_) << "capture " << f.captureBytes << " bytes, record " << f.recordBytes;
    }

    int status_ = -1;
    RunReport report_;
    bool captureMatches_ = false;
};

// Flat: what the run holds does not grow with what went through it. The allowance
// covers allocator slack; a queue that keeps what the GUI thread has not yet taken
// grows by the megabyte per second of flood.
// AddressSanitizer keeps freed blocks in its quarantine (256 MB), so there resident
// size grows by design.
void ExpectFlatMemory(const FloodFigures& f) {
    ASSERT_GT(f.rssStartKb, 0) << "the flood never got going";
#ifndef __SANITIZE_ADDRESS__
    EXPECT_LT(f.rssEndKb - f.rssStartKb, 16 * 1024) << "resident size grew";
#endif
}

TEST_F(Flood, CaptureEqualsWhatWasSent) {
    const FloodFigures f = Run(8);
    ExpectCompleteRun(f);
    ExpectFlatMemory(f);
}

TEST_F(Flood, ByteWritesArriveWhole) {
    const FloodFigures f = Run(0, {"--byte-writes", "--pc2-records", "20", "--pc2-interval-ms", "5"});
    ExpectCompleteRun(f);
    EXPECT_EQ(report_.serial, "1234");
    EXPECT_EQ(report_.datetime, kClockText);
}

TEST_F(Flood, Soak) {
    const char* seconds = std::getenv("HYDRIX_SOAK_SECONDS");
    if (seconds == nullptr) {
        GTEST_SKIP() << "set HYDRIX_SOAK_SECONDS to run the soak";
    }
    const FloodFigures f = Run(std::atof(seconds));
    ExpectCompleteRun(f);
    ExpectFlatMemory(f);
}

}  // namespace
}  // namespace hydrix::app::test
