#include "app/received_lines.h"

#include <algorithm>

namespace hydrix::app {

namespace {
// How far back complete lines are kept: twice the dispatcher's input ring.
constexpr uint64_t kKeptBytes = 2 * 8192;
}  // namespace

void ReceivedLines::Feed(uint64_t at, const uint8_t* bytes, size_t count) {
    std::lock_guard guard(lock_);
    if (at > fed_) {
        if (!line_.empty() || lineStart_ < fed_) {
            EndLine(fed_);
        }
        lineStart_ = at;
        fed_ = at;
    }
    const uint64_t skip = std::min<uint64_t>(fed_ - at, count);
    for (size_t i = static_cast<size_t>(skip); i < count; ++i) {
        const uint8_t c = bytes[i];
        ++fed_;
        if (c == '\r' || c == '\n') {
            EndLine(fed_);
        } else if (c >= 0x20 && c != 0x7F && line_.size() < kReportLineMax) {
            line_.push_back(static_cast<char>(c));
        }
    }
    while (!recent_.empty() && recent_.front().End + kKeptBytes < fed_) {
        recent_.pop_front();
    }
}

void ReceivedLines::EndLine(uint64_t end) {
    Line done{lineStart_, end, std::move(line_)};
    line_.clear();
    lineStart_ = end;
    std::erase_if(pending_, [&](const Pending& p) {
        // A place in a gap of the stream has no line.
        if (p.At < done.Start) {
            return true;
        }
        if (p.At >= done.End) {
            return false;
        }
        results_[p.Result].Line = done.Text;
        return true;
    });
    recent_.push_back(std::move(done));
}

const std::string* ReceivedLines::FindLine(uint64_t at) const {
    const auto it = std::upper_bound(recent_.begin(), recent_.end(), at,
                                     [](uint64_t place, const Line& l) { return place < l.End; });
    return it != recent_.end() && it->Start <= at ? &it->Text : nullptr;
}

void ReceivedLines::Count(const std::string& outcome, uint64_t end) {
    std::lock_guard guard(lock_);
    results_.push_back({outcome, ""});
    if (end == 0) {
        return;
    }
    const uint64_t at = end - 1;
    if (at < lineStart_) {
        if (const std::string* text = FindLine(at)) {
            results_.back().Line = *text;
        }
        return;
    }
    pending_.push_back({results_.size() - 1, at});
}

std::vector<ReportResult> ReceivedLines::Results() const {
    std::lock_guard guard(lock_);
    std::vector<ReportResult> out = results_;
    for (const Pending& p : pending_) {
        if (p.At >= lineStart_) {
            out[p.Result].Line = line_;
        }
    }
    return out;
}

}  // namespace hydrix::app
