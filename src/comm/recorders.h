// The trace and the dispatch log of one open port, as the dispatcher, the port and the
// packet managers reach them. Every operation takes the dispatcher's lock, since the GUI
// thread and the dispatcher thread both record.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "comm/dispatch_log.h"
#include "comm/lock_order.h"
#include "comm/trace.h"
#include "platform/clock.h"

namespace hydrix::comm {

class DispatchRecorders {
public:
    // deviceName: the dispatcher's, shown in the log file's header.
    DispatchRecorders(OrderedLock& lock, const platform::Clock& clock, const std::string& deviceName)
        : lock_(lock), clock_(clock), deviceName_(deviceName) {}

    // At open: both off and empty, log times counted from now.
    void Restart();
    // The expected largest log entry (max of the port's InSize and OutSize).
    void SetLogScratchSize(uint32_t size) {
        Locked([&] { logScratchSize_ = size; });
    }

    // 0, or -1002 for a capacity above Trace::kMaxCapacity (above 2^31 it reads as
    // negative, which the trace refuses as well).
    int TraceStart(uint32_t capacity) {
        return Locked([&] { return trace_.Start(static_cast<int32_t>(capacity)); });
    }
    void TracePause() {
        Locked([&] { trace_.Pause(); });
    }
    void TraceResume() {
        Locked([&] { trace_.Resume(); });
    }
    int TraceReset() {
        return Locked([&] { return trace_.Reset(); });
    }
    void TraceStop() {
        Locked([&] { trace_.Stop(); });
    }
    void AddTraceByte(uint8_t kind, uint8_t value) {
        Locked([&] { trace_.Add(kind, value); });
    }
    // Each byte as one entry, while tracing is on.
    void TraceBytes(uint8_t kind, const uint8_t* bytes, uint32_t count);
    int TraceWrite(const std::string& fileName, bool append, bool allHex, bool hex) {
        return Locked([&] { return trace_.Write(fileName, append, allHex, hex); });
    }
    bool Tracing() const {
        return Locked([&] { return trace_.On(); });
    }

    int LogStart(uint32_t size) {
        Locked([&] { log_.Start(size, logScratchSize_); });
        return 0;
    }
    void LogPause() {
        Locked([&] { log_.Pause(); });
    }
    void LogResume() {
        Locked([&] { log_.Resume(); });
    }
    void LogReset() {
        Locked([&] { log_.Reset(); });
    }
    void LogStop() {
        Locked([&] { log_.Stop(); });
    }
    // Stamps the entry with the time since open, while logging is on.
    void Log(LogKind kind, LogSubKind subKind, uint32_t data, const void* bytes = nullptr, uint32_t length = 0);
    int LogWrite(const std::string& fileName, bool append, bool allHex, bool hex);
    bool Logging() const {
        return Locked([&] { return log_.On(); });
    }

private:
    template <typename Fn>
    auto Locked(Fn fn) const -> decltype(fn()) {
        std::lock_guard guard(lock_);
        return fn();
    }

    OrderedLock& lock_;
    const platform::Clock& clock_;
    const std::string& deviceName_;
    Trace trace_;
    DispatchLog log_;
    uint32_t logStartMs_ = 0;
    uint32_t logScratchSize_ = 0;
};

}  // namespace hydrix::comm
