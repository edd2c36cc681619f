#include "sim/instrument.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace hydrix::sim {
namespace {

constexpr std::string_view kBreakText = "=====";
constexpr std::size_t kMaxLine = 256;
constexpr int kWakeAfterOpenMs = 400;  // a station's hardware break lasts up to 330 ms
constexpr int kFloodBatch = 16;

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

std::string Trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

Instrument::Instrument(SimOptions options, ClockText clock) : options_(std::move(options)), clock_(std::move(clock)) {
    options_.silentAfter = Upper(options_.silentAfter);
}

std::string Instrument::HostClockText() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto hundredths =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000 / 10;
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d/%02d/%02d,%02d:%02d:%02d.%02d", local.tm_year % 100, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(hundredths));
    return text;
}

const std::vector<std::string>& Instrument::SelfTests(std::string_view command) {
    static const std::vector<std::string> pt200 = {"Receive Path",      "Transmit",         "Electronics",
                                                   "Receive Bandwidth", "RSSI Noise Floor", "Correlation Magnitude"};
    static const std::vector<std::string> pa = {"RAM", "ROM", "Recorder", "DSP", "System", "Sensor", "Beam Continuity"};
    return command == "PA" ? pa : pt200;
}

std::vector<Emission> Instrument::LineOpened() {
    if (!options_.wakeOnOpen || silent_) {
        return {};
    }
    awake_ = true;
    return {{kWakeAfterOpenMs + options_.delayMs, WakeBanner()}};
}

void Instrument::LineClosed() {
    awake_ = false;
    streaming_ = false;
    streamInterrupted_ = false;
    line_.clear();
}

std::vector<Emission> Instrument::Receive(std::string_view bytes) {
    std::vector<Emission> out;
    for (char c : bytes) {
        if (silent_) {
            break;
        }
        if (streaming_) {
            // Any key stops the data display, as on the instrument.
            streaming_ = false;
            streamInterrupted_ = true;
        }
        if (c == '\r') {
            std::string line;
            line.swap(line_);
            auto replies = HandleLine(line);
            out.insert(out.end(), replies.begin(), replies.end());
        } else if (c == '\b' || c == 0x7f) {
            if (!line_.empty()) {
                line_.pop_back();
            }
        } else if (c != '\n' && line_.size() < kMaxLine) {
            line_.push_back(c);
        }
    }
    return out;
}

std::vector<Emission> Instrument::HandleLine(const std::string& line) {
    const bool isBreak = line.find(kBreakText) != std::string::npos;
    const bool interrupted = streamInterrupted_;
    streamInterrupted_ = false;
    if (isBreak) {
        if (GoesSilentOn("BREAK")) {
            return {};
        }
        awake_ = true;
        return {{options_.delayMs, WakeBanner()}};
    }
    if (!awake_) {
        return {};
    }
    if (interrupted) {
        return {{0, "\r\n" + Prompt()}};
    }

    const std::string command = Upper(Trim(line));
    if (GoesSilentOn(command)) {
        return {{0, line + "\r\n"}};
    }
    if (command == "CR1") {
        return Reply(line, "[Parameters set to FACTORY defaults]\r\n");
    }
    if (command == "TS?") {
        return Reply(line, ClockReport());
    }
    if (command == "PS0") {
        return Reply(line, ConfigurationListing());
    }
    if (command == "PS3") {
        return Reply(line, BeamListing());
    }
    if (command == "PT200" || command == "PA") {
        return Reply(line, SelfTestReport(command));
    }
    if (command == "PC2") {
        streaming_ = true;
        recordsSent_ = 0;
        return {{0, line + "\r\n"},
                {options_.delayMs,
                 "Sensor data display, press any key to stop\r\n"
                 "Heading   Pitch    Roll  Up/Down  Attitude Temp  Ambient Temp  Pressure\r\n"}};
    }
    if (command.empty()) {
        return Reply(line, "");
    }
    return Reply(line, "ERR 002:  NOT RECOGNIZED\r\n");
}

std::vector<Emission> Instrument::Reply(const std::string& echo, std::string body) {
    body += Prompt();
    return {{0, echo + "\r\n"}, {options_.delayMs, std::move(body)}};
}

bool Instrument::GoesSilentOn(const std::string& name) {
    if (options_.silentAfter.empty() || name != options_.silentAfter) {
        return false;
    }
    if (++silentCommandSeen_ != options_.silentOccurrence) {
        return false;
    }
    silent_ = true;
    streaming_ = false;
    return true;
}

std::string Instrument::WakeBanner() const {
    return "\r\n[BREAK Wakeup A]\r\n"
           "Tidewise 600 kHz ADCP\r\n"
           "Velmar Sensors (c) 2007\r\n"
           "All rights reserved.\r\n"
           "Firmware Version 10.16\r\n" +
           Prompt();
}

std::string Instrument::ClockReport() {
    if (options_.noClock) {
        return "ERR 015:  Real time clock not responding\r\n";
    }
    const std::string text = options_.clock ? *options_.clock : clock_();
    if (options_.clockWithoutDash) {
        return "TS = " + text + "     Time Stamp (yy/mm/dd,hh:mm:ss.ff)\r\n";
    }
    return "TS = " + text + " --- Time Stamp (yy/mm/dd,hh:mm:ss.ff)\r\n";
}

