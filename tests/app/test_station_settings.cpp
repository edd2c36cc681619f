// The settings as the start-up reads them: every problem at once, in the order the
// start-up meets them, and good settings with none.
#include "app/station_settings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "app/host_settings.h"
#include "pty_helper.h"

namespace hydrix::app {
namespace {

using Kind = SettingsProblemKind;

class StationSettingsTest : public ::testing::Test {
protected:
    void WriteKey(const std::string& lines, const std::string& before = "") {
        std::ofstream(prefix_.Path() / "user.reg")
            << "WINE REGISTRY Version 2\n\n" + before +
                   "[Software\\\\Velmar Sensors\\\\Tidewise\\\\Settings] 1700000000\n" + lines;
    }
    static std::vector<std::pair<Kind, std::string>> Problems(const StationSettings& s) {
        std::vector<std::pair<Kind, std::string>> out;
        for (const SettingsProblem& p : s.problems) {
            out.emplace_back(p.kind, p.value);
        }
        return out;
    }

    hydrix::test::TempWinePrefix prefix_;
};

TEST_F(StationSettingsTest, GoodSettingsHaveNoProblem) {
    WriteKey(
        "\"ADCP COM Port\"=\"COM12\"\n\"ADCP Baud Rate\"=\"115200\"\n\"Use Software Break\"=\"0\"\n"
        "\"Current Filename Prefix\"=\"ADCP\"\n\"Current Output Directory\"=\"C:\\\\Data\"\n");
    const StationSettings s = ReadStationSettings(prefix_.Path());
    EXPECT_TRUE(s.problems.empty()) << s.ProblemText();
    EXPECT_EQ(s.file, prefix_.Path() / "user.reg");
    EXPECT_EQ(s.port, "12");
    EXPECT_EQ(s.comNumber, 12);
    EXPECT_EQ(s.baudRate, 115200);
    EXPECT_EQ(s.useSoftwareBreak, "0");
    EXPECT_EQ(s.filenamePrefix, "ADCP");
    EXPECT_EQ(s.outputDirectory, "C:\\Data");
    EXPECT_NO_THROW(s.RaiseProblems());
}

TEST_F(StationSettingsTest, EveryProblemIsListedInTheOrderTheStartUpMeetsThem) {
    // A cut-off line of the same name under another key is that key's business.
    WriteKey(
        "\"ADCP COM Port\"=\"COM70000\"\n\"ADCP Baud Rate\"=\"-9600\"\n\"Use Software Break\"=dword:1\n"
        "\"Current Filename Prefix\"=\"ADCP\n\"Current Output Directory\"=\"C:\\\\Da",
        "[Software\\\\Other] 1\n\"ADCP Baud Rate\"=\"96\n");
    const StationSettings s = ReadStationSettings(prefix_.Path());
    const std::vector<std::pair<Kind, std::string>> expected{
        {Kind::WrongType, "Use Software Break"},        {Kind::Unreadable, "Current Filename Prefix"},
        {Kind::Unreadable, "Current Output Directory"}, {Kind::BadPortNumber, "ADCP COM Port"},
        {Kind::BadBaudRate, "ADCP Baud Rate"},
    };
    EXPECT_EQ(Problems(s), expected) << s.ProblemText();
    EXPECT_FALSE(s.HostSoftwareMissing());
    EXPECT_FALSE(s.TextsRead());
    EXPECT_FALSE(s.comNumber.has_value());
    EXPECT_FALSE(s.baudRate.has_value());
    // The start-up raises the first problem's kind with all of them, one a line.
    try {
        s.RaiseProblems();
        ADD_FAILURE() << "nothing raised";
    } catch (const ERegistryException& e) {
        EXPECT_EQ(e.Message(), s.ProblemText());
        EXPECT_EQ(e.Message().rfind("Invalid data type for 'Use Software Break'\rCannot read 'Current Filename "
                                    "Prefix': ",
                                    0),
                  0u);
    }
}

TEST_F(StationSettingsTest, WithoutThePortOnlyWhatIsThereIsChecked) {
    WriteKey("\"Use Software Break\"=\"1\n");
    const StationSettings s = ReadStationSettings(prefix_.Path());
    const std::vector<std::pair<Kind, std::string>> expected{
        {Kind::HostSoftwareMissing, "ADCP COM Port"},
        {Kind::Unreadable, "Use Software Break"},
    };
    EXPECT_EQ(Problems(s), expected) << s.ProblemText();
    EXPECT_TRUE(s.HostSoftwareMissing());
}

}  // namespace
}  // namespace hydrix::app
