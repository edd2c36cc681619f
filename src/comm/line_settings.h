// Line settings between the port's properties and the device state: how the four
// framing values are normalised, how a stored baud code reads back, and how long the
// line needs to drain before a change.
#pragma once

#include <cstdint>

#include "platform/serial_device.h"

namespace hydrix::comm {

struct LineValues {
    uint32_t Baud = 0;
    uint8_t Parity = 0;
    uint8_t ByteSize = 8;
    uint8_t StopBits = 0;  // DeviceState codes

    bool operator==(const LineValues&) const = default;
};

// The line state the dispatcher keeps: the device state as last read or written, the
// levels asked for DTR and RTS and whether flow control owns those lines.
struct LineControl {
    platform::DeviceState State;
    int32_t LastBaud = 115200;  // as last applied
    bool DtrOn = false;
    bool DtrFlow = false;
    bool RtsOn = false;
    bool RtsFlow = false;
    bool Rs485 = false;
    uint16_t UartBase = 0;
    uint32_t HwFlowOptions = 0;  // as last configured; RTS handshake outlives RS-485 mode
};

// Parity 5, data bits 9 and stop bits 3 keep the current setting; stop bits 0 is one,
// other values above 2 are two, and 5 data bits always get one and a half.
LineValues NormalizeLineSettings(const platform::DeviceState& current, int32_t baud, int parity, int stopBits,
                                 int dataBits);

LineValues CurrentLineValues(const platform::DeviceState& state);

// A baud rate as read back: legacy rate codes become rates, other values stay.
int32_t TranslateBaud(uint32_t raw);

// Time for 18 characters at the given baud rate and framing, in whole milliseconds.
uint32_t DrainSleepMs(int32_t baud, const platform::DeviceState& state);

}  // namespace hydrix::comm
