// The trace and the dispatch log of one open port, as the dispatcher, the port and the
// packet managers reach them. Every operation takes the dispatcher's lock, since the GUI
// thread and the dispatcher thread both record.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "comm/dispatch_log.h"
#include "comm/trace.h"
#include "platform/clock.h"

namespace hydrix::comm {

class DispatchRecorders {
public:
    // deviceName: the dispatcher's, shown in the log file's header.
    DispatchRecorders(std::recursive_mutex& lock, const platform::Clock& clock, const std::string& deviceName)
        : lock_(lock), clock_(clock), deviceName_(deviceName) {}

    // At open: both off and empty, log times counted from now.
    void Restart();
    // The expected largest log entry (max of the port's InSize and OutSize).
    void SetLogScratchSize(uint32_t size);

    // 0, or -1002 for a capacity above Trace::kMaxCapacity.
    int TraceStart(uint32_t capacity);
    void TracePause();
    void TraceResume();
    int TraceReset();
    void TraceStop();
    void AddTraceByte(uint8_t kind, uint8_t value);
    // Each byte as one entry, while tracing is on.
    void TraceBytes(uint8_t kind, const uint8_t* bytes, uint32_t count);
    int TraceWrite(const std::string& fileName, bool append, bool allHex, bool hex);
    bool Tracing() const;

    int LogStart(uint32_t size);
    void LogPause();
    void LogResume();
    void LogReset();
    void LogStop();
    // Stamps the entry with the time since open, while logging is on.
    void Log(LogKind kind, LogSubKind subKind, uint32_t data, const void* bytes = nullptr,
             uint32_t length = 0);
    int LogWrite(const std::string& fileName, bool append, bool allHex, bool hex);
    bool Logging() const;

private:
    std::recursive_mutex& lock_;
    const platform::Clock& clock_;
    const std::string& deviceName_;
    Trace trace_;
    DispatchLog log_;
    uint32_t logStartMs_ = 0;
    uint32_t logScratchSize_ = 0;
};

}  // namespace hydrix::comm
