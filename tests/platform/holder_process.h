// Another program holding a serial device, for the in-use tests: a `sleep` child started
// with the device already open (the slave path opened anew, or a descriptor of this
// process handed down), killed and reaped when the object goes.
//
//   test::HolderProcess other(test::HolderProcess::OpenPath(pty.SlavePath()));
//   other.Pid();   // the process the open should name
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>
#include <vector>

extern char** environ;

namespace hydrix::test {

class HolderProcess {
public:
    struct Hold {
        std::string path;  // opened by the child before it runs, or
        int fd = -1;       // a descriptor of this process the child keeps
    };
    static Hold OpenPath(const std::string& path) { return Hold{path, -1}; }
    static Hold Descriptor(int fd) { return Hold{{}, fd}; }

    explicit HolderProcess(const std::vector<Hold>& holds) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        int target = kFirstHeld;
        for (const Hold& hold : holds) {
            if (hold.fd >= 0) {
                posix_spawn_file_actions_adddup2(&actions, hold.fd, target++);
            } else {
                const int flags = O_RDWR | O_NOCTTY | O_NONBLOCK;
                posix_spawn_file_actions_addopen(&actions, target++, hold.path.c_str(), flags, 0);
            }
        }
        // The child keeps only what it was given: an inherited pty master would make it
        // the far end of the line.
        for (int fd : OpenDescriptors()) {
            if (fd > 2 && (fd < kFirstHeld || fd >= target)) {
                posix_spawn_file_actions_addclose(&actions, fd);
            }
        }
        char arg0[] = "sleep";
        char arg1[] = "60";
        char* argv[] = {arg0, arg1, nullptr};
        // posix_spawn returns once the child runs the program, its descriptors open.
        const int rc = ::posix_spawnp(&pid_, "sleep", &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            throw std::system_error(rc, std::generic_category(), "posix_spawnp sleep");
        }
    }
    explicit HolderProcess(const Hold& hold) : HolderProcess(std::vector<Hold>{hold}) {}
    ~HolderProcess() { End(); }
    HolderProcess(const HolderProcess&) = delete;
    HolderProcess& operator=(const HolderProcess&) = delete;

    pid_t Pid() const { return pid_; }
    // Kills and reaps the child: afterwards its PID names no process.
    void End() {
        if (pid_ <= 0) {
            return;
        }
        ::kill(pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }

private:
    static constexpr int kFirstHeld = 100;

    static std::vector<int> OpenDescriptors() {
        std::vector<int> fds;
        DIR* dir = ::opendir("/proc/self/fd");
        if (dir == nullptr) {
            return fds;
        }
        const int own = ::dirfd(dir);
        while (dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.') {
                continue;
            }
            const int fd = std::atoi(entry->d_name);
            if (fd != own) {
                fds.push_back(fd);
            }
        }
        ::closedir(dir);
        return fds;
    }

    pid_t pid_ = -1;
};

}  // namespace hydrix::test
