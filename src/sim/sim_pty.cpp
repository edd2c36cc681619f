#include "sim/sim_pty.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace hydrix::sim {

SimPty::~SimPty() {
    if (master_ >= 0) {
        ::close(master_);
    }
}

int SimPty::Open() {
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master_, &slave, name, nullptr, nullptr) != 0) {
        const int err = errno;
        error_ = std::string("openpty: ") + std::strerror(err);
        return -err;
    }
    termios t{};
    int rc = ::tcgetattr(slave, &t);
    if (rc == 0) {
        ::cfmakeraw(&t);
        rc = ::tcsetattr(slave, TCSANOW, &t);
    }
    const int err = errno;
    ::close(slave);
    if (rc != 0) {
        error_ = std::string("raw mode on ") + name + ": " + std::strerror(err);
        ::close(master_);
        master_ = -1;
        return -err;
    }
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    slavePath_ = name;
    return 0;
}

ComLink::~ComLink() {
    if (path_.empty()) {
        return;
    }
    std::error_code ec;
    if (std::filesystem::is_symlink(path_, ec) && std::filesystem::read_symlink(path_, ec) == target_) {
        std::filesystem::remove(path_, ec);
    }
}

int ComLink::Create(const std::filesystem::path& prefix, int n, const std::string& target) {
    const std::filesystem::path dir = prefix / "dosdevices";
    const std::filesystem::path path = dir / ("com" + std::to_string(n));
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        error_ = dir.string() + ": " + ec.message();
        return -ec.value();
    }
    const auto status = std::filesystem::symlink_status(path, ec);
    if (std::filesystem::exists(status)) {
        if (!std::filesystem::is_symlink(status)) {
            error_ = path.string() + ": exists and is not a symbolic link";
            return -EEXIST;
        }
        std::filesystem::remove(path, ec);
    }
    std::filesystem::create_symlink(target, path, ec);
    if (ec) {
        error_ = path.string() + ": " + ec.message();
        return -ec.value();
    }
    path_ = path;
    target_ = target;
    return 0;
}

}  // namespace hydrix::sim
