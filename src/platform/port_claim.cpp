#include "platform/port_claim.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/sys_call.h"

namespace hydrix::platform {

namespace {

// Unix98 pseudo-terminals: slaves on majors 136-143, every master on /dev/ptmx (5:2).
constexpr unsigned kPtySlaveFirstMajor = 136;
constexpr unsigned kPtySlaveLastMajor = 143;
const dev_t kPtmx = makedev(5, 2);
// The lock file may be replaced between our open and our flock (a stale one taken over,
// a released one removed): then it is opened again, a few times at most.
constexpr int kLockAttempts = 5;
// How long a contender that found the lock flocked waits for the holder's PID to appear
// in it (the holder writes it right after taking the flock), and how long a process that
// has the device open gets to let it go before it counts as a user of the port.
constexpr auto kSettleTime = std::chrono::milliseconds(1000);
constexpr auto kSettlePoll = std::chrono::milliseconds(5);

std::mutex g_foldersMutex;
std::vector<std::string> g_folders{"/var/lock", "/run/lock"};

std::string ReadSmallFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    char buffer[512];
    std::string text;
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0 && text.size() < 4096) {
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return text;
}

std::string ProgramName(const std::string& procRoot, int pid) {
    std::string name = ReadSmallFile(procRoot + "/" + std::to_string(pid) + "/comm");
    while (!name.empty() && (name.back() == '\n' || name.back() == ' ')) {
        name.pop_back();
    }
    return name;
}

// The value of "key:" in a /proc fdinfo text, or -1.
long FdInfoValue(const std::string& text, const char* key) {
    const size_t at = text.find(key);
    if (at == std::string::npos || (at > 0 && text[at - 1] != '\n')) {
        return -1;
    }
    return std::strtol(text.c_str() + at + std::strlen(key), nullptr, 10);
}

bool AllDigits(const char* s) {
    if (*s == '\0') {
        return false;
    }
    for (; *s; ++s) {
        if (*s < '0' || *s > '9') {
            return false;
        }
    }
    return true;
}

// What one process holds: the device itself, and the master of the device's pty.
struct Holdings {
    bool device = false;
    bool master = false;
};

Holdings ProcessHoldings(const std::string& pidDir, dev_t device, int ptyIndex) {
    Holdings found;
    const std::string fdDir = pidDir + "/fd/";
    DIR* dir = ::opendir(fdDir.c_str());
    if (dir == nullptr) {
        return found;  // gone, or another user's (no permission)
    }
    while (dirent* entry = ::readdir(dir)) {
        if (!AllDigits(entry->d_name)) {
            continue;
        }
        const std::string link = fdDir + entry->d_name;
        // Sockets, pipes and anonymous inodes read as "type:[...]": not a device file.
        char target[8];
        if (::readlink(link.c_str(), target, sizeof target) <= 0 || target[0] != '/') {
            continue;
        }
        struct stat info {};
        if (::stat(link.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) {
            continue;
        }
        if (info.st_rdev == device) {
            found.device = true;
        }
        if (ptyIndex >= 0 && info.st_rdev == kPtmx &&
            FdInfoValue(ReadSmallFile(pidDir + "/fdinfo/" + entry->d_name), "tty-index:") == ptyIndex) {
            found.master = true;
        }
    }
    ::closedir(dir);
    return found;
}

// The PID a lock file names: ASCII (HDB style, "%10d\n") or, from older programs, a
// binary int. 0 for an empty file (or none), -1 for one that names no process.
int LockPid(const std::string& text) {
    if (text.empty()) {
        return 0;
    }
    char* end = nullptr;
    const long pid = std::strtol(text.c_str(), &end, 10);
    if (end != text.c_str() && pid > 0 && pid <= INT32_MAX) {
        return static_cast<int>(pid);
    }
    if (text.size() == sizeof(int)) {
        int binary = 0;
        std::memcpy(&binary, text.data(), sizeof binary);
        if (binary > 0) {
            return binary;
        }
    }
    return -1;
}

bool ProcessAlive(int pid) {
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

PortHolder NamedHolder(int pid, const std::string& path) {
    return PortHolder{pid, ProgramName("/proc", pid), path};
}

// The text of an open lock file (at most 4 kB: a PID is a few bytes).
std::string ReadLock(int fd) {
    char buffer[4096];
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, 0);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

// The file at path is still the one fd has open (not removed or replaced meanwhile).
bool StillAtPath(int fd, const std::string& path) {
    struct stat open {};
    struct stat named {};
    return ::fstat(fd, &open) == 0 && ::lstat(path.c_str(), &named) == 0 && open.st_dev == named.st_dev &&
           open.st_ino == named.st_ino;
}

// The lock is flocked by another lock of this kind: its holder is the process the file
// names once the holder has written its PID line, waited for a moment; a file that never
// names a live process is named itself.
PortHolder FlockedHolder(int fd, const std::string& path) {
    const auto deadline = std::chrono::steady_clock::now() + kSettleTime;
    for (;;) {
        const std::string text = ReadLock(fd);
        const int pid = LockPid(text);
        const bool complete = !text.empty() && text.back() == '\n';
        if (pid > 0 && ProcessAlive(pid) && (complete || std::chrono::steady_clock::now() >= deadline)) {
            return NamedHolder(pid, path);
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return PortHolder{0, {}, path};
        }
        std::this_thread::sleep_for(kSettlePoll);
    }
}

// Under its flock: the holder a lock file names when that is a live process other than
// this one, or no process at all (which nobody can tell to let go).
std::optional<PortHolder> LiveHolder(int fd, const std::string& path) {
    const int pid = LockPid(ReadLock(fd));
    if (pid < 0) {
        return PortHolder{0, {}, path};
    }
    if (pid > 0 && pid != ::getpid() && ProcessAlive(pid)) {
        return NamedHolder(pid, path);
    }
    return std::nullopt;
}

// One look at the lock file at path, opened with flags and flocked. Locked: fd holds the
// flock on the file still at path (or flock does not work there, and the PID decides).
// Held: another lock holds it, holder says whose. Moved: replaced under us, look again.
// None: no file there that this process may open, or no regular one.
enum class Look : uint8_t { None, Held, Locked, Moved };

Look OpenLocked(const std::string& path, int flags, int& fd, std::optional<PortHolder>& holder) {
    fd = sys::Call(sys::Op::LockFile,
                   [&] { return ::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644); });
    if (fd < 0) {
        return Look::None;
    }
    struct stat info {};
    Look look = Look::Locked;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        look = Look::None;
    } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        holder = FlockedHolder(fd, path);
        look = Look::Held;
    } else if (!StillAtPath(fd, path)) {
        look = Look::Moved;
    }
    if (look != Look::Locked) {
        ::close(fd);
        fd = -1;
    }
    return look;
}

