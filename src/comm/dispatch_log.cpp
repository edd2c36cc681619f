#include "comm/dispatch_log.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "comm/component_base.h"
#include "comm/trace.h"

namespace hydrix::comm {
namespace {

constexpr std::string_view kLineBreak = "\r\n";
// Data items are counted from column 45, after the 44 fixed characters of a row; an item
// that would bring the count to 79 starts a continuation line.
constexpr size_t kDataColumn = 45;
constexpr size_t kWrapColumn = 79;

constexpr std::array<std::string_view, 21> kKindNames = {
    "No event", "Dispatch", "Trigger",  "Error",  "Thread", "TrigAllc", "TrigDisp",
    "TrgHdAlc", "TrgHdDsp", "TrDatChg", "Telnet", "Fax",    "XModem",   "YModem",
    "ZModem",   "Kermit",   "Ascii",    "BPlus",  "Packet", "User",     "Script",
};

constexpr std::array<std::string_view, 20> kSubKindNames = {
    "",     "ReadCom", "WriteCom", "Line status", "Modem status", "Avail",  "Timer", "Data",   "Status",    "Start",
    "Exit", "Sleep",   "Wake",     "Data",        "Timer",        "Status", "Avail", "Window", "Procedure", "Method",
};

constexpr uint8_t kFirstPacketSubKind = 242;
constexpr std::array<std::string_view, 10> kPacketSubKindNames = {
    "Enable",   "Disable", "StringPacket", "SizePacket", "PcktTimeout",
    "StartStr", "EndStr",  "Idle",         "Waiting",    "Collecting",
};

constexpr std::array<std::string_view, 6> kStatusTypeNames = {
    "(Not active)", "(Modem status)", "(Line status)", "(Output buffer free)", "(Output buffer used)", "(Output sent)",
};

constexpr std::array<std::string_view, 8> kModemBitNames = {
    "DCTS ", "DDSR ", "TERI ", "DDCD ", "CTS ", "DSR ", "RI ", "DCD ",
};

// Seconds with milliseconds, at least seven digits: 1234 -> "0001.234".
std::string FormatTime(uint32_t ms) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%07u", ms);
    std::string text = digits;
    text.insert(text.size() - 3, 1, '.');
    return text;
}

}  // namespace

std::string_view LogKindName(uint8_t kind) {
    return kind < kKindNames.size() ? kKindNames[kind] : std::string_view();
}

std::string_view LogSubKindName(uint8_t subkind) {
    if (subkind < kSubKindNames.size()) {
        return kSubKindNames[subkind];
    }
    if (subkind >= kFirstPacketSubKind &&
        subkind - kFirstPacketSubKind < static_cast<int>(kPacketSubKindNames.size())) {
        return kPacketSubKindNames[subkind - kFirstPacketSubKind];
    }
    return {};
}

void DispatchLog::Start(uint32_t size, uint32_t scratchSize) {
    if (!present_) {
        size_ = std::min(size, kMaxSize);
        ring_.assign(size_, 0);
        scratch_.assign(scratchSize, 0);
        present_ = true;
        on_ = true;
    }
    Reset();
}

void DispatchLog::Pause() {
    on_ = false;
}

void DispatchLog::Resume() {
    on_ = present_;
}

void DispatchLog::Reset() {
    writePos_ = 0;
    readPos_ = 0;
    free_ = size_;
    count_ = 0;
}

void DispatchLog::Stop() {
    on_ = false;
    present_ = false;
    ring_ = {};
    scratch_ = {};
    size_ = 0;
    Reset();
}

void DispatchLog::Put(const uint8_t* data, uint32_t len) {
    const uint32_t first = std::min(len, size_ - writePos_);
    std::memcpy(ring_.data() + writePos_, data, first);
    std::memcpy(ring_.data(), data + first, len - first);
    writePos_ = (writePos_ + len) % size_;
    free_ -= len;
}

void DispatchLog::Get(uint32_t& position, uint8_t* data, uint32_t len) const {
    if (len == 0) {
        return;
    }
    const uint32_t first = std::min(len, size_ - position);
    std::memcpy(data, ring_.data() + position, first);
    std::memcpy(data + first, ring_.data(), len - first);
    position = (position + len) % size_;
}

DispatchLog::Header DispatchLog::GetHeader(uint32_t& position) const {
    uint8_t raw[kHeaderSize];
    Get(position, raw, kHeaderSize);
    Header header;
    header.kind = raw[0];
    header.subkind = raw[1];
    std::memcpy(&header.time, raw + 2, 4);
    std::memcpy(&header.dataWord, raw + 6, 4);
    std::memcpy(&header.length, raw + 10, 4);
    return header;
}

