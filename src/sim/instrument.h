// The simulated ADCP: bytes from the station in, the instrument's replies out, with no
// I/O of its own. The line driver feeds it what arrives on the pty and writes out what
// it returns, honouring each part's delay; tests drive it directly.
//
// Behaviour the station depends on: a wake-up (a line holding "=====", or the opening
// of the line with wakeOnOpen) answers with a banner; every command is echoed and its
// reply ends with the prompt ">", which appears nowhere else; clock reports read
// "TS = yy/mm/dd,hh:mm:ss.ff --- ..."; PS0 holds "Instrument S/N:  <serial>       Frequency:";
// PT200 and PA report PASS/FAIL lines and no other text contains those words; PC2
// streams data records and ends with the prompt by itself.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/sim_options.h"

namespace hydrix::sim {

// Bytes to send once delayMs have passed since the previous part went out.
struct Emission {
    int delayMs = 0;
    std::string bytes;
};

class Instrument {
public:
    // Gives the clock report's text when no fixed clock is set.
    using ClockText = std::function<std::string()>;

    explicit Instrument(SimOptions options, ClockText clock = HostClockText);

    // The station opened the line.
    std::vector<Emission> LineOpened();
    // The station closed the line: the instrument is asleep again, as after power-up.
    void LineClosed();
    // Bytes from the station.
    std::vector<Emission> Receive(std::string_view bytes);

    // A PC2 data stream is running; the driver asks for its parts while it has nothing
    // else to send.
    bool Streaming() const { return streaming_; }
    // The next part of the stream, given the milliseconds since it began. The part that
    // ends the stream ends with the prompt.
    Emission NextStreamPart(int64_t elapsedMs);

    bool Awake() const { return awake_; }
    bool Silent() const { return silent_; }

    // "yy/mm/dd,hh:mm:ss.ff" of the host's local time.
    static std::string HostClockText();

    // The self-tests each report runs, in order; exposed so tests can count them.
    static const std::vector<std::string>& SelfTests(std::string_view command);

private:
    std::vector<Emission> HandleLine(const std::string& line);
    std::vector<Emission> Reply(const std::string& echo, std::string body);
    std::string WakeBanner() const;
    std::string ClockReport();
    std::string ConfigurationListing();
    std::string Prompt() const { return options_.doublePrompt ? ">>" : ">"; }
    std::string BeamListing() const;
    std::string SelfTestReport(const std::string& command) const;
    bool TestFails(const std::string& command, int index) const;
    std::string DataRecord();
    bool GoesSilentOn(const std::string& name);

    SimOptions options_;
    ClockText clock_;
    bool awake_ = false;
    bool silent_ = false;
    bool streaming_ = false;
    bool streamInterrupted_ = false;  // input stopped PC2; the line it starts only ends it
    int64_t recordsSent_ = 0;
    std::string line_;
    int silentCommandSeen_ = 0;  // times the command named by silentAfter came
    int listingsSent_ = 0;       // PS0 listings so far
};

}  // namespace hydrix::sim
