#include "comm/recorders.h"

#include "platform/system_info.h"

namespace hydrix::comm {

void DispatchRecorders::Restart() {
    std::lock_guard guard(lock_);
    trace_.Stop();
    log_.Stop();
    logStartMs_ = clock_.NowMs();
}

void DispatchRecorders::TraceBytes(uint8_t kind, const uint8_t* bytes, uint32_t count) {
    std::lock_guard guard(lock_);
    if (!trace_.On()) {
        return;
    }
    for (uint32_t i = 0; i < count; ++i) {
        trace_.Add(kind, bytes[i]);
    }
}

void DispatchRecorders::Log(LogKind kind, LogSubKind subKind, uint32_t data, const void* bytes, uint32_t length) {
    std::lock_guard guard(lock_);
    if (!log_.On()) {
        return;
    }
    log_.Add(kind, subKind, clock_.NowMs() - logStartMs_, data, bytes, length);
}

int DispatchRecorders::LogWrite(const std::string& fileName, bool append, bool allHex, bool hex) {
    std::lock_guard guard(lock_);
    return log_.Write(fileName, append, allHex, hex, deviceName_, platform::OperatingSystemDescription(),
                      platform::LocalTimeText());
}

}  // namespace hydrix::comm
