#include "comm/recorders.h"

#include "platform/system_info.h"

namespace hydrix::comm {

void DispatchRecorders::Restart() {
    std::lock_guard guard(lock_);
    trace_.Stop();
    log_.Stop();
    logStartMs_ = clock_.NowMs();
}

void DispatchRecorders::SetLogScratchSize(uint32_t size) {
    std::lock_guard guard(lock_);
    logScratchSize_ = size;
}

int DispatchRecorders::TraceStart(uint32_t capacity) {
    std::lock_guard guard(lock_);
    // Above 2^31 the capacity reads as negative, which the trace refuses as well.
    return trace_.Start(static_cast<int32_t>(capacity));
}

void DispatchRecorders::TracePause() {
    std::lock_guard guard(lock_);
    trace_.Pause();
}

void DispatchRecorders::TraceResume() {
    std::lock_guard guard(lock_);
    trace_.Resume();
}

int DispatchRecorders::TraceReset() {
    std::lock_guard guard(lock_);
    return trace_.Reset();
}

void DispatchRecorders::TraceStop() {
    std::lock_guard guard(lock_);
    trace_.Stop();
}

void DispatchRecorders::AddTraceByte(uint8_t kind, uint8_t value) {
    std::lock_guard guard(lock_);
    trace_.Add(kind, value);
}

void DispatchRecorders::TraceBytes(uint8_t kind, const uint8_t* bytes, uint32_t count) {
    std::lock_guard guard(lock_);
    if (!trace_.On()) return;
    for (uint32_t i = 0; i < count; ++i) trace_.Add(kind, bytes[i]);
}

int DispatchRecorders::TraceWrite(const std::string& fileName, bool append, bool allHex, bool hex) {
    std::lock_guard guard(lock_);
    return trace_.Write(fileName, append, allHex, hex);
}

bool DispatchRecorders::Tracing() const {
    std::lock_guard guard(lock_);
    return trace_.On();
}

int DispatchRecorders::LogStart(uint32_t size) {
    std::lock_guard guard(lock_);
    log_.Start(size, logScratchSize_);
    return 0;
}

void DispatchRecorders::LogPause() {
    std::lock_guard guard(lock_);
    log_.Pause();
}

void DispatchRecorders::LogResume() {
    std::lock_guard guard(lock_);
    log_.Resume();
}

void DispatchRecorders::LogReset() {
    std::lock_guard guard(lock_);
    log_.Reset();
}

void DispatchRecorders::LogStop() {
    std::lock_guard guard(lock_);
    log_.Stop();
}

void DispatchRecorders::Log(LogKind kind, LogSubKind subKind, uint32_t data, const void* bytes,
                            uint32_t length) {
    std::lock_guard guard(lock_);
    if (!log_.On()) return;
    log_.Add(kind, subKind, clock_.NowMs() - logStartMs_, data, bytes, length);
}

int DispatchRecorders::LogWrite(const std::string& fileName, bool append, bool allHex, bool hex) {
    std::lock_guard guard(lock_);
    return log_.Write(fileName, append, allHex, hex, deviceName_, platform::OperatingSystemDescription(),
                      platform::LocalTimeText());
}

bool DispatchRecorders::Logging() const {
    std::lock_guard guard(lock_);
    return log_.On();
}

}  // namespace hydrix::comm
