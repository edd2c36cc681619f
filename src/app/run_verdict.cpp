#include "app/run_verdict.h"

#include <algorithm>
#include <cstdio>

namespace hydrix::app {

namespace {

constexpr int kTickMs = 55;

std::string DurationText(int32_t ticks) {
    const long long seconds = static_cast<long long>(ticks) * kTickMs / 1000;
    if (seconds >= 120) {
        return std::to_string(seconds / 60) + " minutes";
    }
    return std::to_string(seconds) + " s";
}

}  // namespace

std::string ByteCountText(unsigned long long bytes) {
    if (bytes < 1024 * 1024) {
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

void RunVerdict::Add(std::string reason) {
    if (std::find(reasons_.begin(), reasons_.end(), reason) == reasons_.end()) {
        reasons_.push_back(std::move(reason));
    }
}

void RunVerdict::ReportCutOff(const std::string& report, const std::string& came, bool overflowed, int32_t ticks) {
    const std::string how = overflowed ? "ran on for more than 1 MB of text" : "ran on for " + DurationText(ticks);
    Add("The " + report + " came as " + came + " and " + how +
        ": PASS and FAIL reports in that stretch were not counted.");
}

void RunVerdict::ReportOpenAtEnd(const std::string& report, const std::string& came) {
    Add("The " + report + " came as " + came +
        " and had not ended when the test finished: PASS and FAIL reports after it were not counted.");
}

void RunVerdict::Counted(int pass, int fail) {
    if (pass == 0 && fail == 0) {
        Add("No PASS or FAIL report was counted before the test sequence ended.");
    }
}

void RunVerdict::Capture(const terminal::CaptureRecord& r) {
    const std::string file = "The capture file " + r.FileName;
    if (r.Written < r.Handed) {
        Add(file + " is missing " + ByteCountText(r.Handed - r.Written) + " of the " + ByteCountText(r.Handed) +
            " received (the disk may be full).");
        return;
    }
    if (!r.OnDisk) {
        Add(file + " is no longer on the disk: it (or its folder) was removed or renamed during the run.");
        return;
    }
    if (r.SyncFailed) {
        Add(file + " could not be stored on the disk.");
        return;
    }
    if (r.Size != r.Start + r.Handed) {
        Add(file + " holds " + ByteCountText(r.Size - std::min(r.Size, r.Start)) + " where " + ByteCountText(r.Handed) +
            " were received: another program changed it.");
    }
}

std::string RunVerdict::Text() const {
    std::string text = kIncompleteText;
    for (const std::string& reason : reasons_) {
        text += "\r" + reason;
    }
    return text;
}

}  // namespace hydrix::app
