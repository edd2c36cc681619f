// The dispatcher's side of tracing and dispatch logging: every operation runs under
// the dispatcher lock, since the GUI thread and the dispatcher thread both record.
#include <algorithm>

#include "comm/dispatcher.h"
#include "platform/system_info.h"

namespace hydrix::comm {

int BaseDispatcher::TraceStart(uint32_t capacity) {
    std::lock_guard guard(dispatcherLock_);
    if (capacity > static_cast<uint32_t>(Trace::kMaxCapacity)) return ecBadArgument;
    return trace_.Start(static_cast<int32_t>(capacity));
}

void BaseDispatcher::TracePause() {
    std::lock_guard guard(dispatcherLock_);
    trace_.Pause();
}

void BaseDispatcher::TraceResume() {
    std::lock_guard guard(dispatcherLock_);
    trace_.Resume();
}

int BaseDispatcher::TraceReset() {
    std::lock_guard guard(dispatcherLock_);
    return trace_.Reset();
}

void BaseDispatcher::TraceStop() {
    std::lock_guard guard(dispatcherLock_);
    trace_.Stop();
}

void BaseDispatcher::AddTraceByte(uint8_t kind, uint8_t value) {
    std::lock_guard guard(dispatcherLock_);
    trace_.Add(kind, value);
}

int BaseDispatcher::TraceWrite(const std::string& fileName, bool append, bool allHex, bool hex) {
    std::lock_guard guard(dispatcherLock_);
    return trace_.Write(fileName, append, allHex, hex);
}

bool BaseDispatcher::Tracing() {
    std::lock_guard guard(dispatcherLock_);
    return trace_.On();
}

int BaseDispatcher::LogStart(uint32_t size) {
    std::lock_guard guard(dispatcherLock_);
    log_.Start(size, static_cast<uint32_t>(std::max(inQueueSize_, outQueueSize_)));
    return 0;
}

void BaseDispatcher::LogPause() {
    std::lock_guard guard(dispatcherLock_);
    log_.Pause();
}

void BaseDispatcher::LogResume() {
    std::lock_guard guard(dispatcherLock_);
    log_.Resume();
}

void BaseDispatcher::LogReset() {
    std::lock_guard guard(dispatcherLock_);
    log_.Reset();
}

void BaseDispatcher::LogStop() {
    std::lock_guard guard(dispatcherLock_);
    log_.Stop();
}

void BaseDispatcher::AddLogEntry(uint8_t kind, uint8_t subKind, uint32_t data,
                                 const void* bytes, uint32_t length) {
    Log(static_cast<LogKind>(kind), static_cast<LogSubKind>(subKind), data, bytes, length);
}

int BaseDispatcher::LogWrite(const std::string& fileName, bool append, bool allHex, bool hex) {
    std::lock_guard guard(dispatcherLock_);
    return log_.Write(fileName, append, allHex, hex, deviceName_,
                      platform::OperatingSystemDescription(), platform::LocalTimeText());
}

bool BaseDispatcher::Logging() {
    std::lock_guard guard(dispatcherLock_);
    return log_.On();
}

void BaseDispatcher::Log(LogKind kind, LogSubKind subKind, uint32_t data, const void* bytes,
                         uint32_t length) {
    std::lock_guard guard(dispatcherLock_);
    if (!log_.On()) return;
    log_.Add(kind, subKind, clock_.NowMs() - logStartMs_, data, bytes, length);
}

void BaseDispatcher::TraceBytes(uint8_t kind, const uint8_t* bytes, uint32_t count) {
    std::lock_guard guard(dispatcherLock_);
    if (!trace_.On()) return;
    for (uint32_t i = 0; i < count; ++i) trace_.Add(kind, bytes[i]);
}

}  // namespace hydrix::comm