void DispatchLog::DropOldest() {
    uint32_t position = readPos_;
    const Header header = GetHeader(position);
    // Only whole entries are stored, so the data bytes need not be read to skip them.
    readPos_ = (position + header.length) % size_;
    free_ += kHeaderSize + header.length;
    --count_;
}

bool DispatchLog::Add(LogKind kind, LogSubKind subkind, uint32_t timeMs, uint32_t dataWord, const void* bytes,
                      uint32_t len) {
    if (!on_) {
        return false;
    }
    if (bytes == nullptr) {
        len = 0;
    }
    // Refused whole: storing the header alone would leave an entry that cannot be read back.
    const uint64_t total = uint64_t{kHeaderSize} + len;
    if (total >= size_) {
        return false;
    }
    while (free_ < total) {
        DropOldest();
    }

    uint8_t raw[kHeaderSize];
    raw[0] = static_cast<uint8_t>(kind);
    raw[1] = static_cast<uint8_t>(subkind);
    std::memcpy(raw + 2, &timeMs, 4);
    std::memcpy(raw + 6, &dataWord, 4);
    std::memcpy(raw + 10, &len, 4);
    Put(raw, kHeaderSize);
    if (len > 0) {
        Put(static_cast<const uint8_t*>(bytes), len);
    }
    ++count_;
    return true;
}

std::string DispatchLog::FormatEntry(const Header& header, const uint8_t* bytes, bool allHex, bool hex) const {
    char row[128];
    const std::string time = FormatTime(header.time);
    std::snprintf(row, sizeof row, "%8s  %-8s  %-12s  %08X  ", time.c_str(),
                  std::string(LogKindName(header.kind)).c_str(), std::string(LogSubKindName(header.subkind)).c_str(),
                  header.dataWord);
    std::string out = row;

    const auto kind = static_cast<LogKind>(header.kind);
    const auto subkind = static_cast<LogSubKind>(header.subkind);
    const bool statusType = subkind == LogSubKind::StatusTrigger &&
                            (kind == LogKind::TrigAllc || kind == LogKind::TrigDisp) && header.length > 0 &&
                            bytes[0] < kStatusTypeNames.size();
    if (header.length == 0) {
        // Telnet option names belong to a facility this system does not have.
    } else if (statusType) {
        out += kStatusTypeNames[bytes[0]];
    } else {
        // User entries are text: with allHex they still show their printable bytes.
        const bool itemAllHex = allHex && kind != LogKind::User;
        size_t column = kDataColumn;
        for (uint32_t i = 0; i < header.length; ++i) {
            const std::string item = TraceItem(bytes[i], itemAllHex, hex);
            if (column + item.size() >= kWrapColumn) {
                out += kLineBreak;
                out.append(kDataColumn - 1, ' ');
                column = kDataColumn + item.size();
            } else {
                column += item.size();
            }
            out += item;
        }
        if (subkind == LogSubKind::ModemStatus) {
            std::string names;
            for (size_t bit = 0; bit < kModemBitNames.size(); ++bit) {
                if (header.dataWord & (1u << bit)) {
                    names += kModemBitNames[bit];
                }
            }
            if (!names.empty()) {
                names.pop_back();
            }
            out += " (" + names + ")";
        }
    }
    out += kLineBreak;
    return out;
}

int32_t DispatchLog::Write(const std::string& fileName, bool append, bool allHex, bool hex,
                           const std::string& deviceName, const std::string& osDescription,
                           const std::string& localTime) {
    if (!present_ || count_ == 0) {
        Stop();
        return 0;
    }
    on_ = false;
    DiagnosticFile file;
    const int opened = file.Open(fileName, append);
    if (opened != 0) {
        return opened;
    }

    for (const std::string& line :
         {std::string("SERIAL ") + kComponentVersion, std::string("Compiler : Unknown"),
          "Operating System : " + osDescription, "Device: " + deviceName, "Date/time: " + localTime,
          std::string("Time      Type      SubType       Data      OtherData"),
          std::string("--------  --------  ------------  --------  ---------")}) {
        file.Write(line);
        file.Write(kLineBreak);
    }

    uint32_t position = readPos_;
    for (uint32_t n = 0; n < count_; ++n) {
        const Header header = GetHeader(position);
        // The scratch buffer grows for entries larger than expected rather than overrunning.
        if (scratch_.size() < header.length) {
            scratch_.resize(header.length);
        }
        Get(position, scratch_.data(), header.length);
        file.Write(FormatEntry(header, scratch_.data(), allHex, hex));
    }
    const int result = file.Close();
    Stop();
    return result;
}

}  // namespace hydrix::comm
