// Who else holds a serial device. Linux enforces no exclusive use, so before the serial
// device takes a port it looks for other processes with the same device open (/proc) and
// for live UUCP lock files (LCK..name, as minicom and picocom write them); while it holds
// the port it keeps a lock file of its own.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace hydrix::platform {

struct PortHolder {
    int Pid = 0;           // 0: a lock file that names no process
    std::string Program;   // /proc/PID/comm; empty where it cannot be read
    std::string LockFile;  // the lock file that names the holder, if that is how it was found
    // "PID 1234 (minicom)", or the lock file when it names no process.
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

// The pseudo-terminal index of a slave device number (/dev/pts/N gives N), or -1.
int PtySlaveIndex(dev_t device);

// "LCK..ttyUSB0" for /dev/ttyUSB0 or a link to it: the device file's own name.
std::string LockFileName(const std::string& devicePath);

// The lock file this process writes while it holds a port.
class PortLock {
public:
    PortLock() = default;
    ~PortLock() { Release(); }
    PortLock(const PortLock&) = delete;
    PortLock& operator=(const PortLock&) = delete;

    // Looks for a live lock of another process in every lock folder (a stale one, whose
    // process is gone, is removed) and returns its holder; else writes this process's lock
    // in the first writable folder (none writable: no lock, no error) and returns nothing.
    std::optional<PortHolder> Acquire(const std::string& lockName);
    // Removes the lock this object wrote, if any.
    void Release();
    // The lock file written, or empty.
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

}  // namespace hydrix::platform
