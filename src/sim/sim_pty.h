// The simulator's end of the line: a pseudo-terminal whose slave path stands in for the
// instrument's serial port, optionally reachable as COMn through the Wine prefix's
// dosdevices link, as the station resolves port numbers.
#pragma once

#include <filesystem>
#include <string>

namespace hydrix::sim {

class SimPty {
public:
    SimPty() = default;
    ~SimPty();
    SimPty(const SimPty&) = delete;
    SimPty& operator=(const SimPty&) = delete;

    // Opens a pty pair with the slave in raw mode, then closes the slave again so that the
    // master sees the station open and close the line. 0 or -errno (Error() says what).
    int Open();
    int MasterFd() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }
    const std::string& Error() const { return error_; }

private:
    int master_ = -1;
    std::string slavePath_;
    std::string error_;
};

// <prefix>/dosdevices/com<n> -> target for as long as it lives; an older symbolic link of
// that name is replaced, anything else there is left alone and reported. The link is
// removed at the end only while it still points at target.
class ComLink {
public:
    ComLink() = default;
    ~ComLink();
    ComLink(const ComLink&) = delete;
    ComLink& operator=(const ComLink&) = delete;

    // 0 or -errno (Error() says what).
    int Create(const std::filesystem::path& prefix, int n, const std::string& target);
    const std::filesystem::path& Path() const { return path_; }
    const std::string& Error() const { return error_; }

private:
    std::filesystem::path path_;
    std::string target_;
    std::string error_;
};

}  // namespace hydrix::sim
