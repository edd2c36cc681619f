#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "eventually.h"
#include "platform/fault_plan.h"
#include "platform/serial_device.h"
#include "platform/sys_call.h"
#include "pty_helper.h"

namespace hydrix::platform {
namespace {

using namespace std::chrono_literals;
using sys::Op;

using test::Calls;
using test::Eventually;
using test::PlanFault;
using test::ResetCalls;

class SerialDeviceTest : public ::testing::Test {
protected:
    test::PtyPair pty_;
    test::ScopedFaultPlan plan_;
};

// Runs WaitEvent in a loop on its own thread, as the com thread does, recording every
// result until a wait ends with 0 or an error.
class EventWaiter {
public:
    explicit EventWaiter(SerialDevice& device) : device_(device), thread_([this] { Run(); }) {}
    ~EventWaiter() {
        device_.SetEventMask(0);
        thread_.join();
    }

    bool WaitForCount(size_t count, std::chrono::milliseconds timeout = 3000ms) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return results_.size() >= count; });
    }
    std::vector<int> Results() {
        std::lock_guard lock(mutex_);
        return results_;
    }

private:
    void Run() {
        for (;;) {
            uint32_t events = 0;
            const int r = device_.WaitEvent(events);
            {
                std::lock_guard lock(mutex_);
                results_.push_back(r);
                if (r > 0) {
                    EXPECT_EQ(static_cast<uint32_t>(r), events);
                }
            }
            changed_.notify_all();
            if (r <= 0) {
                return;
            }
        }
    }

    SerialDevice& device_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int> results_;
    std::thread thread_;
};

std::string Pattern(size_t size, int seed) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        s[i] = static_cast<char>((i * 7 + seed) % 251);
    }
    return s;
}

// A line as a real tty opens: canonical, echoing, output processed.
void MakeCooked(int fd) {
    termios t{};
    ::tcgetattr(fd, &t);
    t.c_lflag |= ICANON | ECHO | ECHOE | ISIG;
    t.c_oflag |= OPOST | ONLCR;
    t.c_iflag |= ICRNL;
    ::tcsetattr(fd, TCSANOW, &t);
}

// While the port is being claimed (its flock comes first), looks at the line's settings and
// has the far end send a line, which the driver takes in before the claim goes on.
struct ClaimWindow {
    static inline std::string path;
    static inline int masterFd = -1;
    static inline std::atomic<int> sawRaw{-1};

    static int Hook(Op op) {
        if (op != Op::Flock || sawRaw != -1) {
            return 0;
        }
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios t{};
        ::tcgetattr(fd, &t);
        sawRaw = (t.c_lflag & (ICANON | ECHO)) == 0 ? 1 : 0;
        if (::write(masterFd, "early\n", 6) == 6) {
            const auto deadline = std::chrono::steady_clock::now() + 2s;
            int waiting = 0;
            while (::ioctl(fd, FIONREAD, &waiting) == 0 && waiting == 0 &&
                   std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(1ms);
            }
        }
        ::close(fd);
        return 0;
    }
};

TEST_F(SerialDeviceTest, LineIsRawFromTheOpenAndEarlyInputIsDropped) {
    MakeCooked(pty_.SlaveFd());
    ClaimWindow::path = pty_.SlavePath();
    ClaimWindow::masterFd = pty_.MasterFd();
    ClaimWindow::sawRaw = -1;
    SerialDevice device;
    {
        sys::ScopedFaultHook hook(ClaimWindow::Hook);
        ASSERT_EQ(device.Open(pty_.SlavePath()), 0) << device.LastErrorText();
    }
    EXPECT_EQ(ClaimWindow::sawRaw, 1) << "the line was still canonical and echoing while the port was claimed";
    // An echo of the early line would have reached the far end before this byte.
    ASSERT_EQ(device.Write("Z", 1), 1);
    EXPECT_EQ(pty_.ReadMaster(1), "Z");
    ASSERT_TRUE(pty_.WriteMaster("late"));
    ASSERT_TRUE(Eventually([&] { return device.InQueue() == 4; })) << "early input kept: " << device.InQueue();
    char buffer[16] = {};
    EXPECT_EQ(device.Read(buffer, sizeof buffer), 4);
}

