// The serial device under the dispatcher's device layer: every termios, ioctl and poll
// call of the program lives behind this class. The dispatcher's threads read, write and
// wait for line events through it; nothing above it sees a file descriptor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/event.h"  // kInfinite

namespace hydrix::platform {

// The device state ("device control block"): what the dispatcher reads and writes.
struct DeviceState {
    enum : uint8_t { DtrDisable = 0, DtrEnable = 1, DtrHandshake = 2 };
    enum : uint8_t { RtsDisable = 0, RtsEnable = 1, RtsHandshake = 2, RtsToggle = 3 };
    enum : uint8_t { NoParity = 0, OddParity = 1, EvenParity = 2, MarkParity = 3, SpaceParity = 4 };
    enum : uint8_t { OneStopBit = 0, One5StopBits = 1, TwoStopBits = 2 };

    uint32_t BaudRate = 9600;
    bool Binary = true;
    bool ParityCheck = false;
    bool OutxCtsFlow = false;
    bool OutxDsrFlow = false;
    uint8_t DtrControl = DtrEnable;
    bool DsrSensitivity = false;
    bool TxContinueOnXoff = true;
    bool OutX = false;  // XON/XOFF for output
    bool InX = false;   // XON/XOFF for input
    bool Null = false;
    uint8_t RtsControl = RtsEnable;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 8;
    uint8_t Parity = NoParity;
    uint8_t StopBits = OneStopBit;
    uint8_t XonChar = 17;
    uint8_t XoffChar = 19;

    bool operator==(const DeviceState&) const = default;
};

// Modem status bits as the dispatcher keeps them (the signal nibble).
constexpr uint32_t kModemCts = 0x10;
constexpr uint32_t kModemDsr = 0x20;
constexpr uint32_t kModemRing = 0x40;
constexpr uint32_t kModemDcd = 0x80;

// Device event bits, as the com thread's event mask uses them.
constexpr uint32_t kEvRxChar = 0x0001;
constexpr uint32_t kEvCts = 0x0008;
constexpr uint32_t kEvDsr = 0x0010;
constexpr uint32_t kEvRlsd = 0x0020;
constexpr uint32_t kEvBreak = 0x0040;
constexpr uint32_t kEvErr = 0x0080;
constexpr uint32_t kEvRing = 0x0100;
// A ring indication some drivers report as an event of its own; counted as a modem change.
constexpr uint32_t kEvRingTrailingEdge = 0x2000;

// Line error flags (accumulated by the dispatcher).
constexpr uint32_t kCeRxOver = 0x01;
constexpr uint32_t kCeOverrun = 0x02;
constexpr uint32_t kCeRxParity = 0x04;
constexpr uint32_t kCeFrame = 0x08;
constexpr uint32_t kCeBreak = 0x10;

// Line escape codes.
constexpr int kSetRts = 3;
constexpr int kClrRts = 4;
constexpr int kSetDtr = 5;
constexpr int kClrDtr = 6;

// What a failed open returns (other failures are -errno).
constexpr int kOpenNoDevice = -2;   // does not exist, or no hardware behind the device file
constexpr int kOpenNoPath = -3;     // the path to it does not exist
constexpr int kOpenInUse = -5;      // held by another opener
constexpr int kOpenNoAccess = -13;  // no permission (-EACCES)

class SerialDevice {
public:
    SerialDevice();
    ~SerialDevice();
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    // "COMn": $WINEPREFIX/dosdevices/comN (WINEPREFIX defaults to ~/.wine) when that
    // exists, else /dev/ttyS<n-1>.
    // A link that exists but points nowhere is kept (opening it gives -2), so an unplugged
    // adapter never falls back to another port. Empty for n < 1.
    static std::string ComPortPath(int comNumber);
    // A name the port formed ("COM3") or a device path.
    // "COMn" in any case, also with a "\\.\" prefix, maps through ComPortPath; anything
    // else is returned as it is.
    static std::string ResolveDeviceName(const std::string& name);

    // Exclusive raw open. 0, or kOpenNoDevice (also a device file with no hardware behind
    // it), kOpenInUse, kOpenNoAccess (LastErrorText names the device and the dialout
    // group), or -errno; no other failure reads as kOpenInUse.
    // Held means: a UUCP lock file in LockFolders() that another lock holds (flocked) or
    // that names a live process, another opener that checks flock or TIOCEXCL, or another
    // process that keeps the same device open (not this process, not the far end of a
    // pseudo-terminal). The lock is taken before the device is opened and kept, flocked,
    // while open. A path that is no serial device (a file, a folder, a link loop) fails
    // with its code and a LastErrorText that names the port, the device and what it is.
    int Open(const std::string& name);
    int Close();
    bool IsOpen() const;
    const std::string& LastErrorText() const;
    // Who held the port when the last open failed with kOpenInUse ("PID 1234 (minicom)"); empty
    // when no holder could be seen.
    const std::string& LastHolder() const;

