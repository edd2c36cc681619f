// Who else holds a serial device. Linux enforces no exclusive use, so before the serial
// device opens a port it takes the UUCP lock file (LCK..name, as minicom and picocom write
// them) and, once it has the device, looks for other processes with it open (/proc).
// While it holds the port it keeps the lock file, flocked, so that a contender started
// at the same moment sees it held and never takes it for stale.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hydrix::platform {

struct PortHolder {
    int Pid = 0;           // 0: a lock file that names no process
    std::string Program;   // /proc/PID/comm; empty where it cannot be read
    std::string LockFile;  // the lock file that names the holder, if that is how it was found
    // "PID 1234 (minicom)"; found through a lock file "PID 1234 (minicom), lock file
    // /run/lock/LCK..ttyS0" (the PID may since belong to another program: the file is what
    // to remove then), or "lock file /run/lock/LCK..ttyS0" when it names no process.
    std::string Describe() const;
};

// The folders searched for lock files and written to, process-wide; /var/lock and
// /run/lock unless set. A folder that is missing or read-only is passed over.
std::vector<std::string> LockFolders();
// Returns the folders in force before.
std::vector<std::string> SetLockFolders(std::vector<std::string> folders);

// Another process that has the character device `device` open. This process never
// counts (its own descriptors are its own business; a second port on the same device is
// kept out by flock). For a pseudo-terminal slave, a process that holds the master is the
// far end of the line and does not count either, whatever else it holds.
std::optional<PortHolder> FindOtherOpener(dev_t device, const std::string& procRoot = "/proc");

// FindOtherOpener for the holder of the device's flock: a process that lets the device go
// within a moment was only contending for it (it opened the device, then found the flock
// taken) and does not count; a program that uses the port keeps it open.
std::optional<PortHolder> FindLastingOpener(dev_t device);

// The pseudo-terminal index of a slave device number (/dev/pts/N gives N), or -1.
int PtySlaveIndex(dev_t device);

// The holder of a live lock file for lockName in the lock folders, looked at without
// taking or removing anything (a stale one stays for the next opener to remove).
std::optional<PortHolder> FindLockHolder(const std::string& lockName);

// "LCK..ttyUSB0" for /dev/ttyUSB0 or a link to it: the device file's own name.
std::string LockFileName(const std::string& devicePath);

// The lock file this process keeps while it holds a port. The file is flocked for as long
// as the lock is held, so a process that finds it flocked knows it taken, whatever it
// reads in it; under the flock the PID is read, and written, and the file removed.
class PortLock {
public:
    PortLock() = default;
    ~PortLock() { Release(); }
    PortLock(const PortLock&) = delete;
    PortLock& operator=(const PortLock&) = delete;

    // Takes the lock in the first lock folder where the file can be written (none: no lock,
    // no error) and looks at the lock files in the others. Returns the holder when one is
    // held: flocked by another lock (the holder is the PID it names, waited for a moment,
    // also when that is this process: another of its ports), or naming a live process
    // other than this one, or naming no process at all. A lock that nobody flocks and whose
    // process is gone (or was an earlier process with this PID) is stale and taken over.
    std::optional<PortHolder> Acquire(const std::string& lockName);
    // Removes the lock this object holds, if any.
    void Release();
    // The lock file held, or empty.
    const std::string& Path() const { return path_; }

private:
    enum class Claim : uint8_t { Taken, Held, Unwritable };
    Claim TakeIn(const std::string& path, std::optional<PortHolder>& holder);

    std::string path_;
    int fd_ = -1;
};

}  // namespace hydrix::platform
