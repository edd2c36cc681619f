// Dispatch log of one open port: the dispatcher's own activity (device reads and writes,
// triggers, handlers) and entries of other components, with millisecond times, kept in a
// byte ring of whole entries and written to a text file on request. Called under the
// dispatcher's lock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hydrix::comm {

enum class LogKind : uint8_t {
    NoEvent = 0,
    Dispatch = 1,
    Trigger = 2,
    Error = 3,
    Thread = 4,
    TrigAllc = 5,
    TrigDisp = 6,
    TrgHdAlc = 7,
    TrgHdDsp = 8,
    TrDatChg = 9,
    Telnet = 10,
    Fax = 11,
    XModem = 12,
    YModem = 13,
    ZModem = 14,
    Kermit = 15,
    Ascii = 16,
    BPlus = 17,
    Packet = 18,
    User = 19,
    Script = 20,
};

// 5..8 go with kind Trigger (fired) and TrigDisp; 13..16 with TrigAllc, TrigDisp and TrDatChg.
enum class LogSubKind : uint8_t {
    None = 0,
    ReadCom = 1,
    WriteCom = 2,
    LineStatus = 3,
    ModemStatus = 4,
    Avail = 5,
    Timer = 6,
    Data = 7,
    Status = 8,
    Start = 9,
    Exit = 10,
    Sleep = 11,
    Wake = 12,
    DataTrigger = 13,
    TimerTrigger = 14,
    StatusTrigger = 15,
    AvailTrigger = 16,
    Window = 17,
    Procedure = 18,
    Method = 19,
    Enable = 242,
    Disable = 243,
    StringPacket = 244,
    SizePacket = 245,
    PcktTimeout = 246,
    StartStr = 247,
    EndStr = 248,
    Idle = 249,
    Waiting = 250,
    Collecting = 251,
};

// Names shown in the file; "" for values without one.
std::string_view LogKindName(uint8_t kind);
std::string_view LogSubKindName(uint8_t subkind);

class DispatchLog {
public:
    static constexpr uint32_t kMaxSize = 16000000;
    // kind, subkind, time, data word, length.
    static constexpr uint32_t kHeaderSize = 14;

    // Allocates a ring of size bytes (clamped to kMaxSize) and sets logging on; with a ring
    // present only empties it and leaves logging as it was. scratchSize is the expected
    // largest entry (max of the port's InSize and OutSize); larger entries are still read
    // back whole.
    void Start(uint32_t size, uint32_t scratchSize);
    void Pause();
    // Logging on again if a ring exists.
    void Resume();
    void Reset();
    // Logging off, ring freed.
    void Stop();

    // timeMs: milliseconds since the log start. Stores the entry while logging is on,
    // dropping the oldest whole entries for room. An entry of header + len >= the ring
    // size is refused whole. True when stored.
    bool Add(LogKind kind, LogSubKind subkind, uint32_t timeMs, uint32_t dataWord, const void* bytes, uint32_t len);

    // Writes the entries oldest first and stops the log. 0, or minus errno (a failed open
    // keeps the log, logging off). An empty log creates no file. localTime is
    // "dd/mm/yy, hh:mm:ss".
    int32_t Write(const std::string& fileName, bool append, bool allHex, bool hex, const std::string& deviceName,
                  const std::string& osDescription, const std::string& localTime);

    bool On() const { return on_; }
    bool Present() const { return present_; }
    uint32_t Size() const { return size_; }
    // Bytes held (headers and data).
    uint32_t Used() const { return size_ - free_; }
    // Entries held.
    uint32_t Count() const { return count_; }

private:
    struct Header {
        uint8_t kind = 0;
        uint8_t subkind = 0;
        uint32_t time = 0;
        uint32_t dataWord = 0;
        uint32_t length = 0;
    };

    void Put(const uint8_t* data, uint32_t len);
    void Get(uint32_t& position, uint8_t* data, uint32_t len) const;
    Header GetHeader(uint32_t& position) const;
    void DropOldest();
    std::string FormatEntry(const Header& header, const uint8_t* bytes, bool allHex, bool hex) const;

    std::vector<uint8_t> ring_;
    std::vector<uint8_t> scratch_;
    uint32_t size_ = 0;
    uint32_t writePos_ = 0;
    uint32_t readPos_ = 0;
    uint32_t free_ = 0;
    uint32_t count_ = 0;
    bool present_ = false;
    bool on_ = false;
};

}  // namespace hydrix::comm
