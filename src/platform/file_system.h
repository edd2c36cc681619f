// Files for the components that record what passed through them: the terminal's capture
// file (written chunk by chunk while it is held open) and the whole-file writes of
// diagnostics. Failures are minus errno; ErrorTextForErrno gives the system's text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace hydrix::platform {

bool DirectoryExists(const std::string& path);
bool FileExists(const std::string& path);

// Creates the file, or empties an existing one. 0 or -errno.
int CreateEmptyFile(const std::string& path);
// Replaces the file's content with data (creating it). 0 or -errno.
int WriteWholeFile(const std::string& path, std::string_view data);
// Appends data at the end of the file, creating it when missing. 0 or -errno.
int AppendToFile(const std::string& path, std::string_view data);

// The system's text for an error number; the sign is ignored (2 and -2 read alike).
std::string ErrorTextForErrno(int error);

// A file held open for writing and not shared: a second OutputFile on the same file
// fails with -EBUSY until the first one is closed.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the file, replacing an existing one, so that it starts empty. 0 or -errno.
    int Create(const std::string& path);
    // Opens an existing file and moves to its end. 0 or -errno (-ENOENT when missing).
    int OpenForAppend(const std::string& path);
    // Writes all bytes (retrying short writes); the count written, or -errno.
    long Write(const void* data, std::size_t size);
    long Write(std::string_view data) { return Write(data.data(), data.size()); }
    bool IsOpen() const { return fd_ >= 0; }
    void Close();

private:
    int Open(const std::string& path, bool create);

    int fd_ = -1;
};

}  // namespace hydrix::platform