    // 0 or a negative code (-2 when the device has gone, else -errno). GetState fills the
    // struct from the device; SetState writes it.
    // What termios cannot hold (DTR/DSR handshake, XON/XOFF limits, the other flags) is
    // accepted and read back as last written. RTS toggle turns on the driver's RS-485
    // mode where it has one, and is recorded and ignored where it has not. Values no line can have (ByteSize
    // outside 5..8, unknown parity or stop-bit code, baud 0) give -EINVAL. DTR and RTS set
    // to enabled or disabled take that level at once. Pseudo-terminals hold 8 data bits and
    // no parity whatever is written, and GetState reports what the driver holds.
    int GetState(DeviceState& state) const;
    int SetState(const DeviceState& state);

    // Never blocks: bytes read (0 when nothing is there), or -errno (-EIO after a hang-up).
    int Read(void* buffer, size_t count);
    // Never blocks: bytes accepted (0 when the driver is full), or -errno.
    int Write(const void* buffer, size_t count);
    // Waits until the device takes more output: 1 writable, 0 time-out or cancelled, -errno.
    // Right after a refused write, "writable at once" is answered after a short pause:
    // pseudo-terminals report it while still refusing writes.
    int WaitWritable(uint32_t timeoutMs);
    // Latched like an auto-reset event: a cancel made while no wait is pending ends the
    // next WaitWritable, so a flush request is never lost.
    void CancelWriteWait();

    // The escape codes above; 0 or -errno.
    // -EINVAL for another code. A driver without modem lines (a pseudo-terminal) gives 0:
    // there is no line to set.
    int EscapeFunction(int code);
    // kModem* bits of the current signals, or -errno.
    // 0 (no signals) where the driver has no modem lines, as on pseudo-terminals.
    int ModemStatus() const;
    // Modem-line changes since the last call (kEvCts, kEvDsr, kEvRlsd, kEvRing), for a
    // caller that looks at a fixed interval. Where the driver can wait for a change itself
    // (TIOCMIWAIT, with TIOCGICOUNT counters: the 8250 and most USB adapters), a thread of
    // the device waits there and WaitEvent reports the change at once; this call then hands
    // over what a counter read saw and samples the lines (TIOCMGET) only at every 20th call,
    // for a driver whose wait never ends. Elsewhere it samples them at every call.
    uint32_t ModemChanges();
    int SetBreak(bool on);
    int Purge(bool input, bool output);
    // Bytes in the driver's queues, or -errno. (A pseudo-terminal's output queue always
    // reads 0: what its far end has not read is held beyond the count.)
    int InQueue() const;
    int OutQueue() const;
    // kCe* flags of line errors counted by the driver since the last call (0 where the
    // driver keeps no counters, as on pseudo-terminals). The driver is asked only when bytes
    // came since: it counts errors and breaks as it receives.
    uint32_t TakeLineErrors();
    // The line hung up (a pulled adapter, a closed pseudo-terminal master): nothing more
    // will come from it until it is opened again.
    bool HungUp() const;

    // Device events. SetEventMask(0) ends a pending wait. WaitEvent blocks until an event
    // of the mask occurs and returns its bits (0 when the wait was ended), or -errno.
    // Events are edge-like: kEvRxChar is reported when new bytes arrived, so unread bytes
    // in the driver never make the caller spin; a hang-up is reported once (kEvErr) and
    // later waits block until ended.
    // Any SetEventMask, and Close, ends a pending wait with 0, and so does the end of
    // timeoutMs (kInfinite: no limit). Line errors, breaks and modem changes are taken from
    // the driver's counters when a wait wakes (none on ptys).
    void SetEventMask(uint32_t mask);
    int WaitEvent(uint32_t& events, uint32_t timeoutMs = kInfinite);
    // Waits (WaitEvent, WaitWritable) blocked in the device's poll just now, so that a test
    // can end a wait it knows to be pending.
    int BlockedWaits() const;

private:
    // The byte count of a driver queue (FIONREAD, TIOCOUTQ), or -errno.
    int QueueCount(unsigned long request) const;

    struct Impl;
    Impl* impl_;
};

}  // namespace hydrix::platform
