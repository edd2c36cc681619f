// Start-up of the station: the host software's settings, the port they name, the
// wake-up, and the failures that end the run before the sequence starts.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>

#include "app/host_settings.h"
#include "app/str_util.h"
#include "comm/dispatcher.h"
#include "comm/exceptions.h"
#include "comm/forwarding_device.h"
#include "comm/posix_port_device.h"
#include "station_test_util.h"

namespace hydrix::app::test {
namespace {

using StationStartup = StationFixture;

// The message of the exception FormCreate raises, which must be an E.
template <typename E>
std::string FormCreateRaises(Station& s) {
    try {
        s.FormCreate();
    } catch (const E& e) {
        return e.Message();
    }
    ADD_FAILURE() << "FormCreate raised nothing";
    return {};
}

TEST_F(StationStartup, PortTextLosesItsFirstThreeCharacters) {
    struct Case {
        const char* text;
        int number;
    };
    for (const Case& c : {Case{"COM1", 1}, Case{"COM10", 10}, Case{"XYZ12", 12}}) {
        SCOPED_TRACE(c.text);
        if (!std::filesystem::is_symlink(prefix_.Path() / "dosdevices" / ("com" + std::to_string(c.number)))) {
            prefix_.LinkCom(c.number, pty_.SlavePath());
        }
        WriteSettings(RegSettings::Port(c.text));
        Station& s = MakeStation();
        s.FormCreate();
        EXPECT_EQ(s.Form().Label4, std::to_string(c.number));
        EXPECT_EQ(s.ComPort1().ComNumber(), c.number);
        EXPECT_TRUE(s.ComPort1().Open());
        EXPECT_EQ(s.ComPort1().Baud(), 115200);
        EXPECT_EQ(Sent(6), "=====\r");
        EXPECT_TRUE(s.CommTimer().Enabled());
        EXPECT_EQ(s.CommTimer().Interval(), 2000u);
        EXPECT_EQ(s.Outcome(), RunOutcome::Running);
        // However it ends, the run leaves the instrument as Cancel does.
        station_.reset();
        EXPECT_EQ(Sent(18), "========\r========\r");
    }
}

TEST_F(StationStartup, BarePortNumberBecomesEmptyAndFailsAsNonInteger) {
    WriteSettings(RegSettings::Port("3"));
    Station& s = MakeStation();
    EXPECT_EQ(FormCreateRaises<EConvertError>(s), "'' is not a valid integer value");
    EXPECT_EQ(s.Outcome(), RunOutcome::ConfigurationError);
    EXPECT_EQ(s.Form().Label4, "") << "the labels are stored before the conversion";
    EXPECT_EQ(s.Form().Label10, "115200");
    EXPECT_FALSE(s.ComPort1().Open());
    EXPECT_FALSE(s.CommTimer().Enabled());
    EXPECT_EQ(s.PromptTriggerHandle(), 0);
}

TEST_F(StationStartup, BaudThatIsNotANumberStopsBeforeThePortOpens) {
    WriteSettings(RegSettings::Baud("fast"));
    Station& s = MakeStation();
    EXPECT_THROW(s.FormCreate(), EConvertError);
    EXPECT_EQ(s.ComPort1().ComNumber(), kCom);
    EXPECT_FALSE(s.ComPort1().Open());
    EXPECT_EQ(SentSoFar(), "");
}

TEST_F(StationStartup, ValueOfAnotherTypeRaisesInvalidDataType) {
    WriteUserReg(KeyHeader() + "\"ADCP COM Port\"=\"COM7\"\n\"ADCP Baud Rate\"=dword:0001c200\n");
    Station& s = MakeStation();
    EXPECT_EQ(FormCreateRaises<ERegistryException>(s), "Invalid data type for 'ADCP Baud Rate'");
    EXPECT_EQ(s.Outcome(), RunOutcome::ConfigurationError);
    EXPECT_FALSE(s.ComPort1().Open());
}

TEST_F(StationStartup, ExpandableStringsAndMissingValuesRead) {
    // Only the port is required; a missing value reads as "", so the baud rate fails.
    WriteUserReg(KeyHeader() + "\"ADCP COM Port\"=str(2):\"COM7\"\n");
    Station& s = MakeStation();
    EXPECT_EQ(FormCreateRaises<EConvertError>(s), "'' is not a valid integer value");
    EXPECT_EQ(s.Form().Label4, "7");
    EXPECT_EQ(s.UseSoftwareBreak(), "");
}

TEST_F(StationStartup, MissingKeyOrPortValueShowsMessageAndClosesLaterWithoutThePort) {
    const std::string file = (prefix_.Path() / "user.reg").string();
    for (const std::string& reg : {std::string(), KeyHeader() + "\"ADCP Baud Rate\"=\"115200\"\n"}) {
        SCOPED_TRACE(reg.empty() ? "no user.reg" : "no port value");
        // The message goes on to name the file looked at and what was wrong with it.
        const std::string detail = reg.empty() ? file + ": the file does not exist"
                                               : file +
                                                     ": no value \"ADCP COM Port\" in the key "
                                                     "\"\\Software\\Velmar Sensors\\Tidewise\\Settings\"";
        if (reg.empty()) {
            std::filesystem::remove(prefix_.Path() / "user.reg");
        } else {
            WriteUserReg(reg);
        }
        ui_->ClearMessages();
        view_ = RecordingView();
        Station& s = MakeStation();
        s.FormCreate();
        ASSERT_EQ(ui_->Messages().size(), 1u);
        EXPECT_EQ(ui_->Messages()[0], std::string(kTidewiseRequiredText) + "\rSettings file " + detail);
        EXPECT_EQ(ui_->Icons()[0], platform::MessageIcon::Error);
        EXPECT_EQ(s.Outcome(), RunOutcome::ConfigurationError);
        EXPECT_FALSE(s.Closed()) << "the window stays until the delayed close";
        EXPECT_TRUE(s.regtimer().Enabled());
        EXPECT_EQ(s.regtimer().Interval(), 500u);
        EXPECT_FALSE(s.CommTimer().Enabled());
        EXPECT_TRUE(Pump([&] { return s.Closed(); }, 3000));
        EXPECT_EQ(view_.closes, 1);
        EXPECT_FALSE(s.ComPort1().Open());
        // Cancel in that window does not send anything to the unconfigured port either.
        s.Button1Click();
        EXPECT_FALSE(s.ComPort1().Open());
        EXPECT_EQ(SentSoFar(), "");
        station_.reset();
    }
}

TEST_F(StationStartup, MissingPortDeviceIsAPortError) {
    WriteSettings(RegSettings::Port("COM42"));
    std::filesystem::create_directories(prefix_.Path() / "nothing");
    std::filesystem::create_symlink(prefix_.Path() / "nothing" / "tty", prefix_.Path() / "dosdevices" / "com42");
    Station& s = MakeStation();
    EXPECT_THROW(s.FormCreate(), comm::ECommException);
    EXPECT_EQ(s.Outcome(), RunOutcome::PortError);
    EXPECT_FALSE(s.CommTimer().Enabled());
    EXPECT_EQ(s.Form().lblSerial, "unknown");
    // Told once, by the exception that left start-up: nothing queued opens the port again.
    platform::MessageLoop::Instance().ProcessMessages();
    EXPECT_TRUE(ui_->Reports().empty()) << ui_->Reports().front();
    EXPECT_FALSE(s.ComPort1().Open());
    // Cancel closes the window without touching the port.
    EXPECT_NO_THROW(s.Button1Click());
    EXPECT_TRUE(s.Closed());
    EXPECT_EQ(view_.closes, 1);
    EXPECT_EQ(s.Outcome(), RunOutcome::PortError);
    platform::MessageLoop::Instance().ProcessMessages();
    EXPECT_TRUE(ui_->Reports().empty());
    EXPECT_TRUE(ui_->Messages().empty());
}

// Records the line functions the station asks for, on a real device.
class RecordingDevice : public hydrix::test::ForwardingDevice {
public:
    struct Codes {
        std::mutex lock;
        std::vector<int> codes;
    };
    // Shared: the station, and so the device, may outlive a failed case.
    explicit RecordingDevice(std::shared_ptr<Codes> codes)
        : ForwardingDevice(std::make_unique<comm::PosixPortDevice>()), codes_(std::move(codes)) {}
    int Escape(int code) override {
        {
            std::lock_guard guard(codes_->lock);
            codes_->codes.push_back(code);
        }
        return ForwardingDevice::Escape(code);
    }

private:
    std::shared_ptr<Codes> codes_;
};

TEST_F(StationStartup, SoftwareBreakUnlessTheSettingIsExactlyZero) {
    struct Case {
        const char* setting;
        bool hardware;
    };
    for (const Case& c : {Case{"1", false}, Case{"yes", false}, Case{"", false}, Case{"00", false}, Case{"0", true}}) {
        SCOPED_TRACE(std::string("Use Software Break=") + c.setting);
        WriteSettings(RegSettings::Break(c.setting));
        Station& s = MakeStation();
        auto recorded = std::make_shared<RecordingDevice::Codes>();
        bool made = false;
        s.ComPort1().SetDispatcherFactory([&](comm::CustomComPort& port) {
            made = true;
            return std::make_unique<comm::BaseDispatcher>(&port, std::make_unique<RecordingDevice>(recorded),
                                                          port.Clock());
        });
        s.FormCreate();
        ASSERT_TRUE(made);
        auto breaks = [&] {
            std::lock_guard guard(recorded->lock);
            return std::count(recorded->codes.begin(), recorded->codes.end(), comm::kSetBreak);
        };
        if (c.hardware) {
            EXPECT_EQ(breaks(), 1);
            EXPECT_EQ(SentSoFar(), "");
        } else {
            EXPECT_EQ(breaks(), 0);
            EXPECT_EQ(Sent(6), "=====\r");
        }
        // Cancel: the longer text twice, or the break again.
        s.Button1Click();
        EXPECT_TRUE(s.Closed());
        EXPECT_EQ(s.Outcome(), RunOutcome::Cancelled);
        if (c.hardware) {
            EXPECT_EQ(breaks(), 2);
            EXPECT_EQ(SentSoFar(), "");
        } else {
            EXPECT_EQ(Sent(18), "========\r========\r");
        }
        station_.reset();
    }
}

}  // namespace
}  // namespace hydrix::app::test
