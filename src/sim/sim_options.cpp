#include "sim/sim_options.h"

#include <charconv>
#include <cstdlib>

namespace hydrix::sim {
namespace {

bool ParseInt(const std::string& text, int low, int high, int& out) {
    int value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || value < low || value > high) {
        return false;
    }
    out = value;
    return true;
}

bool ParseSeconds(const std::string& text, double& out) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !(value >= 0) || value > 86400) {
        return false;
    }
    out = value;
    return true;
}

bool IsDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

// "PT200:2,PA:1"
bool ParseFailList(const std::string& text, std::vector<FailingTest>& out) {
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(',', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string item = text.substr(start, end - start);
        const std::size_t colon = item.find(':');
        if (colon == std::string::npos) {
            return false;
        }
        FailingTest entry{Upper(item.substr(0, colon)), 0};
        if ((entry.command != "PT200" && entry.command != "PA") ||
            !ParseInt(item.substr(colon + 1), 1, 1000, entry.index)) {
            return false;
        }
        out.push_back(entry);
        start = end + 1;
    }
    return true;
}

}  // namespace

std::string SimUsage() {
    return "usage: adcp-sim [options]\n"
           "Plays an ADCP instrument on a pseudo-terminal (or a serial device); prints the\n"
           "line's path, then answers the station until the line hangs up or SIGTERM.\n"
           "  --serial TEXT          serial number in the PS0 listing (default 1234)\n"
           "  --clock TEXT           fixed clock report, yy/mm/dd,hh:mm:ss.ff (default: host time)\n"
           "  --no-serial            PS0 lists no serial number\n"
           "  --no-clock             Ts? answers with an error, no clock report\n"
           "  --variant NAME         a firmware variant: clock-without-dash, frequency-six-blanks,\n"
           "                         double-prompt, serial-changes (may be given again)\n"
           "  --fail N               the last N self-tests report FAIL\n"
           "  --fail CMD:I[,CMD:I]   these self-tests report FAIL (CMD is PT200 or PA, I from 1)\n"
           "  --silent-after CMD[:N] go silent on the N-th CMD (a command, or 'break')\n"
           "  --delay-ms MS          pause before each reply\n"
           "  --byte-writes          write one byte at a time\n"
           "  --pc2-records N        PC2 data records (default 10)\n"
           "  --pc2-interval-ms MS   pause between PC2 records (default 100)\n"
           "  --flood-seconds S      PC2 streams as fast as possible for S seconds\n"
           "  --wake-on-open         wake up when the line is opened (hardware-break stations)\n"
           "  --keep-open            after a hang-up wait for the next opener\n"
           "  --record FILE          write every byte sent to FILE\n"
           "  --link-com N           link $WINEPREFIX/dosdevices/comN to the terminal\n"
           "  --device PATH          play on this serial device instead of a terminal\n"
           "  --baud RATE            the device's rate (default 115200)\n"
           "  --verbose              log the line on standard error\n";
}