// A lock file in a folder this process does not write its own lock to: a holder when it
// is held, else it is stale and removed (under its flock, where the folder allows).
std::optional<PortHolder> InspectLock(const std::string& path) {
    for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
        int fd = -1;
        std::optional<PortHolder> holder;
        const Look look = OpenLocked(path, O_RDONLY, fd, holder);
        if (look == Look::Moved) {
            continue;
        }
        if (look != Look::Locked) {
            return holder;
        }
        holder = LiveHolder(fd, path);
        if (!holder) {
            ::unlink(path.c_str());
        }
        ::close(fd);
        return holder;
    }
    return std::nullopt;
}

// The lock folders, each directory once (/var/lock is usually a link to /run/lock).
std::vector<std::string> DistinctFolders() {
    std::vector<std::string> folders;
    std::vector<std::pair<dev_t, ino_t>> seen;
    for (const std::string& folder : LockFolders()) {
        struct stat info {};
        if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            continue;
        }
        const std::pair<dev_t, ino_t> id{info.st_dev, info.st_ino};
        bool duplicate = false;
        for (const auto& s : seen) {
            duplicate = duplicate || s == id;
        }
        if (duplicate) {
            continue;
        }
        seen.push_back(id);
        folders.push_back(folder);
    }
    return folders;
}

}  // namespace

std::string PortHolder::Describe() const {
    if (Pid <= 0) {
        return "lock file " + LockFile;
    }
    std::string text = "PID " + std::to_string(Pid);
    if (!Program.empty()) {
        text += " (" + Program + ")";
    }
    if (!LockFile.empty()) {
        text += ", lock file " + LockFile;
    }
    return text;
}

std::vector<std::string> LockFolders() {
    std::lock_guard lock(g_foldersMutex);
    return g_folders;
}

std::vector<std::string> SetLockFolders(std::vector<std::string> folders) {
    std::lock_guard lock(g_foldersMutex);
    std::swap(g_folders, folders);
    return folders;
}

