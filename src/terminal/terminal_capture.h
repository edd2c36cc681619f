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

class TerminalCapture {
public:
    CaptureMode Mode() const { return mode_; }
    // Raises EFCreateError / EFOpenError when the file cannot be created / opened; the
    // mode then stays as requested, without a file.
    void SetMode(CaptureMode mode);
    const std::string& FileName() const { return fileName_; }
    // A different name while capturing closes the file and creates the new one.
    void SetFileName(const std::string& name);

    bool FileOpen() const { return file_.IsOpen(); }
    // Writes one chunk when capturing. The first write that fails or comes up short is
    // reported through the exception report; capture goes on.
    void Write(const void* data, std::size_t size);
    // Some bytes since the file was opened are missing from it.
    bool Incomplete() const { return incomplete_; }
    void Close() { file_.Close(); }

private:
    platform::OutputFile file_;
    CaptureMode mode_ = CaptureMode::cmOff;
    std::string fileName_ = kDefaultCaptureFile;
    bool incomplete_ = false;
};

}  // namespace hydrix::terminal