namespace {

bool TakesValue(const std::string& name) {
    return name == "--serial" || name == "--clock" || name == "--record" || name == "--fail" ||
           name == "--silent-after" || name == "--delay-ms" || name == "--pc2-records" || name == "--pc2-interval-ms" ||
           name == "--flood-seconds" || name == "--link-com" || name == "--device" || name == "--baud" ||
           name == "--variant";
}

// Sets the switch that name stands for; false for a name that is none.
bool ApplySwitch(const std::string& name, ParseResult& result) {
    SimOptions& o = result.options;
    if (name == "--help" || name == "-h") {
        result.help = true;
    } else if (name == "--no-serial") {
        o.noSerial = true;
    } else if (name == "--no-clock") {
        o.noClock = true;
    } else if (name == "--byte-writes") {
        o.byteWrites = true;
    } else if (name == "--wake-on-open") {
        o.wakeOnOpen = true;
    } else if (name == "--keep-open") {
        o.keepOpen = true;
    } else if (name == "--verbose") {
        o.verbose = true;
    } else {
        return false;
    }
    return true;
}

std::string ApplyVariant(const std::string& v, SimOptions& o) {
    if (v == "clock-without-dash") {
        o.clockWithoutDash = true;
    } else if (v == "frequency-six-blanks") {
        o.frequencySixBlanks = true;
    } else if (v == "double-prompt") {
        o.doublePrompt = true;
    } else if (v == "serial-changes") {
        o.serialChanges = true;
    } else {
        return "expected clock-without-dash, frequency-six-blanks, double-prompt or serial-changes";
    }
    return "";
}

// Sets the option that takes a value; what is wrong with v, or empty.
std::string ApplyValue(const std::string& name, std::string v, SimOptions& o) {
    if (name == "--serial") {
        o.serial = v;
    } else if (name == "--clock") {
        o.clock = v;
    } else if (name == "--record") {
        if (v.empty()) {
            return "file name missing";
        }
        o.recordFile = v;
    } else if (name == "--fail") {
        if (IsDigits(v)) {
            if (!ParseInt(v, 0, 1000, o.failCount)) {
                return "count out of range";
            }
        } else if (!ParseFailList(v, o.fails)) {
            return "expected a count or a list like PT200:2,PA:1";
        }
    } else if (name == "--silent-after") {
        const std::size_t colon = v.rfind(':');
        if (colon != std::string::npos && IsDigits(v.substr(colon + 1))) {
            if (!ParseInt(v.substr(colon + 1), 1, 1000, o.silentOccurrence)) {
                return "bad occurrence";
            }
            v.resize(colon);
        }
        if (v.empty()) {
            return "command missing";
        }
        o.silentAfter = v;
    } else if (name == "--delay-ms") {
        if (!ParseInt(v, 0, 600000, o.delayMs)) {
            return "expected 0..600000";
        }
    } else if (name == "--pc2-records") {
        if (!ParseInt(v, 0, 10000000, o.pc2Records)) {
            return "expected 0..10000000";
        }
    } else if (name == "--pc2-interval-ms") {
        if (!ParseInt(v, 0, 600000, o.pc2IntervalMs)) {
            return "expected 0..600000";
        }
    } else if (name == "--flood-seconds") {
        if (!ParseSeconds(v, o.floodSeconds)) {
            return "expected seconds, 0..86400";
        }
    } else if (name == "--link-com") {
        if (!ParseInt(v, 1, 255, o.linkCom)) {
            return "expected a port number 1..255";
        }
    } else if (name == "--variant") {
        return ApplyVariant(v, o);
    } else if (name == "--device") {
        if (v.empty()) {
            return "device path missing";
        }
        o.device = v;
    } else if (name == "--baud") {
        if (!ParseInt(v, 50, 4000000, o.baud)) {
            return "expected a rate, 50..4000000";
        }
    }
    return "";
}

}  // namespace

ParseResult ParseSimOptions(const std::vector<std::string>& args) {
    ParseResult result;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (const std::size_t eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        auto fail = [&](const std::string& why) {
            result.error = name + ": " + why;
            return result;
        };
        const bool takesValue = TakesValue(name);
        if (inlineValue && !takesValue) {
            return fail("takes no value");
        }
        if (ApplySwitch(name, result)) {
            continue;
        }
        if (!takesValue) {
            return fail("unknown option");
        }
        if (!inlineValue && i + 1 >= args.size()) {
            return fail("value missing");
        }
        const std::string why = ApplyValue(name, inlineValue ? *inlineValue : args[++i], result.options);
        if (!why.empty()) {
            return fail(why);
        }
    }
    // The link names the station's end of a pseudo-terminal; a device's far end is not known.
    if (result.options.linkCom > 0 && !result.options.device.empty()) {
        result.error = "--link-com: not with --device";
    }
    return result;
}

}  // namespace hydrix::sim
