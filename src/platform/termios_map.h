// Between the dispatcher's device state and the line discipline: pure functions that turn
// a DeviceState into a termios and back. The serial device writes the result to the tty;
// tests check the mapping on a plain struct.
#pragma once

#include <linux/serial.h>
#include <termios.h>

#include <cstdint>

#include "platform/serial_device.h"

namespace hydrix::platform {

// StateToTermios results besides -EINVAL.
constexpr int kStandardBaud = 0;  // the rate is set in the struct
constexpr int kCustomBaud = 1;    // no B-constant fits: the caller sets the rate through termios2

// Raw mode: no echo, line editing, signals, CR/NL translation or output processing; the
// receiver on, modem control lines ignored for reading, DTR and RTS dropped on close. VMIN 1, VTIME 0: on the
// non-blocking descriptor a read returns what is there or fails with EAGAIN.
void MakeRaw(termios& t);

// The B-constant of a rate; false when there is none.
bool BaudToSpeed(uint32_t baud, speed_t& speed);
// The rate of a B-constant; 0 for any other value (such as BOTHER).
uint32_t SpeedToBaud(speed_t speed);

// 0, or -EINVAL for a size other than 5 to 8.
int SetDataBits(termios& t, uint8_t byteSize);
// 0, or -EINVAL for an unknown parity code. Mark and space use CMSPAR.
int SetParity(termios& t, uint8_t parity, bool check);
// 0, or -EINVAL for an unknown code. One and a half stop bits become two (CSTOPB): Linux has
// no 1.5, and a UART given CSTOPB with five data bits sends 1.5 anyway.
int SetStopBits(termios& t, uint8_t stopBits);
// CRTSCTS when CTS governs output or RTS handshakes; IXON for output, IXOFF for input, and
// the XON/XOFF characters. DTR/DSR handshake, RTS toggle and the XON/XOFF limits have no
// termios counterpart and are ignored (RTS toggle goes to the driver's RS-485 support).
void SetFlowControl(termios& t, const DeviceState& state);

// The whole state on top of raw mode: kStandardBaud, kCustomBaud, or -EINVAL for a value
// no line can have (baud 0, an unknown size, parity or stop-bit code).
int StateToTermios(const DeviceState& state, termios& t);

// Updates the fields of state that termios determines; leaves the rest (and the baud rate
// when the speed is not a B-constant) as they are, so that a state written and read back
// compares equal.
void TermiosToState(const termios& t, DeviceState& state);

// The RTS-toggle mode as the kernel's RS-485 settings: on, RS-485 enabled with RTS raised
// while sending and dropped after it; off, RS-485 disabled. The board's other settings
// (delays, termination, receiving during sending) are kept from current.
serial_rs485 Rs485Config(bool rtsToggle, const serial_rs485& current);

}  // namespace hydrix::platform
