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
// Writes data to a new file beside path and renames it over path, so that path holds
// either its old content or all of data, never a part; a link at path is replaced, not
// followed. 0 or -errno.
int ReplaceFile(const std::string& path, std::string_view data);
// Whether ReplaceFile could write path: its folder takes a new file (one is made and
// removed again) and path is no folder. 0 or -errno.
int CheckReplaceable(const std::string& path);
// Removes the file (or link) at path; a missing one is no error. 0 or -errno.
int RemoveFile(const std::string& path);

// path with "-n" put before its extension ("a/b.txt", 2 gives "a/b-2.txt"): the n-th
// name to try when path is taken.
std::string NumberedName(const std::string& path, int n);

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
    // Creates a file that did not exist: never follows a link, never opens a FIFO or a
    // device and never replaces anything (-EEXIST when the name is taken). 0 or -errno.
    int CreateNew(const std::string& path);
    // Opens an existing file and moves to its end. 0 or -errno (-ENOENT when missing).
    int OpenForAppend(const std::string& path);
    // Writes all bytes (retrying short writes); the count written, or -errno.
    long Write(const void* data, std::size_t size);
    long Write(std::string_view data) { return Write(data.data(), data.size()); }
    bool IsOpen() const { return fd_ >= 0; }
    // Hands what was written to the disk: 0, or -errno for bytes the system took but
    // could not store.
    int Sync();
    // Where the open file stands now: whether a name still links to it, whether path
    // names it (and not another file put there since), and its size.
    struct Standing {
        bool linked = false;
        bool atPath = false;
        unsigned long long size = 0;
    };
    Standing StandingAt(const std::string& path) const;
    void Close();

private:
    int Open(const std::string& path, int flags, bool truncate);

    int fd_ = -1;
};

}  // namespace hydrix::platform
