#include "terminal/terminal_capture.h"

#include <cerrno>

#include "platform/dialogs.h"

namespace hydrix::terminal {

void TerminalCapture::SetMode(CaptureMode mode) {
    if (mode == mode_ || (mode == CaptureMode::cmAppend && mode_ == CaptureMode::cmOn)) {
        return;
    }
    if (mode_ == CaptureMode::cmOn) {
        Close();
    }
    mode_ = mode;
    if (mode == CaptureMode::cmOff) {
        return;
    }
    if (fileName_.empty()) {
        fileName_ = kDefaultCaptureFile;
    }
    incomplete_ = false;
    if (mode == CaptureMode::cmOn) {
        const int rc = CreateFile();
        if (rc < 0) {
            throw EFCreateError("Cannot create file \"" + fileName_ + "\". " + platform::ErrorTextForErrno(rc));
        }
        Opened();
        return;
    }
    const int rc = file_.OpenForAppend(fileName_);
    if (rc < 0) {
        throw EFOpenError("Cannot open file \"" + fileName_ + "\". " + platform::ErrorTextForErrno(rc));
    }
    Opened();
    mode_ = CaptureMode::cmOn;
}

int TerminalCapture::CreateFile() {
    if (!noReplace_) {
        return file_.Create(fileName_);
    }
    int rc = file_.CreateNew(fileName_);
    for (int n = 2; rc == -EEXIST && n <= kCaptureNameAttempts + 1; ++n) {
        const std::string name = platform::NumberedName(fileName_, n);
        rc = file_.CreateNew(name);
        if (rc == 0) {
            fileName_ = name;
        }
    }
    return rc;
}

void TerminalCapture::Opened() {
    handed_ = 0;
    written_ = 0;
    start_ = file_.StandingAt(fileName_).size;
}

void TerminalCapture::Close() {
    if (!file_.IsOpen()) {
        return;
    }
    record_ = CaptureRecord{};
    record_.FileName = fileName_;
    record_.Handed = handed_;
    record_.Written = written_;
    record_.Start = start_;
    record_.SyncFailed = file_.Sync() < 0;
    const platform::OutputFile::Standing standing = file_.StandingAt(fileName_);
    record_.OnDisk = standing.linked && standing.atPath;
    record_.Size = standing.size;
    file_.Close();
}

void TerminalCapture::SetFileName(const std::string& name) {
    if (name == fileName_) {
        return;
    }
    const bool wasOn = mode_ != CaptureMode::cmOff;
    if (wasOn) {
        SetMode(CaptureMode::cmOff);
    }
    fileName_ = name;
    if (wasOn) {
        SetMode(CaptureMode::cmOn);
    }
}

void TerminalCapture::Write(const void* data, std::size_t size) {
    if (mode_ != CaptureMode::cmOn || !file_.IsOpen() || size == 0) {
        return;
    }
    const long written = file_.Write(data, size);
    handed_ += size;
    if (written > 0) {
        written_ += static_cast<unsigned long long>(written);
    }
    if (written == static_cast<long>(size)) {
        return;
    }
    // Reported once per file: a full disk would otherwise raise a report per chunk.
    if (!incomplete_) {
        incomplete_ = true;
        const std::string reason =
            written < 0 ? platform::ErrorTextForErrno(static_cast<int>(written))
                        : "Only " + std::to_string(written) + " of " + std::to_string(size) + " bytes were written.";
        platform::ShowExceptionReport("Cannot write to file \"" + fileName_ + "\". " + reason +
                                      " The capture file is incomplete.");
    }
}

}  // namespace hydrix::terminal
