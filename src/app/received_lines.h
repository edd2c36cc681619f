// The lines of text the instrument sent, kept with their places in the received stream
// (bytes since the port opened), so that a PASS or FAIL report, known by the place just
// past its packet, can be given the whole line it came in. Fed on the dispatcher thread,
// asked on the GUI thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace hydrix::app {

struct ReportResult {
    std::string Outcome;  // "PASS" or "FAIL"
    std::string Line;     // control characters removed, at most kReportLineMax characters
    bool operator==(const ReportResult&) const = default;
};

constexpr size_t kReportLineMax = 200;

class ReceivedLines {
public:
    // Bytes that begin at place at. A gap before them ends the line they would have
    // continued; bytes already fed are skipped.
    void Feed(uint64_t at, const uint8_t* bytes, size_t count);
    // A report whose packet ends just before place end: its line is the one holding the
    // packet's last byte, whether or not that byte has been fed yet.
    void Count(const std::string& outcome, uint64_t end);
    // Every report counted, in order; a line still arriving is given as far as it came.
    std::vector<ReportResult> Results() const;

private:
    struct Line {
        uint64_t Start;  // place of its first byte
        uint64_t End;    // place just past its line end
        std::string Text;
    };
    struct Pending {
        size_t Result;
        uint64_t At;
    };
    void EndLine(uint64_t end);
    // The text of the complete line holding place at, if it is still kept.
    const std::string* FindLine(uint64_t at) const;

    mutable std::mutex lock_;
    uint64_t fed_ = 0;
    uint64_t lineStart_ = 0;
    std::string line_;
    // Recent complete lines: a report may be counted up to an input ring's worth of
    // bytes after its line was fed.
    std::deque<Line> recent_;
    std::vector<ReportResult> results_;
    std::vector<Pending> pending_;
};

}  // namespace hydrix::app
