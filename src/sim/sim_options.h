// Settings of the instrument simulator, from adcp-sim's command line: which scenario the
// simulated instrument plays (its reply script) and how the line driver writes it out.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace hydrix::sim {

// One self-test result to report as FAIL: the command that runs it ("PT200" or "PA") and
// the test's 1-based position in that command's report.
struct FailingTest {
    std::string command;
    int index = 0;

    bool operator==(const FailingTest&) const = default;
};

struct SimOptions {
    std::string serial = "1234";
    // Fixed clock text ("yy/mm/dd,hh:mm:ss.ff"); unset: the host's local time.
    std::optional<std::string> clock;
    bool noSerial = false;  // PS0 lists no serial number
    bool noClock = false;   // Ts? gets an error instead of a clock report
    // Firmware variants (--variant): the clock report without its "-", six blanks before
    // "Frequency:" instead of seven, every prompt doubled (">>"), and a second PS0 listing
    // that names another serial number.
    bool clockWithoutDash = false;
    bool frequencySixBlanks = false;
    bool doublePrompt = false;
    bool serialChanges = false;
    // The last failCount self-tests of PT200 then PA report FAIL. They come after every
    // PASS line of their report, so a station counts them whatever its reads look like.
    int failCount = 0;
    std::vector<FailingTest> fails;  // explicit failing tests, reported in their natural place
    // Command after which the instrument goes silent (echoes it, then answers nothing
    // more); "break" names the wake-up text. silentOccurrence picks the n-th time it comes.
    std::string silentAfter;
    int silentOccurrence = 1;
    int delayMs = 0;          // pause between a command's echo and its reply
    bool byteWrites = false;  // one byte per write to the line
    int pc2Records = 10;      // PC2 data records, one every pc2IntervalMs
    int pc2IntervalMs = 100;
    double floodSeconds = 0;  // > 0: PC2 streams records as fast as the line takes, this long
    bool wakeOnOpen = false;  // answer the opening of the line as a wake-up (hardware break)
    bool keepOpen = false;    // after a hang-up wait for the next opener instead of exiting
    std::string recordFile;   // every byte sent to the line is also written here
    int linkCom = 0;          // > 0: $WINEPREFIX/dosdevices/com<n> links to the pty
    // Play on this existing serial device (the far side of a wired UART pair or of a USB
    // adapter) instead of a pseudo-terminal, at this rate.
    std::string device;
    int baud = 115200;
    bool verbose = false;  // what comes and goes on the line, on standard error
};

struct ParseResult {
    SimOptions options;
    bool help = false;
    std::string error;  // empty when the command line was good
};

ParseResult ParseSimOptions(const std::vector<std::string>& args);

std::string SimUsage();

}  // namespace hydrix::sim
