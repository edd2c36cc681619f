// The device under an open port, as the dispatcher reaches it: open and close, bytes
// in and out, the waits its threads make, the line state and the modem lines. The
// dispatcher owns one and is the only caller; the tests put a device of their own here.
#pragma once

#include <cstdint>
#include <string>

#include "platform/serial_device.h"

namespace hydrix::comm {

// Escape codes for the break condition, beside the platform's DTR/RTS codes.
constexpr int kSetBreak = 8;
constexpr int kClrBreak = 9;
constexpr int kGetBaseIrq = 10;

// What the device can tell of the last failed open: its own text (naming the port, the
// device and what is wrong) and who holds the device; empty where it cannot.
struct OpenFailure {
    std::string text;
    std::string holder;
};

// One look at the driver's receiving side: line error flags (kCe*) counted since the last
// look, and bytes waiting to be read.
struct DriverStatus {
    uint32_t Errors = 0;
    uint32_t InQueue = 0;
};

class PortDevice {
public:
    virtual ~PortDevice() = default;

    // 0, or a negative code (platform::kOpen* or minus the platform error).
    virtual int Open(const std::string& name) = 0;
    // 0 or -1. Ends a pending event wait.
    virtual int Close() = 0;
    virtual OpenFailure LastOpenFailure() const = 0;
    // The driver's queue sizes; a driver whose queues have a fixed size accepts any.
    virtual bool SizeQueues(int inSize, int outSize) = 0;

    // Never block: bytes moved (0 when there is nothing to read or no room), or negative.
    virtual int Read(void* buffer, int count) = 0;
    virtual int Write(const void* buffer, int count) = 0;
    // 1 when the device takes more output, 0 on time-out or cancel, negative on failure.
    virtual int WaitWritable(uint32_t timeoutMs) = 0;
    // Ends the pending WaitWritable, or the next one when none is pending.
    virtual void CancelWriteWait() = 0;
    virtual int Purge(bool input, bool output) = 0;

    // The events (platform::kEv*) the next waits report; 0 ends a pending wait.
    virtual void SetEventMask(uint32_t mask) = 0;
    // Blocks until an event of the mask: its bits (0 when the wait was ended or timeoutMs,
    // platform::kInfinite for none, ran out), or negative.
    virtual int WaitEvent(uint32_t& events, uint32_t timeoutMs) = 0;

    virtual int GetState(platform::DeviceState& state) = 0;
    virtual int SetState(const platform::DeviceState& state) = 0;
    // DTR and RTS (platform::kSet*, kClr*) and the break (kSetBreak, kClrBreak); 0 where
    // the line has no such signal.
    virtual int Escape(int code) = 0;
    // The modem signals (platform::kModem* bits), or negative.
    virtual int ModemStatus() = 0;
    // Modem-signal changes (platform::kEv*) found since the last call, where the device
    // reports none as events.
    virtual uint32_t ModemChanges() = 0;
    virtual DriverStatus ReadStatus() = 0;
    // Bytes the driver still holds for sending. Asked apart, as only a few callers need it.
    virtual uint32_t OutQueue() = 0;
    // The line went away under the open port: nothing more comes until it is opened again.
    virtual bool HungUp() const = 0;
};

}  // namespace hydrix::comm
