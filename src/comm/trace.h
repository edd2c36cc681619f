// Byte trace of one open port: every byte the port's users write ('T') and read ('R'),
// kept in a fixed ring of entries and written to a text file on request.
// The dispatcher owns it and calls it under its own lock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

namespace hydrix::comm {

// State of tracing and of dispatch logging as the port's properties set it.
enum class TraceLogState { tlOff, tlOn, tlDump, tlAppend, tlClear, tlPause };

constexpr uint8_t kTraceReceive = 'R';
constexpr uint8_t kTraceTransmit = 'T';

class Trace {
public:
    static constexpr int32_t kMaxCapacity = 4000000;

    // Allocates capacity entries, or only empties a buffer already present; tracing on.
    // 0, or -1002 for a capacity above kMaxCapacity or below 0 (nothing allocated).
    int32_t Start(int32_t capacity);
    void Pause();
    // Tracing on again if a buffer exists.
    void Resume();
    int32_t Reset();
    // Tracing off, buffer freed.
    void Stop();

    // Stores one entry when a buffer exists; the oldest is overwritten when full.
    void Add(uint8_t kind, uint8_t byte);

    // Writes the entries oldest first and stops the trace. 0, or minus errno. An empty
    // trace creates no file.
    int32_t Write(const std::string& fileName, bool append, bool allHex, bool hex);

    bool On() const { return on_; }
    bool Present() const { return present_; }
    int32_t Capacity() const { return capacity_; }
    // Entries held.
    int32_t Count() const { return wrapped_ ? capacity_ : position_; }

private:
    std::vector<uint8_t> buffer_;  // kind, byte, kind, byte ...
    int32_t capacity_ = 0;
    int32_t position_ = 0;
    bool wrapped_ = false;
    bool present_ = false;
    bool on_ = false;
};

// One byte as the trace and the dispatch log show it, and its width (also used for
// wrapping): printable bytes as themselves, others as [13] or, with hex, [0D]; with
// allHex every byte in hex. With hex set a space is shown as [20].
std::string TraceItem(uint8_t byte, bool allHex, bool hex);

// The text file the trace and the dispatch log are written to: created or overwritten,
// or appended to (created when missing). Text is gathered and written in large pieces;
// the first failure sticks.
class DiagnosticFile {
public:
    // 0 or minus errno.
    int Open(const std::string& fileName, bool append);
    void Write(std::string_view text);
    // Writes what is gathered and closes. 0, or minus errno of the first failure.
    int Close();

private:
    void Flush();

    platform::OutputFile file_;
    std::string pending_;
    int error_ = 0;
};

}  // namespace hydrix::comm