std::string Instrument::ConfigurationListing() {
    const std::string serial = options_.serialChanges && listingsSent_++ > 0 ? options_.serial + "B" : options_.serial;
    const std::string blanks(options_.frequencySixBlanks ? 6 : 7, ' ');
    std::string text = options_.noSerial ? "                        Frequency: 614400 HZ\r\n"
                                         : "    Instrument S/N:  " + serial + blanks + "Frequency: 614400 HZ\r\n";
    text +=
        "     Configuration:  4 BEAM, JANUS\r\n"
        "       Match Layer:  10\r\n"
        "        Beam Angle:  20 DEGREES\r\n"
        "      Beam Pattern:  CONVEX\r\n"
        "       Orientation:  DOWN\r\n"
        "         Sensor(s):  HEADING  TILT 1  TILT 2  TEMPERATURE\r\n"
        "  Temp Sens Offset:  0.23 degrees C\r\n"
        "\r\n"
        "      CPU Firmware:  10.16 [0]\r\n"
        "     Boot Code Ver:  1.16\r\n"
        "      DEMOD #1 Ver:  ad48, Type:  1f\r\n"
        "      DEMOD #2 Ver:  ad48, Type:  1f\r\n"
        "      PWRTIMG  Ver:  85d3, Type:   7\r\n";
    return text;
}

std::string Instrument::BeamListing() const {
    return "Beam Width:   3.7 degrees\r\n"
           "\r\n"
           "Beam     Elevation     Azimuth\r\n"
           "  1        70.00       270.00\r\n"
           "  2        70.00        90.00\r\n"
           "  3        70.00         0.00\r\n"
           "  4        70.00       180.00\r\n"
           "\r\n"
           "Beam Directional Matrix (Down):\r\n"
           "  0.3420    0.0000    0.9397    0.2419\r\n"
           " -0.3420    0.0000    0.9397   -0.2419\r\n"
           "  0.0000   -0.3420    0.9397    0.2419\r\n"
           "  0.0000    0.3420    0.9397   -0.2419\r\n"
           "\r\n"
           "Instrument Transformation Matrix (Down):\r\n"
           "  1.4619   -1.4619    0.0000    0.0000\r\n"
           "  0.0000    0.0000   -1.4619    1.4619\r\n"
           "  0.2661    0.2661    0.2661    0.2661\r\n"
           "  1.0337    1.0337   -1.0337   -1.0337\r\n"
           "Beam Angle Corrections Are Loaded.\r\n";
}

bool Instrument::TestFails(const std::string& command, int index) const {
    const int inPt200 = static_cast<int>(SelfTests("PT200").size());
    const int inPa = static_cast<int>(SelfTests("PA").size());
    const int failPt200 = std::min(options_.failCount, inPt200);
    const int failPa = std::min(options_.failCount - failPt200, inPa);
    if (command == "PT200" && index > inPt200 - failPt200) {
        return true;
    }
    if (command == "PA" && index > inPa - failPa) {
        return true;
    }
    return std::find(options_.fails.begin(), options_.fails.end(), FailingTest{command, index}) != options_.fails.end();
}

std::string Instrument::SelfTestReport(const std::string& command) const {
    std::string text = command == "PA" ? "Pre-deployment Tests\r\n\r\n"
                                       : "  Ambient Temperature =    22.75 Degrees C\r\n"
                                         " Attitude Temperature =    23.97 Degrees C\r\n"
                                         "    Internal Moisture = 8C8Eh\r\n\r\n";
    int index = 0;
    for (const std::string& test : SelfTests(command)) {
        ++index;
        std::string line = "  " + test + " Test ";
        line.resize(std::max<std::size_t>(line.size(), 34), '.');
        text += line + (TestFails(command, index) ? " FAIL\r\n" : " PASS\r\n");
    }
    return text;
}

std::string Instrument::DataRecord() {
    const int64_t k = recordsSent_++;
    const double heading = static_cast<double>((12345 + k * 7) % 36000) / 100.0;
    const double pitch = static_cast<double>(k % 21 - 10) / 10.0;
    const double roll = static_cast<double>(k % 13 - 6) / 10.0;
    char text[96];
    std::snprintf(text, sizeof text, "%7.2f %7.2f %7.2f  Down        23.97          22.75      0.0\r\n", heading, pitch,
                  roll);
    return text;
}

Emission Instrument::NextStreamPart(int64_t elapsedMs) {
    if (!streaming_) {
        return {};
    }
    if (options_.floodSeconds > 0) {
        if (static_cast<double>(elapsedMs) < options_.floodSeconds * 1000.0) {
            std::string batch;
            for (int i = 0; i < kFloodBatch; ++i) {
                batch += DataRecord();
            }
            return {0, std::move(batch)};
        }
        streaming_ = false;
        return {0, Prompt()};
    }
    if (recordsSent_ < options_.pc2Records) {
        return {options_.pc2IntervalMs, DataRecord()};
    }
    streaming_ = false;
    return {options_.pc2IntervalMs, Prompt()};
}

}  // namespace hydrix::sim
