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

// A new, empty file beside path (same folder), opened for writing; its name in temp.
int CreateTempBeside(const std::string& path, std::string& temp) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    temp = folder + "." + name + ".XXXXXX";
    int fd;
    do {
        fd = ::mkostemp(temp.data(), O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? -errno : fd;
}

}  // namespace

int ReplaceFile(const std::string& path, std::string_view data) {
    std::string temp;
    const int fd = CreateTempBeside(path, temp);
    if (fd < 0) {
        return fd;
    }
    // mkstemp makes the file readable by its owner only; the file is for everyone who
    // may read the folder, as a file written in place would be.
    long rc = ::fchmod(fd, 0644) == 0 ? WriteAll(fd, data.data(), data.size()) : -errno;
    if (rc >= 0 && ::fsync(fd) != 0) {
        rc = -errno;
    }
    if (::close(fd) != 0 && rc >= 0 && errno != EINTR) {
        rc = -errno;
    }
    if (rc >= 0 && ::rename(temp.c_str(), path.c_str()) != 0) {
        rc = -errno;
    }
    if (rc < 0) {
        ::unlink(temp.c_str());
        return static_cast<int>(rc);
    }
    return 0;
}

int CheckReplaceable(const std::string& path) {
    if (path.empty()) {
        return -ENOENT;
    }
    if (DirectoryExists(path)) {
        return -EISDIR;
    }
    std::string temp;
    const int fd = CreateTempBeside(path, temp);
    if (fd < 0) {
        return fd;
    }
    ::close(fd);
    ::unlink(temp.c_str());
    return 0;
}

int RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : -errno;
}

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

std::string NumberedName(const std::string& path, int n) {
    const size_t slash = path.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = path.rfind('.');
    // A dot that starts the name ("/x/.txt") or stands in the folders is no extension.
    if (dot == std::string::npos || dot <= nameStart) {
        dot = path.size();
    }
    return path.substr(0, dot) + "-" + std::to_string(n) + path.substr(dot);
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
    return Open(path, O_WRONLY | O_CREAT, true);
}

int OutputFile::CreateNew(const std::string& path) {
    // O_EXCL fails on any name that exists, a dangling link or a FIFO included, so
    // nothing but a new regular file is ever opened.
    return Open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK, false);
}

int OutputFile::OpenForAppend(const std::string& path) {
    return Open(path, O_WRONLY, false);
}

int OutputFile::Open(const std::string& path, int flags, bool truncate) {
    Close();
    // Not truncated on open: a file held by another writer must stay untouched.
    const int fd = OpenRetrying(path, flags);
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
    const bool positioned = !regular || (truncate ? ::ftruncate(fd, 0) == 0 : ::lseek(fd, 0, SEEK_END) >= 0);
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

int OutputFile::Sync() {
    if (fd_ < 0) {
        return -EBADF;
    }
    int rc;
    do {
        rc = ::fsync(fd_);
    } while (rc != 0 && errno == EINTR);
    // A device or a pipe cannot be synced, and needs not be.
    return rc == 0 || errno == EINVAL || errno == EROFS ? 0 : -errno;
}

OutputFile::Standing OutputFile::StandingAt(const std::string& path) const {
    Standing standing;
    struct stat open {};
    if (fd_ < 0 || ::fstat(fd_, &open) != 0) {
        return standing;
    }
    standing.linked = open.st_nlink > 0;
    standing.size = static_cast<unsigned long long>(open.st_size);
    struct stat named {};
    standing.atPath = ::lstat(path.c_str(), &named) == 0 && named.st_dev == open.st_dev && named.st_ino == open.st_ino;
    return standing;
}

void OutputFile::Close() {
    if (fd_ < 0) {
        return;
    }
    ::close(fd_);
    fd_ = -1;
}

}  // namespace hydrix::platform
