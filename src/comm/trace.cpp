#include "comm/trace.h"

#include <cerrno>
#include <cstdio>
#include <new>

namespace hydrix::comm {
namespace {

constexpr int32_t kBadArgument = -1002;
constexpr int32_t kOutOfMemory = -8;
constexpr size_t kMaxColumn = 78;
constexpr std::string_view kLineBreak = "\r\n";
constexpr size_t kFlushSize = 64 * 1024;

std::string Heading(uint8_t kind) {
    if (kind == kTraceTransmit) {
        return "Transmit: ";
    }
    if (kind == kTraceReceive) {
        return "Receive: ";
    }
    return std::string("Special-") + static_cast<char>(kind) + ": ";
}

}  // namespace

int DiagnosticFile::Open(const std::string& fileName, bool append) {
    pending_.clear();
    error_ = 0;
    int result = append ? file_.OpenForAppend(fileName) : -ENOENT;
    if (result == -ENOENT) {
        result = file_.Create(fileName);
    }
    return result;
}

void DiagnosticFile::Write(std::string_view text) {
    pending_ += text;
    if (pending_.size() >= kFlushSize) {
        Flush();
    }
}

void DiagnosticFile::Flush() {
    if (error_ == 0 && !pending_.empty()) {
        const long written = file_.Write(pending_);
        if (written < 0) {
            error_ = static_cast<int>(-written);
        }
    }
    pending_.clear();
}

int DiagnosticFile::Close() {
    Flush();
    file_.Close();
    return error_ != 0 ? -error_ : 0;
}

std::string TraceItem(uint8_t byte, bool allHex, bool hex) {
    char text[8];
    const uint8_t firstPrintable = hex ? 0x21 : 0x20;
    if (!allHex && byte >= firstPrintable && byte <= 0x7E) {
        return std::string(1, static_cast<char>(byte));
    }
    if (allHex || hex) {
        std::snprintf(text, sizeof text, "[%02X]", byte);
    } else {
        std::snprintf(text, sizeof text, "[%u]", byte);
    }
    return text;
}

int32_t Trace::Start(int32_t capacity) {
    if (capacity < 0 || capacity > kMaxCapacity) {
        return kBadArgument;
    }
    if (!present_) {
        try {
            buffer_.assign(static_cast<size_t>(capacity) * 2, 0);
        } catch (const std::bad_alloc&) {
            buffer_ = {};
            return kOutOfMemory;
        }
        capacity_ = capacity;
        present_ = true;
    }
    position_ = 0;
    wrapped_ = false;
    on_ = true;
    return 0;
}

void Trace::Pause() {
    on_ = false;
}

void Trace::Resume() {
    on_ = present_;
}

int32_t Trace::Reset() {
    position_ = 0;
    wrapped_ = false;
    return 0;
}

void Trace::Stop() {
    on_ = false;
    present_ = false;
    buffer_ = {};
    capacity_ = 0;
    position_ = 0;
    wrapped_ = false;
}

void Trace::Add(uint8_t kind, uint8_t byte) {
    // A zero capacity holds nothing.
    if (!present_ || capacity_ == 0) {
        return;
    }
    buffer_[static_cast<size_t>(position_) * 2] = kind;
    buffer_[static_cast<size_t>(position_) * 2 + 1] = byte;
    if (++position_ >= capacity_) {
        position_ = 0;
        wrapped_ = true;
    }
}

int32_t Trace::Write(const std::string& fileName, bool append, bool allHex, bool hex) {
    if (!present_) {
        return 0;
    }
    on_ = false;
    if (!wrapped_ && position_ == 0) {
        Stop();
        return 0;
    }

    DiagnosticFile file;
    const int opened = file.Open(fileName, append);
    if (opened != 0) {
        Stop();
        return opened;
    }

    const int32_t count = Count();
    const int32_t first = wrapped_ ? position_ : 0;
    size_t column = 0;
    for (int32_t n = 0; n < count; ++n) {
        const size_t index = static_cast<size_t>((first + n) % capacity_) * 2;
        const uint8_t kind = buffer_[index];
        if (n == 0 || kind != buffer_[static_cast<size_t>((first + n - 1) % capacity_) * 2]) {
            if (n != 0) {
                file.Write(kLineBreak);
                file.Write(kLineBreak);
            }
            file.Write(Heading(kind));
            file.Write(kLineBreak);
            column = 0;
        }
        const std::string item = TraceItem(buffer_[index + 1], allHex, hex);
        if (column + item.size() > kMaxColumn) {
            file.Write(kLineBreak);
            column = item.size();
        } else {
            column += item.size();
        }
        file.Write(item);
    }
    const int result = file.Close();
    Stop();
    return result;
}

}  // namespace hydrix::comm
