// Malformed host software settings (user.reg) at the station level: whatever the file
// holds, the run ends with a message to the operator and the configuration exit status,
// without a crash and without touching a serial port it was not told to use.
#include <string>

#include <nlohmann/json.hpp>

#include "app/headless_runner.h"
#include "app/report.h"
#include "app/station_test_util.h"

namespace hydrix::app::test {
namespace {

struct BadReg {
    const char* name;
    std::string body;  // the file after Wine's signature lines
    int status;
    std::string message;  // the first message starts with this

    friend void PrintTo(const BadReg& c, std::ostream* os) { *os << c.name; }
};

const std::string kKey = "[Software\\\\Velmar Sensors\\\\Tidewise\\\\Settings] 1700000000\n";
const std::string kRest =
    "\"ADCP Baud Rate\"=\"115200\"\n\"Use Software Break\"=\"1\"\n\"Current Filename Prefix\"=\"ADCP\"\n"
    "\"Current Output Directory\"=\"/tmp\"\n";

std::vector<BadReg> Cases() {
    const std::string huge(2u << 20, '7');
    return {
        {"BadEscapeInPort", kKey + "\"ADCP COM Port\"=\"COM\\q7\n" + kRest, kExitConfiguration, kTidewiseRequiredText},
        {"PortAsDword", kKey + "\"ADCP COM Port\"=dword:00000007\n" + kRest, kExitConfiguration,
         "Invalid data type for 'ADCP COM Port'"},
        {"BaudAsHex", kKey + "\"ADCP COM Port\"=\"COM7\"\n\"ADCP Baud Rate\"=hex:31,31\n", kExitConfiguration,
         "Invalid data type for 'ADCP Baud Rate'"},
        {"TruncatedBaudLine", kKey + "\"ADCP COM Port\"=\"COM7\"\n\"ADCP Baud Rate\"=\"1152", kExitConfiguration,
         "Cannot read 'ADCP Baud Rate': "},
        {"TruncatedPortName", kKey + "\"ADCP COM Po", kExitConfiguration, kTidewiseRequiredText},
        {"HeaderWithoutBracket",
         "[Software\\\\Velmar Sensors\\\\Tidewise\\\\Settings 1700000000\n\"ADCP COM Port\"=\"COM7\"\n" + kRest,
         kExitConfiguration, kTidewiseRequiredText},
        {"HugePortValue", kKey + "\"ADCP COM Port\"=\"COM" + huge + "\"\n" + kRest, kExitConfiguration,
         kTidewiseRequiredText},
        {"HugeNumberInPort", kKey + "\"ADCP COM Port\"=\"COM" + huge.substr(0, 4000) + "\"\n" + kRest,
         kExitConfiguration, "'" + huge.substr(0, 4000) + "' is not a valid integer value"},
        {"PortNumberPastTheRange", kKey + "\"ADCP COM Port\"=\"COM65543\"\n" + kRest, kExitConfiguration,
         "'65543' is not a valid port number"},
        {"NegativePortNumber", kKey + "\"ADCP COM Port\"=\"COM-65529\"\n" + kRest, kExitConfiguration,
         "'-65529' is not a valid port number"},
        {"NulBytes", kKey + std::string("\"ADCP COM Port\"=\"CO\0M7\"\n", 24) + kRest, kExitConfiguration, ""},
    };
}

class BadSettings : public StationFixture, public ::testing::WithParamInterface<BadReg> {};

TEST_P(BadSettings, EndsWithAMessageAndTheConfigurationStatus) {
    const BadReg& c = GetParam();
    WriteUserReg(c.body);
    const std::string reportFile = (prefix_.Path() / "report.json").string();
    HeadlessRunner runner(RunOptions{prefix_.Path(), reportFile});
    EXPECT_EQ(runner.Run(), c.status);
    const nlohmann::json j = nlohmann::json::parse(ReadFile(reportFile));
    ASSERT_FALSE(j["messages"].empty());
    EXPECT_EQ(j["messages"][0].get<std::string>().rfind(c.message, 0), 0u) << j["messages"][0];
    EXPECT_TRUE(j["capture_file"].is_null());
    // The fixture's COM7 saw nothing: no wake-up went to a port by mistake.
    EXPECT_EQ(SentSoFar(), "");
}

INSTANTIATE_TEST_SUITE_P(UserReg, BadSettings, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// A file that is not Wine's registry at all (no signature; binary noise).
class NoiseFile : public StationFixture {};

TEST_F(NoiseFile, IsAConfigurationError) {
    std::string noise;
    for (int i = 0; i < 65536; ++i) {
        noise.push_back(static_cast<char>((i * 7919) & 0xFF));
    }
    std::ofstream(prefix_.Path() / "user.reg", std::ios::binary) << noise;
    const std::string reportFile = (prefix_.Path() / "report.json").string();
    HeadlessRunner runner(RunOptions{prefix_.Path(), reportFile});
    EXPECT_EQ(runner.Run(), kExitConfiguration);
    const nlohmann::json j = nlohmann::json::parse(ReadFile(reportFile));
    EXPECT_EQ(j["messages"], nlohmann::json::array({std::string(kTidewiseRequiredText) + "\rSettings file " +
                                                    (prefix_.Path() / "user.reg").string() +
                                                    ": not a Wine registry file (first line is not \"WINE "
                                                    "REGISTRY Version 2\")"}));
}

}  // namespace
}  // namespace hydrix::app::test
