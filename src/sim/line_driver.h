// Runs the simulated instrument on the master side of a pty: what the station writes to
// the slave goes to Instrument::Receive, and the instrument's replies go back out, each
// part after its delay, optionally one byte per write and copied to a record file.
//
// The master sees the slave's state: a hang-up (no slave open) before the station has
// opened the line means "not yet"; one after it means the station closed the port,
// which ends Run (or, with keepOpen, waits for the next opener). On a serial device
// (SimDevice) the line counts as open from the start and only the device's own hang-up
// (its adapter pulled out) ends Run.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <string>

#include "platform/file_system.h"
#include "sim/instrument.h"

namespace hydrix::sim {

class LineDriver {
public:
    // masterFd stays owned by the caller; it is made non-blocking.
    LineDriver(Instrument& instrument, int masterFd, const SimOptions& options);
    ~LineDriver();
    LineDriver(const LineDriver&) = delete;
    LineDriver& operator=(const LineDriver&) = delete;

    // Plays the instrument until the line hangs up or Stop. 0, or -errno when the line or
    // the record file fails (Error() says what).
    int Run();
    // Ends Run from any thread; async-signal-safe, so a SIGTERM handler may call it.
    void Stop();

    const std::string& Error() const { return error_; }
    // Bytes written to the line so far.
    uint64_t BytesSent() const { return bytesSent_.load(); }
    // Times the station closed the line so far.
    int HangUps() const { return hangUps_.load(); }

private:
    using Clock = std::chrono::steady_clock;

    enum class Outcome { Continue, HungUp, Stopped, Failed };

    Outcome WaitForOpener();
    Outcome Serve();
    Outcome ReadInput();
    Outcome WriteFront();
    void Queue(std::vector<Emission> parts);
    void Log(const char* direction, std::string_view bytes) const;

    Instrument& instrument_;
    const int master_;
    const SimOptions options_;
    int stopFd_ = -1;
    platform::OutputFile record_;
    std::string error_;
    std::atomic<uint64_t> bytesSent_{0};
    std::atomic<int> hangUps_{0};

    std::deque<Emission> queue_;
    std::size_t frontWritten_ = 0;
    Clock::time_point frontDue_;
    bool streaming_ = false;
    Clock::time_point streamStart_;
};

}  // namespace hydrix::sim