TEST_F(SerialDeviceTest, PortFoundInUseKeepsItsHoldersSettings) {
    const int holder = ::open(pty_.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(holder, 0);
    MakeCooked(holder);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    termios before{};
    ::tcgetattr(holder, &before);

    SerialDevice device;
    EXPECT_EQ(device.Open(pty_.SlavePath()), -5);
    termios after{};
    ::tcgetattr(holder, &after);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    ::close(holder);
}

TEST_F(SerialDeviceTest, ReadingAHungUpTtyEndsTheLine) {
    // A hung-up tty (a USB adapter pulled out) reads end-of-file rather than failing.
    SerialDevice device;
    ASSERT_EQ(device.Open(pty_.SlavePath()), 0);
    if (::ioctl(pty_.SlaveFd(), TIOCVHANGUP) != 0) {
        GTEST_SKIP() << "hanging up a tty needs CAP_SYS_ADMIN";
    }
    char c;
    EXPECT_EQ(device.Read(&c, 1), -EIO);
    EXPECT_TRUE(device.HungUp());
    device.SetEventMask(kEvRxChar | kEvErr);
    EventWaiter waiter(device);
    ASSERT_TRUE(waiter.WaitForCount(1));
    EXPECT_EQ(waiter.Results()[0], static_cast<int>(kEvErr));
}

TEST_F(SerialDeviceTest, ComNameResolvesThroughWinePrefixThenTtyS) {
    test::TempWinePrefix prefix;
    prefix.LinkCom(7, pty_.SlavePath());
    const std::string link = (prefix.Path() / "dosdevices" / "com7").string();
    EXPECT_EQ(SerialDevice::ComPortPath(7), link);
    EXPECT_EQ(SerialDevice::ResolveDeviceName("COM7"), link);
    EXPECT_EQ(SerialDevice::ResolveDeviceName("\\\\.\\COM7"), link);
    EXPECT_EQ(SerialDevice::ComPortPath(3), "/dev/ttyS2");
    EXPECT_EQ(SerialDevice::ResolveDeviceName("/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(SerialDevice::ResolveDeviceName("COMX"), "COMX");

    SerialDevice device;
    ASSERT_EQ(device.Open("COM7"), 0) << device.LastErrorText();
    EXPECT_TRUE(device.IsOpen());
    ASSERT_TRUE(pty_.WriteMaster("ping"));
    ASSERT_TRUE(Eventually([&] { return device.InQueue() == 4; }));
    char buffer[8] = {};
    EXPECT_EQ(device.Read(buffer, sizeof buffer), 4);
    EXPECT_EQ(std::string(buffer, 4), "ping");
}

TEST_F(SerialDeviceTest, MissingDeviceDoesNotExist) {
    test::TempWinePrefix prefix;
    // A configured link to an unplugged adapter must not fall back to /dev/ttyS.
    prefix.LinkCom(4, (prefix.Path() / "no-such-tty").string());
    SerialDevice device;
    EXPECT_EQ(device.Open("COM4"), -2);
    EXPECT_NE(device.LastErrorText().find("COM4"), std::string::npos) << device.LastErrorText();
    EXPECT_EQ(device.Open("/dev/hydrix-no-such-tty"), -2);
    EXPECT_FALSE(device.IsOpen());
}

TEST_F(SerialDeviceTest, SecondOpenerSeesPortInUse) {
    SerialDevice first;
    SerialDevice second;
    ASSERT_EQ(first.Open(pty_.SlavePath()), 0);
    EXPECT_EQ(second.Open(pty_.SlavePath()), -5);
    EXPECT_NE(second.LastErrorText().find("in use"), std::string::npos) << second.LastErrorText();
    EXPECT_EQ(first.Close(), 0);
    EXPECT_EQ(second.Open(pty_.SlavePath()), 0) << "closing releases the lock";
}

TEST_F(SerialDeviceTest, OpenErrorsMapToPortCodes) {
    struct Case {
        Op op;
        int err;
        int code;
    };
    // EIO, ENXIO and ENODEV on open or on the first tcgetattr: a device file with no
    // hardware behind it (ttyS1 on most PCs) does not exist; EIO must not read as -5.
    for (const Case& c : {Case{Op::Open, ENOENT, -2}, Case{Op::Open, ENODEV, -2}, Case{Op::Open, ENXIO, -2},
                          Case{Op::Open, EIO, -2}, Case{Op::TcGetAttr, EIO, -2}, Case{Op::TcGetAttr, ENXIO, -2},
                          Case{Op::TcGetAttr, ENODEV, -2}, Case{Op::Open, EBUSY, -5}, Case{Op::Flock, EWOULDBLOCK, -5},
                          Case{Op::Ioctl, EBUSY, -5}, Case{Op::Open, EACCES, -13}, Case{Op::Open, EPERM, -13},
                          Case{Op::Open, EMFILE, -EMFILE}, Case{Op::TcSetAttr, EIO, -2}}) {
        SerialDevice device;
        PlanFault(c.op, c.err, 1);
        EXPECT_EQ(device.Open(pty_.SlavePath()), c.code) << "errno " << c.err;
        EXPECT_FALSE(device.IsOpen());
        EXPECT_FALSE(device.LastErrorText().empty());
        PlanFault(Op::Open, 0, 0);
        EXPECT_EQ(device.Open(pty_.SlavePath()), 0) << "a failed open leaves nothing locked";
    }
}

TEST_F(SerialDeviceTest, OnlyABusyDeviceReadsAsInUse) {
    for (const Op op : {Op::Open, Op::TcGetAttr, Op::TcSetAttr}) {
        for (int err = 1; err < 134; ++err) {
            if (err == EINTR || err == EBUSY || err == EWOULDBLOCK) {
                continue;
            }
            SerialDevice device;
            PlanFault(op, err, 1);
            EXPECT_NE(device.Open(pty_.SlavePath()), -5) << "op " << static_cast<int>(op) << " errno " << err;
        }
    }
}

TEST_F(SerialDeviceTest, DeviceWithoutHardwareDoesNotExist) {
    SerialDevice device;
    PlanFault(Op::Open, EIO, 1);
    EXPECT_EQ(device.Open(pty_.SlavePath()), -2);
    EXPECT_NE(device.LastErrorText().find("does not exist"), std::string::npos) << device.LastErrorText();
    EXPECT_TRUE(device.LastHolder().empty());
}

TEST_F(SerialDeviceTest, NoPermissionNamesDeviceAndDialoutGroup) {
    SerialDevice device;
    PlanFault(Op::Open, EACCES, 1);
    EXPECT_EQ(device.Open(pty_.SlavePath()), -13);
    const std::string& text = device.LastErrorText();
    EXPECT_NE(text.find(pty_.SlavePath()), std::string::npos) << text;
    EXPECT_NE(text.find("dialout"), std::string::npos) << text;
    EXPECT_EQ(text.find("in use"), std::string::npos) << text;
}

TEST_F(SerialDeviceTest, BytesBothWaysKeepTheirOrder) {
    SerialDevice device;
    ASSERT_EQ(device.Open(pty_.SlavePath()), 0);
    const std::string toDevice = Pattern(20000, 1);
    const std::string fromDevice = Pattern(20000, 2);

    auto masterWriter = std::async(std::launch::async, [&] { return pty_.WriteMaster(toDevice, 10000); });
    auto masterReader = std::async(std::launch::async, [&] { return pty_.ReadMaster(fromDevice.size(), 10000); });

    // Output: Write never blocks; when the driver is full, wait for room.
    size_t sent = 0;
    while (sent < fromDevice.size()) {
        const int n = device.Write(fromDevice.data() + sent, fromDevice.size() - sent);
        ASSERT_GE(n, 0);
        sent += static_cast<size_t>(n);
        if (n == 0) {
            ASSERT_GE(device.WaitWritable(5000), 0);
        }
    }

    // Input the way the com thread takes it: wait for an event, read what is there. A
    // watchdog ends the wait should the bytes never come.
    std::string received;
    device.SetEventMask(kEvRxChar);
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 1000 && !done; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        device.SetEventMask(0);
    });
    char buffer[1024];
    while (received.size() < toDevice.size()) {
        int n;
        while ((n = device.Read(buffer, sizeof buffer)) > 0) {
            received.append(buffer, static_cast<size_t>(n));
        }
        EXPECT_EQ(n, 0);
        if (n < 0 || received.size() == toDevice.size()) {
            break;
        }
        uint32_t events = 0;
        if (device.WaitEvent(events) <= 0) {
            break;
        }
        EXPECT_EQ(events, kEvRxChar);
    }
    done = true;
    watchdog.join();

    EXPECT_TRUE(masterWriter.get());
    EXPECT_EQ(received.size(), toDevice.size());
    EXPECT_TRUE(received == toDevice) << "input reordered or corrupted";
    const std::string echoed = masterReader.get();
    EXPECT_EQ(echoed.size(), fromDevice.size());
    EXPECT_TRUE(echoed == fromDevice) << "output reordered or corrupted";
}

TEST_F(SerialDeviceTest, WriteNeverBlocksAndWaitWritableCanBeCancelled) {
    SerialDevice device;
    ASSERT_EQ(device.Open(pty_.SlavePath()), 0);
    pty_.StopOutput(true);
    EXPECT_EQ(device.Write("abc", 3), 0) << "output stopped: nothing taken, without blocking";
    EXPECT_EQ(device.WaitWritable(20), 0);

    auto wait = std::async(std::launch::async, [&] { return device.WaitWritable(60000); });
    ASSERT_TRUE(Eventually([&] { return device.BlockedWaits() == 1; })) << "the wait never blocked";
    device.CancelWriteWait();
    ASSERT_EQ(wait.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(wait.get(), 0);

    // A cancel made while nobody waits ends the next wait (the purge may come first).
    device.CancelWriteWait();
    EXPECT_EQ(device.WaitWritable(60000), 0);

    pty_.StopOutput(false);
    EXPECT_EQ(device.WaitWritable(5000), 1);
    EXPECT_EQ(device.Write("abc", 3), 3);
    EXPECT_EQ(pty_.ReadMaster(3), "abc");
}

TEST_F(SerialDeviceTest, WriterFacingARefusingDriverDoesNotSpin) {
    // A pseudo-terminal can report "writable" while its writes still fail with EAGAIN.
    // Injected here for every write: an output loop of write and wait must not turn into a
    // busy loop.
    SerialDevice device;
    ASSERT_EQ(device.Open(pty_.SlavePath()), 0);
    PlanFault(Op::Write, EAGAIN, 1 << 30);
    std::atomic<int> rounds{0};
    auto writer = std::async(std::launch::async, [&] {
        for (;;) {
            const int n = device.Write("data", 4);
            if (n != 0) {
                return n;
            }
            rounds.fetch_add(1);
            if (device.WaitWritable(60000) == 0) {
                return 0;
            }
        }
    });
    ASSERT_TRUE(Eventually([&] { return rounds.load() > 0; })) << "the writer never ran";
    const int before = rounds.load();
    std::this_thread::sleep_for(300ms);
    EXPECT_LT(rounds.load() - before, 100) << "the writer spins on a refusing driver";
    device.CancelWriteWait();
    ASSERT_EQ(writer.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(writer.get(), 0);
}

TEST_F(SerialDeviceTest, RxReportedOncePerArrivalAndUnreadBytesDoNotSpin) {
    SerialDevice device;
    ASSERT_EQ(device.Open(pty_.SlavePath()), 0);
    device.SetEventMask(kEvRxChar | kEvErr);
    EventWaiter waiter(device);

    ASSERT_TRUE(pty_.WriteMaster("abc"));
    ASSERT_TRUE(waiter.WaitForCount(1));
    EXPECT_EQ(waiter.Results()[0], static_cast<int>(kEvRxChar));

    // Nobody reads: the bytes stay in the driver and must not be reported again, nor may
    // the wait turn into a busy loop.
    ResetCalls();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(waiter.Results().size(), 1u);
    EXPECT_LT(Calls(Op::Poll), 100) << "the wait spins on unread bytes";

    ASSERT_TRUE(pty_.WriteMaster("d"));
    ASSERT_TRUE(waiter.WaitForCount(2));
    EXPECT_EQ(waiter.Results()[1], static_cast<int>(kEvRxChar)) << "new bytes behind unread ones";

    // Partly read, then more: still one report per arrival.
    char buffer[8] = {};
    ASSERT_EQ(device.Read(buffer, 2), 2);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(waiter.Results().size(), 2u) << "a read is not an arrival";
    ASSERT_TRUE(pty_.WriteMaster("e"));
    ASSERT_TRUE(waiter.WaitForCount(3));
    EXPECT_EQ(waiter.Results()[2], static_cast<int>(kEvRxChar));
    ASSERT_TRUE(Eventually([&] { return device.InQueue() == 3; }));
    ASSERT_EQ(device.Read(buffer + 2, sizeof buffer - 2), 3);
    EXPECT_EQ(std::string(buffer, 5), "abcde");

    device.SetEventMask(0);
    ASSERT_TRUE(waiter.WaitForCount(4));
    EXPECT_EQ(waiter.Results()[3], 0);
}

TEST_F(SerialDeviceTest, MaskZeroEndsWaitFromAnotherThread) {
    SerialDevice device;
    ASSERT_EQ(device.Open(pty_.SlavePath()), 0);
    device.SetEventMask(kEvRxChar | kEvErr);
    EventWaiter waiter(device);
    ASSERT_TRUE(Eventually([&] { return device.BlockedWaits() == 1; })) << "the wait never blocked";
    EXPECT_TRUE(waiter.Results().empty());
    device.SetEventMask(0);
    ASSERT_TRUE(waiter.WaitForCount(1, 5000ms));
    EXPECT_EQ(waiter.Results()[0], 0);

    uint32_t events = 1;
    EXPECT_EQ(device.WaitEvent(events), 0) << "no events asked for: nothing to wait for";
    EXPECT_EQ(events, 0u);
}

TEST_F(SerialDeviceTest, CloseEndsPendingWaits) {
    SerialDevice device;
    ASSERT_EQ(device.Open(pty_.SlavePath()), 0);
    device.SetEventMask(kEvRxChar);
    pty_.StopOutput(true);
    auto event = std::async(std::launch::async, [&] {
        uint32_t events;
        return device.WaitEvent(events);
    });
    auto writable = std::async(std::launch::async, [&] { return device.WaitWritable(60000); });
    ASSERT_TRUE(Eventually([&] { return device.BlockedWaits() == 2; })) << "the waits never blocked";
    EXPECT_EQ(device.Close(), 0);
    ASSERT_EQ(event.wait_for(5s), std::future_status::ready);
    ASSERT_EQ(writable.wait_for(5s), std::future_status::ready);
    EXPECT_LE(event.get(), 0);
    EXPECT_LE(writable.get(), 0);
    EXPECT_FALSE(device.IsOpen());
    char c;
    EXPECT_EQ(device.Read(&c, 1), -EBADF);
}

TEST_F(SerialDeviceTest, HangUpReportedOnceThenWaitsSleep) {
    SerialDevice device;
    ASSERT_EQ(device.Open(pty_.SlavePath()), 0);
    device.SetEventMask(kEvRxChar | kEvErr);
    EventWaiter waiter(device);
    ASSERT_TRUE(Eventually([&] { return device.BlockedWaits() == 1; })) << "the wait never blocked";
    pty_.CloseMaster();
    ASSERT_TRUE(waiter.WaitForCount(1));
    EXPECT_EQ(waiter.Results()[0], static_cast<int>(kEvErr));

    ResetCalls();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(waiter.Results().size(), 1u) << "hang-up reported more than once";
    EXPECT_LT(Calls(Op::Poll), 20) << "the wait spins after a hang-up";

    char c;
    EXPECT_EQ(device.Read(&c, 1), -EIO);
    device.SetEventMask(0);
    ASSERT_TRUE(waiter.WaitForCount(2));
    EXPECT_EQ(waiter.Results()[1], 0);
}

TEST_F(SerialDeviceTest, InterruptedCallsAreRetried) {
    SerialDevice device;
    PlanFault(Op::Open, EINTR, 2);
    ASSERT_EQ(device.Open(pty_.SlavePath()), 0);

    ASSERT_TRUE(pty_.WriteMaster("xyz"));
    ASSERT_TRUE(Eventually([&] { return device.InQueue() == 3; }));
    PlanFault(Op::Read, EINTR, 3);
    char buffer[8] = {};
    EXPECT_EQ(device.Read(buffer, sizeof buffer), 3);
    EXPECT_EQ(std::string(buffer, 3), "xyz");

    PlanFault(Op::Write, EINTR, 3);
    EXPECT_EQ(device.Write("uvw", 3), 3);
    EXPECT_EQ(pty_.ReadMaster(3), "uvw");

    PlanFault(Op::Poll, EINTR, 5);
    device.SetEventMask(kEvRxChar);
    EventWaiter waiter(device);
    ASSERT_TRUE(Eventually([&] { return device.BlockedWaits() == 1; })) << "the wait never reached its poll";
    ASSERT_TRUE(pty_.WriteMaster("q"));
    ASSERT_TRUE(waiter.WaitForCount(1));
    EXPECT_EQ(waiter.Results()[0], static_cast<int>(kEvRxChar));
}

TEST_F(SerialDeviceTest, WouldBlockAndIoErrorsFromTheDriver) {
    SerialDevice device;
    ASSERT_EQ(device.Open(pty_.SlavePath()), 0);
    PlanFault(Op::Write, EAGAIN, 1);
    EXPECT_EQ(device.Write("a", 1), 0) << "a full driver takes nothing, without blocking";
    char c;
    EXPECT_EQ(device.Read(&c, 1), 0) << "nothing there: no blocking, no error";

    // An I/O error on read is a hang-up: reported once as an error event.
    PlanFault(Op::Read, EIO, 1);
    EXPECT_EQ(device.Read(&c, 1), -EIO);
    device.SetEventMask(kEvRxChar | kEvErr);
    EventWaiter waiter(device);
    ASSERT_TRUE(waiter.WaitForCount(1));
    EXPECT_EQ(waiter.Results()[0], static_cast<int>(kEvErr));
}

TEST_F(SerialDeviceTest, PurgeDropsInputAndNextArrivalIsReported) {
    SerialDevice device;
    ASSERT_EQ(device.Open(pty_.SlavePath()), 0);
    device.SetEventMask(kEvRxChar);
    EventWaiter waiter(device);
    ASSERT_TRUE(pty_.WriteMaster("12345"));
    ASSERT_TRUE(waiter.WaitForCount(1));
    ASSERT_TRUE(Eventually([&] { return device.InQueue() == 5; }));

    EXPECT_EQ(device.Purge(true, false), 0);
    EXPECT_EQ(device.InQueue(), 0);
    char buffer[8];
    EXPECT_EQ(device.Read(buffer, sizeof buffer), 0);

    // Fewer bytes than were there before the purge are still new bytes.
    ASSERT_TRUE(pty_.WriteMaster("6"));
    ASSERT_TRUE(waiter.WaitForCount(2));
    EXPECT_EQ(waiter.Results()[1], static_cast<int>(kEvRxChar));
    ASSERT_TRUE(Eventually([&] { return device.InQueue() == 1; }));
    EXPECT_EQ(device.Read(buffer, sizeof buffer), 1);
    EXPECT_EQ(buffer[0], '6');

    EXPECT_EQ(device.Purge(false, true), 0);
    EXPECT_EQ(device.Purge(true, true), 0);
    EXPECT_EQ(device.OutQueue(), 0);
}

TEST_F(SerialDeviceTest, StateWrittenReadsBack) {
    SerialDevice device;
    ASSERT_EQ(device.Open(pty_.SlavePath()), 0);
    DeviceState state;
    ASSERT_EQ(device.GetState(state), 0);
    EXPECT_EQ(state.ByteSize, 8);
    EXPECT_EQ(state.Parity, DeviceState::NoParity);

    // Pseudo-terminals keep speed, stop bits and flow flags (not size or parity).
    DeviceState custom;
    custom.BaudRate = 250000;
    custom.StopBits = DeviceState::TwoStopBits;
    custom.OutxCtsFlow = true;
    custom.RtsControl = DeviceState::RtsHandshake;
    custom.OutX = true;
    custom.InX = true;
    custom.XonChar = 1;
    custom.XoffChar = 2;
    custom.XonLim = 512;
    custom.XoffLim = 1024;
    custom.DtrControl = DeviceState::DtrHandshake;
    custom.OutxDsrFlow = true;
    ASSERT_EQ(device.SetState(custom), 0) << "what Linux cannot do is accepted";
    DeviceState back;
    ASSERT_EQ(device.GetState(back), 0);
    EXPECT_EQ(back, custom);

    DeviceState standard;
    standard.BaudRate = 9600;
    ASSERT_EQ(device.SetState(standard), 0);
    ASSERT_EQ(device.GetState(back), 0);
    EXPECT_EQ(back, standard) << "a standard rate after a custom one";

    DeviceState bad;
    bad.ByteSize = 9;
    EXPECT_EQ(device.SetState(bad), -EINVAL);
    ASSERT_EQ(device.GetState(back), 0);
    EXPECT_EQ(back, standard);
}

TEST_F(SerialDeviceTest, RtsToggleWithoutDriverRs485IsRecordedAndIgnored) {
    // Pseudo-terminals (and most USB adapters) refuse the RS-485 ioctls with ENOTTY.
    SerialDevice device;
    ASSERT_EQ(device.Open(pty_.SlavePath()), 0);
    DeviceState toggle;
    toggle.RtsControl = DeviceState::RtsToggle;
    toggle.DtrControl = DeviceState::DtrHandshake;  // no other ioctl than the RS-485 ones
    const int ioctlsBefore = Calls(Op::Ioctl);
    ASSERT_EQ(device.SetState(toggle), 0);
    EXPECT_GT(Calls(Op::Ioctl), ioctlsBefore) << "the driver was asked";
    DeviceState back;
    ASSERT_EQ(device.GetState(back), 0);
    EXPECT_EQ(back.RtsControl, DeviceState::RtsToggle);
    DeviceState plain;
    EXPECT_EQ(device.SetState(plain), 0) << "leaving the mode is no error either";
}

TEST_F(SerialDeviceTest, PseudoTerminalHasNoModemLinesOrCounters) {
    SerialDevice device;
    ASSERT_EQ(device.Open(pty_.SlavePath()), 0);
    EXPECT_EQ(device.ModemStatus(), 0);
    for (int code : {kSetRts, kClrRts, kSetDtr, kClrDtr}) {
        EXPECT_EQ(device.EscapeFunction(code), 0) << code;
    }
    EXPECT_EQ(device.EscapeFunction(99), -EINVAL);
    EXPECT_EQ(device.SetBreak(true), 0);
    EXPECT_EQ(device.SetBreak(false), 0);
    EXPECT_EQ(device.TakeLineErrors(), 0u);

    device.Close();
    EXPECT_EQ(device.ModemStatus(), -EBADF);
    DeviceState state;
    EXPECT_EQ(device.GetState(state), -EBADF);
    EXPECT_EQ(device.SetState(state), -EBADF);
}

}  // namespace
}  // namespace hydrix::platform
