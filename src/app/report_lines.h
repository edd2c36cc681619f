// The station's reader of the received stream for its results: a user of the com port
// that, while the port is open, reads every byte the dispatcher offers (beside the packet
// manager and the terminal) into ReceivedLines, so that each counted PASS or FAIL report
// can be given the line of instrument text it came in.
#pragma once

#include <memory>

#include "app/received_lines.h"
#include "comm/com_port.h"
#include "comm/dispatcher_hook.h"

namespace hydrix::app {

class ReportLines {
public:
    explicit ReportLines(comm::CustomComPort& port);
    ~ReportLines();
    ReportLines(const ReportLines&) = delete;
    ReportLines& operator=(const ReportLines&) = delete;

    // GUI thread: a report was counted; end is the place just past its packet.
    void Count(const std::string& outcome, uint64_t end) { lines_->Count(outcome, end); }
    std::vector<ReportResult> Results() const { return lines_->Results(); }

private:
    void Attach();
    void Detach();

    // Null once the port has gone.
    comm::CustomComPort* port_;
    // Shared with the handler, which the dispatcher may still hold after a detach.
    std::shared_ptr<ReceivedLines> lines_ = std::make_shared<ReceivedLines>();
    comm::DispatcherHook hook_{this};
};

}  // namespace hydrix::app