int PtySlaveIndex(dev_t device) {
    const unsigned major = ::major(device);
    if (major < kPtySlaveFirstMajor || major > kPtySlaveLastMajor) {
        return -1;
    }
    return static_cast<int>((major - kPtySlaveFirstMajor) * 256 + ::minor(device));
}

std::optional<PortHolder> FindOtherOpener(dev_t device, const std::string& procRoot) {
    const int ptyIndex = PtySlaveIndex(device);
    const std::string self = std::to_string(::getpid());
    DIR* proc = ::opendir(procRoot.c_str());
    if (proc == nullptr) {
        return std::nullopt;
    }
    std::optional<PortHolder> holder;
    while (dirent* entry = ::readdir(proc)) {
        if (!AllDigits(entry->d_name) || self == entry->d_name) {
            continue;
        }
        const Holdings held = ProcessHoldings(procRoot + "/" + entry->d_name, device, ptyIndex);
        if (held.device && !held.master) {
            const int pid = std::atoi(entry->d_name);
            holder = PortHolder{pid, ProgramName(procRoot, pid), {}};
            break;
        }
    }
    ::closedir(proc);
    return holder;
}

std::optional<PortHolder> FindLastingOpener(dev_t device) {
    const auto deadline = std::chrono::steady_clock::now() + kSettleTime;
    std::optional<PortHolder> holder = FindOtherOpener(device);
    while (holder && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kSettlePoll);
        holder = FindOtherOpener(device);
    }
    return holder;
}

std::string LockFileName(const std::string& devicePath) {
    char* real = ::realpath(devicePath.c_str(), nullptr);
    std::string path = real ? real : devicePath;
    std::free(real);
    const size_t slash = path.rfind('/');
    return "LCK.." + (slash == std::string::npos ? path : path.substr(slash + 1));
}

std::optional<PortHolder> FindLockHolder(const std::string& lockName) {
    for (const std::string& folder : DistinctFolders()) {
        const std::string path = folder + "/" + lockName;
        int fd = -1;
        std::optional<PortHolder> holder;
        if (OpenLocked(path, O_RDONLY, fd, holder) == Look::Locked) {
            holder = LiveHolder(fd, path);
            ::close(fd);
        }
        if (holder) {
            return holder;
        }
    }
    return std::nullopt;
}

std::optional<PortHolder> PortLock::Acquire(const std::string& lockName) {
    Release();
    for (const std::string& folder : DistinctFolders()) {
        const std::string path = folder + "/" + lockName;
        if (fd_ < 0) {
            std::optional<PortHolder> holder;
            const Claim claim = TakeIn(path, holder);
            if (claim == Claim::Held) {
                return holder;
            }
            if (claim == Claim::Taken) {
                continue;
            }
        }
        if (auto holder = InspectLock(path)) {
            Release();
            return holder;
        }
    }
    return std::nullopt;
}

PortLock::Claim PortLock::TakeIn(const std::string& path, std::optional<PortHolder>& holder) {
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%10d\n", ::getpid());
    for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
        int fd = -1;
        const Look look = OpenLocked(path, O_RDWR | O_CREAT, fd, holder);
        if (look == Look::Moved) {
            continue;
        }
        if (look != Look::Locked) {
            // None: a read-only or foreign folder, or another's file this user cannot write.
            return look == Look::Held ? Claim::Held : Claim::Unwritable;
        }
        if ((holder = LiveHolder(fd, path))) {
            ::close(fd);
            return Claim::Held;
        }
        // Stale, empty or new: ours now. Written before the old text is cut off, so that a
        // reader never meets an empty file where a PID stood.
        if (::pwrite(fd, text, static_cast<size_t>(length), 0) != length || ::ftruncate(fd, length) != 0) {
            ::unlink(path.c_str());
            ::close(fd);
            return Claim::Unwritable;
        }
        // A program that takes no flock may have removed it meanwhile as stale.
        if (!StillAtPath(fd, path)) {
            ::close(fd);
            continue;
        }
        fd_ = fd;
        path_ = path;
        return Claim::Taken;
    }
    return Claim::Unwritable;
}

void PortLock::Release() {
    if (fd_ < 0) {
        return;
    }
    // Removed while still flocked, so a contender that opened it meanwhile finds it gone
    // once it gets the flock, and opens the path again.
    if (StillAtPath(fd_, path_)) {
        ::unlink(path_.c_str());
    }
    ::close(fd_);
    fd_ = -1;
    path_.clear();
}

}  // namespace hydrix::platform
