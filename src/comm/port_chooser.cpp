#include "comm/port_chooser.h"

#include <mutex>

namespace hydrix::comm {

namespace {

std::mutex& ChooserLock() {
    static std::mutex lock;
    return lock;
}

std::shared_ptr<PortChooser>& Installed() {
    static std::shared_ptr<PortChooser> chooser = std::make_shared<CancelPortChooser>();
    return chooser;
}

}  // namespace

std::shared_ptr<PortChooser> SetPortChooser(std::shared_ptr<PortChooser> chooser) {
    if (!chooser) {
        chooser = std::make_shared<CancelPortChooser>();
    }
    std::lock_guard guard(ChooserLock());
    std::swap(Installed(), chooser);
    return chooser;
}

std::shared_ptr<PortChooser> CurrentPortChooser() {
    std::lock_guard guard(ChooserLock());
    return Installed();
}

}  // namespace hydrix::comm
