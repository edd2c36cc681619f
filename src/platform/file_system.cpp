#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace hydrix::platform {

namespace {

int OpenRetrying(const std::string& path, int flags) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

long WriteAll(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, p + done, size - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -errno;
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<long>(done);
}

int WriteFileWithFlags(const std::string& path, std::string_view data, int flags) {
    const int fd = OpenRetrying(path, O_WRONLY | O_CREAT | flags);
    if (fd < 0) {
        return -errno;
    }
    long written = WriteAll(fd, data.data(), data.size());
    if (::close(fd) != 0 && written >= 0 && errno != EINTR) {
        written = -errno;
    }
    return written < 0 ? static_cast<int>(written) : 0;
}

}  // namespace

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

int CreateEmptyFile(const std::string& path) {
    return WriteFileWithFlags(path, {}, O_TRUNC);
}

int WriteWholeFile(const std::string& path, std::string_view data) {
    return WriteFileWithFlags(path, data, O_TRUNC);
}

int AppendToFile(const std::string& path, std::string_view data) {
    return WriteFileWithFlags(path, data, O_APPEND);
}

std::string ErrorTextForErrno(int error) {
    if (error < 0) {
        error = -error;
    }
    char buffer[256];
    // GNU strerror_r may return a static text instead of filling the buffer.
    const char* text = strerror_r(error, buffer, sizeof buffer);
    return text;
}

OutputFile::~OutputFile() {
    Close();
}

int OutputFile::Create(const std::string& path) {
    return Open(path, true);
}

int OutputFile::OpenForAppend(const std::string& path) {
    return Open(path, false);
}

int OutputFile::Open(const std::string& path, bool create) {
    Close();
    // Not truncated on open: a file held by another writer must stay untouched.
    const int fd = OpenRetrying(path, create ? (O_WRONLY | O_CREAT) : O_WRONLY);
    if (fd < 0) {
        return -errno;
    }
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int err = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        return -err;
    }
    // Only a regular file can be emptied; a device (a capture on /dev/full, a tty) is
    // written as it is.
    struct stat info {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    const bool positioned = !regular || (create ? ::ftruncate(fd, 0) == 0 : ::lseek(fd, 0, SEEK_END) >= 0);
    if (!positioned) {
        const int err = errno;
        ::close(fd);
        return -err;
    }
    fd_ = fd;
    return 0;
}

long OutputFile::Write(const void* data, std::size_t size) {
    if (fd_ < 0) {
        return -EBADF;
    }
    return WriteAll(fd_, data, size);
}

void OutputFile::Close() {
    if (fd_ < 0) {
        return;
    }
    ::close(fd_);
    fd_ = -1;
}

}  // namespace hydrix::platform
