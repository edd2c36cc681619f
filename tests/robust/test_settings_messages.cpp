// What the built station says about settings and devices it cannot use: the settings
// file it looked at and what was wrong there, the value that cannot be used, and for a
// COM link that leads to no serial device the port, the device and what it is instead.
// Each ends before anything reaches the line.
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/report.h"
#include "app/station.h"
#include "app/station_test_util.h"
#include "station_process.h"

namespace hydrix::app::test {
namespace {

namespace fs = std::filesystem;
constexpr int kDeadlineMs = 20000;

class StationExe : public StationFixture {
protected:
    // Runs the built station to its end against the prefix (default: the fixture's).
    robust::StationProcess& Run(const fs::path& prefix = {}) {
        process_ = std::make_unique<robust::StationProcess>(prefix.empty() ? prefix_.Path() : prefix, prefix_.Path(),
                                                            "station");
        EXPECT_TRUE(process_->WaitExit(kDeadlineMs)) << "the station did not end";
        return *process_;
    }
    // The run ended with status and the one message, and the line saw nothing.
    void ExpectEnded(int status, const std::string& message) {
        EXPECT_EQ(process_->ExitStatus(), status) << process_->Stderr();
        EXPECT_EQ(process_->Report()["messages"], nlohmann::json::array({message}));
        EXPECT_EQ(SentSoFar(), "");
    }
    std::string File() const { return (prefix_.Path() / "user.reg").string(); }
    // The value lines of the fixture's settings, outDir's line cut after `dir`.
    std::string ValueLines(const std::string& baud, const std::string& dirLine) const {
        return "\"ADCP COM Port\"=\"COM7\"\n\"ADCP Baud Rate\"=\"" + baud +
               "\"\n\"Use Software Break\"=\"1\"\n\"Current Filename Prefix\"=\"ADCP\"\n" + dirLine;
    }

    std::unique_ptr<robust::StationProcess> process_;
};

class MissingSettings;

struct MissingCase {
    const char* name;
    std::function<void(MissingSettings&, fs::path& prefix)> setUp;
    std::function<std::string(const fs::path& prefix)> detail;  // after "Settings file <prefix>/user.reg: "

    friend void PrintTo(const MissingCase& c, std::ostream* os) { *os << c.name; }
};

class MissingSettings : public StationExe, public ::testing::WithParamInterface<MissingCase> {
public:
    void WriteReg(const std::string& body) { WriteUserReg(KeyHeader() + body); }
};

// The Tidewise message is kept; a line names the file looked at and what was wrong.
TEST_P(MissingSettings, NamesTheFileAndWhatWasWrong) {
    fs::path prefix = prefix_.Path();
    GetParam().setUp(*this, prefix);
    Run(prefix);
    ExpectEnded(kExitConfiguration, std::string(kTidewiseRequiredText) + "\rSettings file " +
                                        (prefix / "user.reg").string() + ": " + GetParam().detail(prefix));
    EXPECT_EQ(process_->Report()["outcome"], "configuration-error");
}

std::vector<MissingCase> MissingCases() {
    return {
        {"NoUserReg", [](MissingSettings&, fs::path&) {}, [](const fs::path&) { return "the file does not exist"; }},
        {"PrefixPointsAtNothing", [](MissingSettings&, fs::path& prefix) { prefix /= "nowhere"; },
         [](const fs::path& prefix) { return "the Wine prefix " + prefix.string() + " does not exist"; }},
        {"Corrupt",
         [](MissingSettings&, fs::path& prefix) {
             std::string noise;
             for (int i = 0; i < 4096; ++i) {
                 noise.push_back(static_cast<char>((i * 7919) & 0xFF));
             }
             std::ofstream(prefix / "user.reg", std::ios::binary) << noise;
         },
         [](const fs::path&) { return "not a Wine registry file (first line is not \"WINE REGISTRY Version 2\")"; }},
        {"TruncatedInThePortLine", [](MissingSettings& t, fs::path&) { t.WriteReg("\"ADCP COM Po"); },
         [](const fs::path&) {
             return "no value \"ADCP COM Port\" in the key \"\\Software\\Velmar Sensors\\Tidewise\\Settings\" "
                    "(line 7: value skipped: closing \" missing)";
         }},
        {"SeventyMegabytes",
         [](MissingSettings& t, fs::path& prefix) {
             t.WriteReg("\"ADCP COM Port\"=\"COM7\"\n");
             // Sparse: the size is what counts, the disk holds next to nothing.
             fs::resize_file(prefix / "user.reg", 70u << 20);
         },
         [](const fs::path&) {
             return "the file has 73400320 bytes, more than the 64 MiB (67108864 bytes) a settings file may have";
         }},
    };
}

INSTANTIATE_TEST_SUITE_P(Station, MissingSettings, ::testing::ValuesIn(MissingCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// A value the file holds but cut off (the file ends inside it) is no empty value: the
// capture would otherwise go to C:\ and the run pass.
TEST_F(StationExe, CutOffValueIsAConfigurationErrorNamingIt) {
    WriteUserReg(KeyHeader() + ValueLines("115200", "\"Current Output Directory\"=\"" + outDir_.string()));
    Run();
    ExpectEnded(kExitConfiguration, "Cannot read 'Current Output Directory': " + File() +
                                        " line 11: value \"Current Output Directory\" skipped: closing \" missing");
    EXPECT_EQ(process_->Report()["outcome"], "configuration-error");
}

// Zero failed only at the device ("Invalid argument"); a negative rate reached the line
// as 4294957696 baud.
TEST_F(StationExe, BaudRateThatIsNotPositiveIsAConfigurationError) {
    for (const std::string baud : {"0", "-9600"}) {
        SCOPED_TRACE("baud " + baud);
        WriteSettings(RegSettings::Baud(baud));
        Run();
        ExpectEnded(kExitConfiguration,
                    "'" + baud + "' is not a valid baud rate ('ADCP Baud Rate' must be a positive whole number)");
    }
}

// The message names the port and the device and says what the device is; the error
// code and the exit status stay those of a port that cannot be opened.
TEST_F(StationExe, ComLinkToWhatIsNoSerialDeviceSaysWhatItIs) {
    WriteSettings({});
    const fs::path link = prefix_.Path() / "dosdevices" / "com7";
    const fs::path file = prefix_.Path() / "file";
    std::ofstream(file) << "not a tty\n";
    struct Case {
        fs::path target;
        std::string what;
    };
    const std::string port = "Cannot open COM7 (" + link.string() + "): ";
    for (const Case& c : {Case{file, fs::canonical(file).string() + " is a regular file, not a serial device"},
                          Case{outDir_, fs::canonical(outDir_).string() + " is a folder, not a serial device"},
                          Case{"/dev/null", "/dev/null is not a serial device (it has no terminal settings)"},
                          Case{link, "the link is a loop (it leads back to itself), not a serial device"}}) {
        SCOPED_TRACE(c.target.string());
        prefix_.LinkCom(kCom, c.target.string());
        Run();
        ExpectEnded(kExitPort, port + c.what);
        EXPECT_EQ(process_->Report()["outcome"], "port-error");
    }
}

}  // namespace
}  // namespace hydrix::app::test
