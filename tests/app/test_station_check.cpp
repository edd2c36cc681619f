// hydrix --check: what a run would use and every problem in its way, found without a
// byte sent or a setting changed on the line.
#include <termios.h>

#include <filesystem>
#include <fstream>

#include "app/report.h"
#include "app/station_check.h"
#include "app/station_test_util.h"
#include "platform/holder_process.h"

namespace hydrix::app::test {
namespace {

class Check : public StationFixture {
protected:
    bool Lists(const StationCheck& c, const std::string& text) const {
        for (const std::string& line : c.lines) {
            if (line.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
};

TEST_F(Check, GoodSettingsCanStartAndTheLineIsLeftAsItWas) {
    WriteSettings({});
    termios before{};
    ASSERT_EQ(::tcgetattr(pty_.MasterFd(), &before), 0);
    const StationCheck c = CheckStation(prefix_.Path());
    EXPECT_EQ(c.status, kExitFinished) << c.Text();
    EXPECT_TRUE(c.problems.empty()) << c.Text();
    EXPECT_TRUE(Lists(c, "Settings:  " + (prefix_.Path() / "user.reg").string()));
    EXPECT_TRUE(Lists(c, "  ADCP COM Port            port 7"));
    EXPECT_TRUE(Lists(c, "  ADCP Baud Rate           \"115200\""));
    EXPECT_TRUE(Lists(c, "  Use Software Break       \"1\" -> wakes with the text \"=====\" and a return"));
    EXPECT_TRUE(Lists(c, "Port:      COM7 is " + (prefix_.Path() / "dosdevices" / "com7").string() +
                             ", which leads to " + pty_.SlavePath()));
    EXPECT_TRUE(Lists(c, "Device:    a serial device, free, and it can be opened"));
    EXPECT_TRUE(Lists(c, "Output:    " + outDir_.string() + "/ (a file can be created there)"));
    EXPECT_TRUE(std::filesystem::is_empty(outDir_)) << "the trial file is gone";
    EXPECT_EQ(pty_.ReadMaster(4096, 0), "") << "nothing was sent";
    termios after{};
    ASSERT_EQ(::tcgetattr(pty_.MasterFd(), &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_NE(c.Text().find("A run can start."), std::string::npos);
}

TEST_F(Check, EverySettingsProblemIsListedNotOnlyTheFirst) {
    RegSettings s = RegSettings::Baud("fast");
    s.outputDir = (prefix_.Path() / "missing").string();
    WriteSettings(s);
    const StationCheck c = CheckStation(prefix_.Path());
    EXPECT_EQ(c.status, kExitConfiguration);
    ASSERT_EQ(c.problems.size(), 2u) << c.Text();
    EXPECT_EQ(c.problems[0], "'fast' is not a valid integer value");
    EXPECT_EQ(c.problems[1], "The output folder " + (prefix_.Path() / "missing").string() +
                                 "/ does not exist (\"Output directory does not exist.\")");
    EXPECT_NE(c.Text().find("2 problems, a run would end with exit status 3:"), std::string::npos) << c.Text();
}

TEST_F(Check, APortHeldByAnotherProgramNamesIt) {
    WriteSettings({});
    hydrix::test::HolderProcess other(hydrix::test::HolderProcess::OpenPath(pty_.SlavePath()));
    const StationCheck c = CheckStation(prefix_.Path());
    EXPECT_EQ(c.status, kExitPort);
    ASSERT_EQ(c.problems.size(), 1u) << c.Text();
    EXPECT_NE(c.problems[0].find("the device is in use by another program, PID " + std::to_string(other.Pid())),
              std::string::npos)
        << c.problems[0];
}

TEST_F(Check, APortThatIsNoSerialDeviceSaysWhatItIs) {
    const std::filesystem::path file = prefix_.Path() / "not-a-port";
    std::ofstream(file) << "x";
    std::filesystem::remove(prefix_.Path() / "dosdevices" / "com7");
    prefix_.LinkCom(kCom, file.string());
    WriteSettings({});
    const StationCheck c = CheckStation(prefix_.Path());
    EXPECT_EQ(c.status, kExitPort);
    EXPECT_EQ(c.problems,
              std::vector<std::string>{"Cannot open COM7 (" + (prefix_.Path() / "dosdevices" / "com7").string() +
                                       "): " + file.string() + " is a regular file, not a serial device"});
}

TEST_F(Check, NoHostSoftwareSettingsIsAConfigurationProblem) {
    std::filesystem::remove(prefix_.Path() / "user.reg");
    const StationCheck c = CheckStation(prefix_.Path());
    EXPECT_EQ(c.status, kExitConfiguration);
    ASSERT_EQ(c.problems.size(), 1u) << c.Text();
    EXPECT_NE(c.problems[0].find("user.reg: the file does not exist"), std::string::npos) << c.problems[0];
}

}  // namespace
}  // namespace hydrix::app::test
