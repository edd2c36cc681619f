#include "platform/port_claim.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include "platform/sys_call.h"

namespace hydrix::platform {

namespace {

// Unix98 pseudo-terminals: slaves on majors 136-143, every master on /dev/ptmx (5:2).
constexpr unsigned kPtySlaveFirstMajor = 136;
constexpr unsigned kPtySlaveLastMajor = 143;
const dev_t kPtmx = makedev(5, 2);
// A stale lock may be replaced by another program between our look and our write.
constexpr int kLockAttempts = 3;

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

// The holder a lock file names when that is a live process other than this one (or no
// process at all, which nobody can tell to let go).
std::optional<PortHolder> LiveHolder(const std::string& path, int pid, int self) {
    if (pid < 0) {
        return PortHolder{0, {}, path};
    }
    if (pid > 0 && pid != self && ProcessAlive(pid)) {
        return PortHolder{pid, ProgramName("/proc", pid), path};
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

std::string LockFileName(const std::string& devicePath) {
    char* real = ::realpath(devicePath.c_str(), nullptr);
    std::string path = real ? real : devicePath;
    std::free(real);
    const size_t slash = path.rfind('/');
    return "LCK.." + (slash == std::string::npos ? path : path.substr(slash + 1));
}

std::optional<PortHolder> PortLock::Acquire(const std::string& lockName) {
    Release();
    const int self = ::getpid();
    const std::vector<std::string> folders = DistinctFolders();
    for (const std::string& folder : folders) {
        const std::string path = folder + "/" + lockName;
        if (auto holder = LiveHolder(path, LockPid(ReadSmallFile(path)), self)) {
            return holder;
        }
        // Stale (its process is gone), empty, or left by an earlier open of this process;
        // mostly there is none at all.
        ::unlink(path.c_str());
    }
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%10d\n", self);
    for (const std::string& folder : folders) {
        const std::string path = folder + "/" + lockName;
        for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
            const int fd = sys::Call(sys::Op::LockFile, [&] {
                return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
            });
            if (fd >= 0) {
                const bool written = ::write(fd, text, static_cast<size_t>(length)) == length;
                ::close(fd);
                if (!written) {
                    ::unlink(path.c_str());
                    break;
                }
                path_ = path;
                return std::nullopt;
            }
            if (errno != EEXIST) {
                break;  // a read-only or foreign folder: try the next
            }
            // Made since we looked: a live one wins, a stale one goes.
            if (auto holder = LiveHolder(path, LockPid(ReadSmallFile(path)), self)) {
                return holder;
            }
            ::unlink(path.c_str());
        }
    }
    return std::nullopt;
}

void PortLock::Release() {
    if (path_.empty()) {
        return;
    }
    // Only a lock that still names this process is ours to remove.
    if (LockPid(ReadSmallFile(path_)) == ::getpid()) {
        ::unlink(path_.c_str());
    }
    path_.clear();
}

}  // namespace hydrix::platform
