// Exclusive use against other programs: processes that hold the device open without a
// lock, and UUCP lock files, on real pseudo-terminals with lock folders made per test.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <sys/file.h>

#include "platform/fault_plan.h"
#include "platform/holder_process.h"
#include "platform/port_claim.h"
#include "platform/serial_device.h"
#include "pty_helper.h"

namespace hydrix::platform {
namespace {

namespace fs = std::filesystem;
using test::HolderProcess;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream(path) << text;
}

std::string LockText(int pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", pid);
    return text;
}

class PortClaimTest : public ::testing::Test {
protected:
    PortClaimTest() {
        std::string pattern = (fs::temp_directory_path() / "hydrix-lock-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            throw std::system_error(errno, std::generic_category(), "mkdtemp");
        }
        root_ = pattern;
        fs::create_directories(root_ / "a");
        fs::create_directories(root_ / "b");
        oldFolders_ = SetLockFolders({(root_ / "a").string(), (root_ / "b").string()});
    }
    ~PortClaimTest() override {
        SetLockFolders(oldFolders_);
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    fs::path LockIn(const char* folder) const { return root_ / folder / LockFileName(pty_.SlavePath()); }

    test::PtyPair pty_;
    test::ScopedFaultPlan plan_;
    fs::path root_;
    std::vector<std::string> oldFolders_;
};

TEST_F(PortClaimTest, LockFileIsNamedAfterTheDeviceFile) {
    EXPECT_EQ(LockFileName("/dev/ttyUSB0"), "LCK..ttyUSB0");
    test::TempWinePrefix prefix;
    prefix.LinkCom(3, pty_.SlavePath());
    const std::string name = pty_.SlavePath().substr(pty_.SlavePath().rfind('/') + 1);
    EXPECT_EQ(LockFileName((prefix.Path() / "dosdevices" / "com3").string()), "LCK.." + name)
        << "a Wine link locks the device it points at";
}

TEST_F(PortClaimTest, PtySlaveIndexIsTheNumberOfItsPath) {
    struct stat info {};
    ASSERT_EQ(::stat(pty_.SlavePath().c_str(), &info), 0);
    EXPECT_EQ(std::to_string(PtySlaveIndex(info.st_rdev)), pty_.SlavePath().substr(pty_.SlavePath().rfind('/') + 1));
    EXPECT_EQ(PtySlaveIndex(makedev(4, 64)), -1) << "ttyS0 is no pseudo-terminal";
}

TEST_F(PortClaimTest, OwnLockIsWrittenWhileOpenAndRemovedOnClose) {
    SerialDevice device;
    ASSERT_EQ(device.Open(pty_.SlavePath()), 0) << device.LastErrorText();
    EXPECT_EQ(ReadFile(LockIn("a")), LockText(::getpid()));
    EXPECT_FALSE(fs::exists(LockIn("b"))) << "one lock, in the first writable folder";
    device.Close();
    EXPECT_FALSE(fs::exists(LockIn("a")));
}

TEST_F(PortClaimTest, FailedOpenLeavesNoLock) {
    SerialDevice device;
    test::PlanFault(sys::Op::TcSetAttr, EINVAL, 1);
    EXPECT_EQ(device.Open(pty_.SlavePath()), -EINVAL);
    EXPECT_FALSE(fs::exists(LockIn("a")));
}

TEST_F(PortClaimTest, LiveLockOfAnotherProgramMeansInUse) {
    HolderProcess other(std::vector<HolderProcess::Hold>{});
    WriteFile(LockIn("b"), LockText(other.Pid()));
    SerialDevice device;
    EXPECT_EQ(device.Open(pty_.SlavePath()), -5);
    // The PID may since belong to another program: the lock file is named, so that the
    // operator can tell a stale lock and remove it.
    EXPECT_EQ(device.LastHolder(),
              "PID " + std::to_string(other.Pid()) + " (sleep), lock file " + LockIn("b").string());
    EXPECT_NE(device.LastErrorText().find(device.LastHolder()), std::string::npos) << device.LastErrorText();
    EXPECT_EQ(ReadFile(LockIn("b")), LockText(other.Pid())) << "another program's lock is left alone";
    EXPECT_FALSE(fs::exists(LockIn("a")));
}

TEST_F(PortClaimTest, StaleLockIsRemovedAndThePortTaken) {
    HolderProcess gone(std::vector<HolderProcess::Hold>{});
    const int pid = gone.Pid();
    gone.End();
    WriteFile(LockIn("b"), LockText(pid));
    SerialDevice device;
    ASSERT_EQ(device.Open(pty_.SlavePath()), 0) << device.LastErrorText();
    EXPECT_FALSE(fs::exists(LockIn("b")));
    EXPECT_EQ(ReadFile(LockIn("a")), LockText(::getpid()));
}

TEST_F(PortClaimTest, LockThatNamesNoProcessIsNamedAsTheHolder) {
    WriteFile(LockIn("a"), "uucp\n");
    SerialDevice device;
    EXPECT_EQ(device.Open(pty_.SlavePath()), -5);
    EXPECT_NE(device.LastErrorText().find(LockIn("a").string()), std::string::npos) << device.LastErrorText();
}

TEST_F(PortClaimTest, MissingOrReadOnlyLockFoldersAreNoError) {
    SetLockFolders({(root_ / "missing").string()});
    SerialDevice device;
    ASSERT_EQ(device.Open(pty_.SlavePath()), 0) << device.LastErrorText();
    device.Close();

    // Read-only (root writes anyway, so the refusal is injected as the kernel gives it).
    SetLockFolders({(root_ / "a").string()});
    test::PlanFault(sys::Op::LockFile, EROFS, 1);
    ASSERT_EQ(device.Open(pty_.SlavePath()), 0) << device.LastErrorText();
    EXPECT_FALSE(fs::exists(LockIn("a")));
}

TEST_F(PortClaimTest, AnotherProcessHoldingTheDeviceMeansInUse) {
    auto other = std::make_unique<HolderProcess>(HolderProcess::OpenPath(pty_.SlavePath()));
    SerialDevice device;
    EXPECT_EQ(device.Open(pty_.SlavePath()), -5);
    const std::string named = "PID " + std::to_string(other->Pid()) + " (sleep)";
    EXPECT_NE(device.LastErrorText().find(named), std::string::npos) << device.LastErrorText();
    EXPECT_EQ(device.LastHolder(), named);
    EXPECT_FALSE(fs::exists(LockIn("a"))) << "a refused open writes no lock";

    other.reset();
    EXPECT_EQ(device.Open(pty_.SlavePath()), 0) << "the holder gone, the port is free";
}

TEST_F(PortClaimTest, FarEndHoldingTheMasterIsNoCompetitor) {
    // As the simulator does; here the far end holds the slave as well, as openpty leaves it.
    HolderProcess farEnd({HolderProcess::Descriptor(pty_.MasterFd()), HolderProcess::OpenPath(pty_.SlavePath())});
    SerialDevice device;
    EXPECT_EQ(device.Open(pty_.SlavePath()), 0) << device.LastErrorText();
}

TEST_F(PortClaimTest, ThisProcessNeverCompetesWithItself) {
    // The fixture's pty keeps its slave open in this process; a second port on the same
    // device is kept out by flock all the same.
    SerialDevice first;
    ASSERT_EQ(first.Open(pty_.SlavePath()), 0) << first.LastErrorText();
    struct stat info {};
    ASSERT_EQ(::stat(pty_.SlavePath().c_str(), &info), 0);
    EXPECT_FALSE(FindOtherOpener(info.st_rdev).has_value());
    SerialDevice second;
    EXPECT_EQ(second.Open(pty_.SlavePath()), -5);
    EXPECT_EQ(ReadFile(LockIn("a")), LockText(::getpid())) << "the refused second open keeps the first's lock";
}

// Left over from an earlier process that had this PID: nobody holds it, so it is stale.
TEST_F(PortClaimTest, LeftoverLockNamingThisProcessIsTakenOver) {
    WriteFile(LockIn("a"), LockText(::getpid()));
    WriteFile(LockIn("b"), LockText(::getpid()));
    SerialDevice device;
    ASSERT_EQ(device.Open(pty_.SlavePath()), 0) << device.LastErrorText();
    EXPECT_EQ(ReadFile(LockIn("a")), LockText(::getpid()));
    EXPECT_FALSE(fs::exists(LockIn("b")));
    device.Close();
    EXPECT_FALSE(fs::exists(LockIn("a")));
}

// Another port of this process holds the lock: the file names this very PID, yet it is
// not stale. Taking it over (and removing it when the second port gave up) would leave
// the first port holding the device with no lock for other programs to see.
TEST_F(PortClaimTest, LockOfAnotherPortOfThisProcessIsHeld) {
    PortLock first;
    ASSERT_FALSE(first.Acquire("LCK..race"));
    const fs::path path = root_ / "a" / "LCK..race";
    PortLock second;
    const auto holder = second.Acquire("LCK..race");
    ASSERT_TRUE(holder.has_value());
    EXPECT_EQ(holder->Pid, ::getpid());
    EXPECT_EQ(holder->LockFile, path.string());
    second.Release();
    EXPECT_EQ(ReadFile(path), LockText(::getpid())) << "the first port's lock stays";
    first.Release();
    EXPECT_FALSE(fs::exists(path));
}

// A lock file held (flocked) by a contender that has not yet written its PID, or is
// taking over a stale one: never taken, never removed from under it.
TEST_F(PortClaimTest, LockHeldByAContenderIsNeverTakenOver) {
    HolderProcess gone(std::vector<HolderProcess::Hold>{});
    const int stalePid = gone.Pid();
    gone.End();
    for (const std::string& text : {std::string(), LockText(stalePid)}) {
        SCOPED_TRACE("lock text '" + text + "'");
        WriteFile(LockIn("a"), text);
        const int held = ::open(LockIn("a").c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(held, 0);
        ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
        SerialDevice device;
        EXPECT_EQ(device.Open(pty_.SlavePath()), -5);
        EXPECT_EQ(device.LastHolder(), "lock file " + LockIn("a").string()) << "no live PID appeared in it";
        EXPECT_EQ(ReadFile(LockIn("a")), text);
        ::close(held);
    }
}

}  // namespace
}  // namespace hydrix::platform
