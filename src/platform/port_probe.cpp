#include "platform/port_probe.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/serial_device.h"

namespace hydrix::platform {

namespace {

std::string RealPath(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    std::string target = real ? real : std::string();
    std::free(real);
    return target;
}

bool UserInGroup(gid_t gid) {
    if (::geteuid() == 0 || ::getegid() == gid) {
        return true;
    }
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<size_t>(count > 0 ? count : 0));
    if (count > 0 && ::getgroups(count, groups.data()) == count) {
        for (gid_t g : groups) {
            if (g == gid) {
                return true;
            }
        }
    }
    return false;
}

std::string GroupName(gid_t gid) {
    const group* g = ::getgrgid(gid);
    return g ? std::string(g->gr_name) : std::to_string(gid);
}

std::string UserName() {
    const passwd* p = ::getpwuid(::geteuid());
    return p ? std::string(p->pw_name) : std::to_string(::geteuid());
}

// Opens the device for a moment, as any program looking at it would, and reads its
// terminal settings; nothing is written to it. 0 or the errno of the failure.
int TryOpen(const std::string& path) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return errno;
    }
    termios t{};
    const int err = ::tcgetattr(fd, &t) == 0 ? 0 : errno;
    ::close(fd);
    return err;
}

}  // namespace

std::string NotASerialDevice(const std::string& path, int err) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return errno == ELOOP ? "the link is a loop (it leads back to itself), not a serial device" : std::string();
    }
    std::string target = RealPath(path);
    if (target.empty()) {
        target = path;
    }
    switch (info.st_mode & S_IFMT) {
    case S_IFDIR:
        return target + " is a folder, not a serial device";
    case S_IFREG:
        return target + " is a regular file, not a serial device";
    case S_IFIFO:
        return target + " is a pipe, not a serial device";
    case S_IFSOCK:
        return target + " is a socket, not a serial device";
    case S_IFBLK:
        return target + " is a disk, not a serial device";
    default:
        return err == ENOTTY ? target + " is not a serial device (it has no terminal settings)" : std::string();
    }
}

PortProbe ProbePort(const std::string& name) {
    PortProbe p;
    p.name = name;
    p.user = UserName();
    p.path = SerialDevice::ResolveDeviceName(name);
    if (p.path.empty()) {
        p.problem = name + " names no port";
        return p;
    }
    const std::string what = p.path == name ? p.path : name + " (" + p.path + ")";
    struct stat info {};
    if (::stat(p.path.c_str(), &info) != 0) {
        const int err = errno;
        const std::string why = NotASerialDevice(p.path, err);
        p.problem = what + ": " + (why.empty() ? std::string("the device does not exist") : why);
        return p;
    }
    p.exists = true;
    p.device = RealPath(p.path);
    p.group = GroupName(info.st_gid);
    p.userInGroup = UserInGroup(info.st_gid);
    if (!S_ISCHR(info.st_mode)) {
        p.problem = what + ": " + NotASerialDevice(p.path, ENOTTY);
        return p;
    }
    p.holder = FindLockHolder(LockFileName(p.path));
    if (!p.holder) {
        p.holder = FindOtherOpener(info.st_rdev);
    }
    if (p.holder) {
        p.serial = true;
        p.problem = what + ": the device is in use by another program, " + p.holder->Describe();
        return p;
    }
    const int err = TryOpen(p.path);
    if (err == 0) {
        p.serial = true;
    } else if (err == EACCES || err == EPERM) {
        p.serial = true;
        p.problem = what + ": permission denied; the user " + p.user + " needs read and write access to " + p.path +
                    " (membership of the " + p.group + " group)";
    } else if (err == EIO || err == ENXIO || err == ENODEV) {
        p.problem = what + ": the device does not exist (no hardware answers behind " + p.device + ")";
    } else if (err == EBUSY) {
        p.serial = true;
        p.problem = what + ": the device is in use by another program";
    } else {
        const std::string why = NotASerialDevice(p.path, err);
        p.problem = what + ": " + (why.empty() ? std::string(std::strerror(err)) : why);
    }
    return p;
}

}  // namespace hydrix::platform
