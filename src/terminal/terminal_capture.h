// The terminal's capture file: every chunk taken from the receive queue is written here
// before the emulator interprets it, so the file holds exactly what was shown. Owned by
// the terminal control; GUI thread only.
#pragma once

#include <cstddef>
#include <string>

#include "comm/exceptions.h"
#include "platform/file_system.h"

namespace hydrix::terminal {

enum class CaptureMode { cmOff = 0, cmOn = 1, cmAppend = 2 };

// The file could not be created / opened for appending.
class EFCreateError : public comm::Exception {
public:
    using comm::Exception::Exception;
};
class EFOpenError : public comm::Exception {
public:
    using comm::Exception::Exception;
};

constexpr const char* kDefaultCaptureFile = "TERMINAL.CAP";
// Names tried after the first one when a capture may replace nothing.
constexpr int kCaptureNameAttempts = 999;

// What became of one capture file, taken when it was closed.
struct CaptureRecord {
    std::string FileName;
    // Bytes the terminal was handed while the file was open, and those the system took.
    unsigned long long Handed = 0;
    unsigned long long Written = 0;
    // The file at its name when it was closed: still there, its size.
    bool OnDisk = false;
    unsigned long long Size = 0;
    // Where the file started (appending), so that Size - Start should be Handed.
    unsigned long long Start = 0;
    // The system could not store what it had taken.
    bool SyncFailed = false;

    bool Complete() const { return OnDisk && !SyncFailed && Written == Handed && Size == Start + Handed; }
};

class TerminalCapture {
public:
    CaptureMode Mode() const { return mode_; }
    // Raises EFCreateError / EFOpenError when the file cannot be created / opened; the
    // mode then stays as requested, without a file.
    void SetMode(CaptureMode mode);
    const std::string& FileName() const { return fileName_; }
    // A different name while capturing closes the file and creates the new one.
    void SetFileName(const std::string& name);
    // With NoReplace, cmOn never replaces, follows or opens anything that exists: the file
    // is made new, under the next free name (name-2.ext, name-3.ext, ...) when the name is
    // taken, and FileName then reads the name used.
    bool NoReplace() const { return noReplace_; }
    void SetNoReplace(bool value) { noReplace_ = value; }

    bool FileOpen() const { return file_.IsOpen(); }
    // Writes one chunk when capturing. The first write that fails or comes up short is
    // reported through the exception report; capture goes on.
    void Write(const void* data, std::size_t size);
    // Some bytes since the file was opened are missing from it.
    bool Incomplete() const { return incomplete_; }
    void Close();
    // The last file closed, as it stood then.
    const CaptureRecord& LastRecord() const { return record_; }

private:
    // Creates fileName_, or with NoReplace the first free name after it. 0 or -errno.
    int CreateFile();
    void Opened();

    platform::OutputFile file_;
    bool noReplace_ = false;
    CaptureRecord record_;
    unsigned long long handed_ = 0;
    unsigned long long written_ = 0;
    unsigned long long start_ = 0;
    CaptureMode mode_ = CaptureMode::cmOff;
    std::string fileName_ = kDefaultCaptureFile;
    bool incomplete_ = false;
};

}  // namespace hydrix::terminal
