#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "eventually.h"
#include "pty_helper.h"
#include "sim/line_driver.h"
#include "sim/sim_device.h"
#include "sim/sim_pty.h"
#include "sim_test_util.h"

namespace hydrix::sim {
namespace {

namespace fs = std::filesystem;
using test::Answer;
using test::FixedClock;
using test::kStationSequence;

// The station's side of the line: the pty slave opened as a serial port would be.
class StationEnd {
public:
    explicit StationEnd(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_GE(fd_, 0) << path;
        termios t{};
        ::tcgetattr(fd_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd_, TCSANOW, &t);
    }
    ~StationEnd() { Close(); }
    void Close() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = -1;
    }
    void Send(const std::string& text) { ASSERT_EQ(::write(fd_, text.data(), text.size()), ssize_t(text.size())); }
    // Reads until the data ends with a prompt or timeoutMs pass.
    std::string ReadReply(int timeoutMs = 5000) {
        std::string out;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.empty() || out.back() != '>') {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                break;
            }
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n > 0) {
                out.append(buffer, static_cast<size_t>(n));
            }
        }
        return out;
    }

private:
    int fd_ = -1;
};

// LineDriver::Run on its own thread; stopped and joined at the end in any case.
class DriverThread {
public:
    DriverThread(LineDriver& driver)
        : driver_(driver), thread_([this] {
              rc_ = driver_.Run();
              done_ = true;
          }) {}
    ~DriverThread() {
        driver_.Stop();
        thread_.join();
    }
    // True once Run returned, waiting at most timeoutMs.
    bool WaitDone(int timeoutMs = 5000) {
        for (int waited = 0; !done_ && waited < timeoutMs; waited += 10) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return done_;
    }
    int Result() const { return rc_; }

private:
    LineDriver& driver_;
    std::atomic<int> rc_{1};
    std::atomic<bool> done_{false};
    std::thread thread_;
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class SimPtyTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("hydrix-sim-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path dir_;
};

TEST_F(SimPtyTest, StationSequenceOverThePtyMatchesTheScriptAndTheRecord) {
    for (bool byteWrites : {false, true}) {
        SCOPED_TRACE(byteWrites ? "byte writes" : "whole writes");
        SimOptions options = FixedClock();
        options.failCount = 1;
        options.byteWrites = byteWrites;
        options.delayMs = byteWrites ? 20 : 0;
        options.recordFile = (dir_ / "record.bin").string();

        Instrument script(options);
        std::string expected;
        for (const std::string& command : kStationSequence) {
            expected += Answer(script, command);
        }

        hydrix::test::PtyPair pty;
        Instrument instrument(options);
        LineDriver driver(instrument, pty.MasterFd(), options);
        DriverThread thread(driver);
        StationEnd station(pty.SlavePath());
        std::string got;
        for (const std::string& command : kStationSequence) {
            station.Send(command);
            const std::string reply = station.ReadReply();
            ASSERT_FALSE(reply.empty()) << command;
            ASSERT_EQ(reply.back(), '>') << command;
            got += reply;
        }
        EXPECT_EQ(got, expected);

        station.Close();
        pty.CloseSlave();
        ASSERT_TRUE(thread.WaitDone()) << "the hang-up ends the run";
        EXPECT_EQ(thread.Result(), 0);
        EXPECT_EQ(driver.BytesSent(), expected.size());
        EXPECT_EQ(ReadFile(options.recordFile), expected);
    }
}

TEST_F(SimPtyTest, FloodEndsWithAPrompt) {
    SimOptions options = FixedClock();
    options.floodSeconds = 0.3;
    hydrix::test::PtyPair pty;
    Instrument instrument(options);
    LineDriver driver(instrument, pty.MasterFd(), options);
    DriverThread thread(driver);
    StationEnd station(pty.SlavePath());
    station.Send("=====\r");
    station.ReadReply();
    station.Send("PC2\r");
    const std::string stream = station.ReadReply(10000);
    ASSERT_FALSE(stream.empty());
    EXPECT_EQ(stream.back(), '>');
    EXPECT_EQ(std::count(stream.begin(), stream.end(), '>'), 1);
    EXPECT_GT(std::count(stream.begin(), stream.end(), '\n'), 16);
}

TEST_F(SimPtyTest, WaitsForTheStationAndEndsWhenItCloses) {
    SimPty pty;
    ASSERT_EQ(pty.Open(), 0) << pty.Error();
    SimOptions options = FixedClock();
    options.wakeOnOpen = true;
    options.keepOpen = true;
    Instrument instrument(options);
    LineDriver driver(instrument, pty.MasterFd(), options);
    DriverThread thread(driver);
    for (int run = 0; run < 2; ++run) {
        // A station that reopens before the simulator saw the hang-up would find it
        // still in the old session.
        for (int waited = 0; driver.HangUps() < run && waited < 5000; waited += 10) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_EQ(driver.HangUps(), run);
        StationEnd station(pty.SlavePath());
        const std::string banner = station.ReadReply();
        EXPECT_NE(banner.find("[BREAK Wakeup A]"), std::string::npos) << "run " << run;
        station.Send("CR1\r");
        EXPECT_EQ(station.ReadReply(), "CR1\r\n[Parameters set to FACTORY defaults]\r\n>");
    }
    EXPECT_FALSE(thread.WaitDone(50)) << "keep-open waits for the next station";

    SimPty once;
    ASSERT_EQ(once.Open(), 0);
    options.keepOpen = false;
    Instrument second(options);
    LineDriver secondDriver(second, once.MasterFd(), options);
    DriverThread secondThread(secondDriver);
    {
        StationEnd station(once.SlavePath());
        EXPECT_EQ(station.ReadReply().back(), '>');
    }
    ASSERT_TRUE(secondThread.WaitDone());
    EXPECT_EQ(secondThread.Result(), 0);
}

TEST_F(SimPtyTest, StopEndsAWaitForTheStation) {
    SimPty pty;
    ASSERT_EQ(pty.Open(), 0);
    Instrument instrument(FixedClock());
    LineDriver driver(instrument, pty.MasterFd(), FixedClock());
    DriverThread thread(driver);
    EXPECT_FALSE(thread.WaitDone(50));
    driver.Stop();
    ASSERT_TRUE(thread.WaitDone());
    EXPECT_EQ(thread.Result(), 0);
}

TEST_F(SimPtyTest, PlaysOnAnExistingDeviceFromWhatComesAfterItOpened) {
    // The pty's slave stands in for the device, its master for the station's end.
    hydrix::test::PtyPair line;
    ASSERT_TRUE(line.WriteMaster("=====\r"));
    ASSERT_TRUE(hydrix::test::Eventually([&] {
        int waiting = 0;
        return ::ioctl(line.SlaveFd(), FIONREAD, &waiting) == 0 && waiting > 0;
    })) << "the early wake-up never reached the device";

    SimDevice device;
    ASSERT_EQ(device.Open(line.SlavePath(), 9600), 0) << device.Error();
    const SimOptions options = FixedClock();
    Instrument instrument(options);
    LineDriver driver(instrument, device.Fd(), options);
    DriverThread thread(driver);

    Instrument script(options);
    const std::string banner = Answer(script, "=====\r");
    const std::string reply = Answer(script, "CR1\r");
    // Had the wake-up sent before the open been kept, a second banner would come first.
    ASSERT_TRUE(line.WriteMaster("=====\r"));
    EXPECT_EQ(line.ReadMaster(banner.size()), banner);
    ASSERT_TRUE(line.WriteMaster("CR1\r"));
    EXPECT_EQ(line.ReadMaster(reply.size()), reply);
    EXPECT_FALSE(thread.WaitDone(50)) << "a device has no station hang-up to end on";
}

TEST_F(SimPtyTest, DeviceNeedsAStandardRate) {
    hydrix::test::PtyPair line;
    SimDevice device;
    EXPECT_EQ(device.Open(line.SlavePath(), 12345), -EINVAL);
    EXPECT_NE(device.Error().find("12345"), std::string::npos) << device.Error();
    EXPECT_EQ(device.Open("/dev/hydrix-no-such-tty", 9600), -ENOENT);
}

TEST_F(SimPtyTest, UnwritableRecordFileIsAnError) {
    hydrix::test::PtyPair pty;
    SimOptions options = FixedClock();
    options.recordFile = (dir_ / "missing" / "record.bin").string();
    Instrument instrument(options);
    LineDriver driver(instrument, pty.MasterFd(), options);
    EXPECT_LT(driver.Run(), 0);
    EXPECT_NE(driver.Error().find("record.bin"), std::string::npos);
}

TEST_F(SimPtyTest, ComLinkPointsThePortAtThePty) {
    hydrix::test::TempWinePrefix prefix;
    const fs::path com7 = prefix.Path() / "dosdevices" / "com7";
    fs::create_symlink("/dev/null", com7);
    {
        ComLink link;
        ASSERT_EQ(link.Create(prefix.Path(), 7, "/dev/pts/999"), 0) << link.Error();
        EXPECT_EQ(fs::read_symlink(com7), "/dev/pts/999") << "an older link is replaced";
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(com7))) << "removed at the end";

    {
        ComLink link;
        ASSERT_EQ(link.Create(prefix.Path(), 7, "/dev/pts/999"), 0);
        fs::remove(com7);
        fs::create_symlink("/dev/pts/5", com7);
    }
    EXPECT_EQ(fs::read_symlink(com7), "/dev/pts/5") << "someone else's link stays";

    std::ofstream(prefix.Path() / "dosdevices" / "com8") << "file";
    ComLink refused;
    EXPECT_EQ(refused.Create(prefix.Path(), 8, "/dev/pts/999"), -EEXIST);
    EXPECT_NE(refused.Error().find("com8"), std::string::npos);
    EXPECT_TRUE(fs::is_regular_file(prefix.Path() / "dosdevices" / "com8"));
}

}  // namespace
}  // namespace hydrix::sim
