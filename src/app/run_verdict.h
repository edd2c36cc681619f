// The station's verdict on a run: what keeps it from vouching for a pass, gathered as
// the run goes (a report cut off) and when the sequence reaches its end (reports still
// open, nothing counted, a capture file that is not whole), in words an operator reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "terminal/terminal_capture.h"

namespace hydrix::app {

// The box shown at the end of a run that cannot pass; the reasons follow, a line each.
constexpr const char* kIncompleteText = "Test incomplete: the station cannot vouch for this result.";

class RunVerdict {
public:
    // A report packet ended without its end: its time-out ran out after ticks, or it grew
    // past its collect limit. came: how it came ("TS = " without its "-").
    void ReportCutOff(const std::string& report, const std::string& came, bool overflowed, int32_t ticks);
    // At the end of the sequence: a report packet that began is still waiting for its end.
    void ReportOpenAtEnd(const std::string& report, const std::string& came);
    // At the end of the sequence: the counts.
    void Counted(int pass, int fail);
    // The capture file as it stood when it was closed.
    void Capture(const terminal::CaptureRecord& record);

    const std::vector<std::string>& Reasons() const { return reasons_; }
    // The box text: kIncompleteText and the reasons.
    std::string Text() const;

private:
    void Add(std::string reason);

    std::vector<std::string> reasons_;
};

// The bytes of a size for an operator: "812 bytes", "1.0 MB".
std::string ByteCountText(unsigned long long bytes);

}  // namespace hydrix::app
