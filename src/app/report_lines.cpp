#include "app/report_lines.h"

#include <vector>

#include "comm/dispatcher.h"

namespace hydrix::app {

ReportLines::ReportLines(comm::CustomComPort& port) : port_(&port) {
    port_->RegisterCallbackUser(this, [this](comm::CustomComPort&, comm::PortCallbackKind kind) {
        if (kind == comm::PortCallbackKind::PortOpened) {
            Attach();
        } else {
            Detach();
        }
        if (kind == comm::PortCallbackKind::PortRemoved) {
            port_ = nullptr;
        }
    });
    if (port_->Open()) {
        Attach();
    }
}

ReportLines::~ReportLines() {
    Detach();
    if (port_ != nullptr) {
        port_->DeregisterCallbackUser(this);
    }
}

void ReportLines::Attach() {
    comm::BaseDispatcher* d = port_ != nullptr ? port_->Dispatcher() : nullptr;
    if (d == nullptr || d == hook_.Dispatcher()) {
        return;
    }
    std::shared_ptr<ReceivedLines> lines = lines_;
    // Called on the dispatcher thread only, so the scratch buffer needs no lock.
    hook_.Attach(*port_, *d,
                 [lines, d, bytes = std::vector<uint8_t>()](uint32_t msg, uint32_t offered, int32_t) mutable {
                     if (msg != comm::kTriggerAvailMsg || offered == 0) {
                         return;
                     }
                     const uint64_t at = d->ReadPosition();
                     bytes.resize(offered);
                     const int got = d->ReadBytes(bytes.data(), static_cast<int>(offered));
                     if (got > 0) {
                         lines->Feed(at, bytes.data(), static_cast<size_t>(got));
                     }
                 });
}

void ReportLines::Detach() {
    hook_.Detach(port_);
}

}  // namespace hydrix::app
