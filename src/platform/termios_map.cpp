#include "platform/termios_map.h"

#include <cerrno>
#include <iterator>

namespace hydrix::platform {

namespace {

struct BaudEntry {
    uint32_t baud;
    speed_t speed;
};

constexpr BaudEntry kBauds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

}  // namespace

void MakeRaw(termios& t) {
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK | IGNPAR |
                   IMAXBEL | IUCLC);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    // HUPCL: closing the port drops DTR and RTS, as on the host software's own platform, so
    // the instrument sees the station leave whatever the last program left set.
    t.c_cflag |= CS8 | CREAD | CLOCAL | HUPCL;
    // VMIN 1: with 0 a read of an empty queue gives 0 (taken for end-of-file) instead of
    // EAGAIN, even on a non-blocking descriptor.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
}

bool BaudToSpeed(uint32_t baud, speed_t& speed) {
    for (const auto& entry : kBauds) {
        if (entry.baud == baud) {
            speed = entry.speed;
            return true;
        }
    }
    return false;
}

uint32_t SpeedToBaud(speed_t speed) {
    for (const auto& entry : kBauds) {
        if (entry.speed == speed) {
            return entry.baud;
        }
    }
    return 0;
}

int SetDataBits(termios& t, uint8_t byteSize) {
    tcflag_t size;
    switch (byteSize) {
    case 5:
        size = CS5;
        break;
    case 6:
        size = CS6;
        break;
    case 7:
        size = CS7;
        break;
    case 8:
        size = CS8;
        break;
    default:
        return -EINVAL;
    }
    t.c_cflag = (t.c_cflag & ~CSIZE) | size;
    return 0;
}

int SetParity(termios& t, uint8_t parity, bool check) {
    tcflag_t flags;
    switch (parity) {
    case DeviceState::NoParity:
        flags = 0;
        break;
    case DeviceState::OddParity:
        flags = PARENB | PARODD;
        break;
    case DeviceState::EvenParity:
        flags = PARENB;
        break;
    case DeviceState::MarkParity:
        flags = PARENB | CMSPAR | PARODD;
        break;
    case DeviceState::SpaceParity:
        flags = PARENB | CMSPAR;
        break;
    default:
        return -EINVAL;
    }
    t.c_cflag = (t.c_cflag & ~(PARENB | PARODD | CMSPAR)) | flags;
    // Checking without PARMRK/IGNPAR: a byte with a parity error is read as NUL. Without
    // PARENB the flag has no effect; it is kept so that the state reads back as written.
    if (check) {
        t.c_iflag |= INPCK;
    } else {
        t.c_iflag &= ~INPCK;
    }
    return 0;
}

int SetStopBits(termios& t, uint8_t stopBits) {
    switch (stopBits) {
    case DeviceState::OneStopBit:
        t.c_cflag &= ~CSTOPB;
        return 0;
    case DeviceState::One5StopBits:
    case DeviceState::TwoStopBits:
        t.c_cflag |= CSTOPB;
        return 0;
    default:
        return -EINVAL;
    }
}

void SetFlowControl(termios& t, const DeviceState& state) {
    if (state.OutxCtsFlow || state.RtsControl == DeviceState::RtsHandshake) {
        t.c_cflag |= CRTSCTS;
    } else {
        t.c_cflag &= ~CRTSCTS;
    }
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (state.OutX) {
        t.c_iflag |= IXON;
    }
    if (state.InX) {
        t.c_iflag |= IXOFF;
    }
    t.c_cc[VSTART] = static_cast<cc_t>(state.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(state.XoffChar);
}

serial_rs485 Rs485Config(bool rtsToggle, const serial_rs485& current) {
    serial_rs485 config = current;
    if (rtsToggle) {
        config.flags = (config.flags | SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND) & ~SER_RS485_RTS_AFTER_SEND;
    } else {
        config.flags &= ~SER_RS485_ENABLED;
    }
    return config;
}

int StateToTermios(const DeviceState& state, termios& t) {
    if (state.BaudRate == 0) {
        return -EINVAL;
    }
    termios out = t;
    MakeRaw(out);
    if (SetDataBits(out, state.ByteSize) < 0) {
        return -EINVAL;
    }
    if (SetParity(out, state.Parity, state.ParityCheck) < 0) {
        return -EINVAL;
    }
    if (SetStopBits(out, state.StopBits) < 0) {
        return -EINVAL;
    }
    SetFlowControl(out, state);
    speed_t speed;
    const bool standard = BaudToSpeed(state.BaudRate, speed);
    if (standard) {
        cfsetispeed(&out, speed);
        cfsetospeed(&out, speed);
    }
    t = out;
    return standard ? kStandardBaud : kCustomBaud;
}

void TermiosToState(const termios& t, DeviceState& state) {
    if (uint32_t baud = SpeedToBaud(cfgetospeed(&t))) {
        state.BaudRate = baud;
    }

    switch (t.c_cflag & CSIZE) {
    case CS5:
        state.ByteSize = 5;
        break;
    case CS6:
        state.ByteSize = 6;
        break;
    case CS7:
        state.ByteSize = 7;
        break;
    default:
        state.ByteSize = 8;
        break;
    }

    if (!(t.c_cflag & PARENB)) {
        state.Parity = DeviceState::NoParity;
    } else if (t.c_cflag & CMSPAR) {
        state.Parity = (t.c_cflag & PARODD) ? DeviceState::MarkParity : DeviceState::SpaceParity;
    } else {
        state.Parity = (t.c_cflag & PARODD) ? DeviceState::OddParity : DeviceState::EvenParity;
    }
    state.ParityCheck = (t.c_iflag & INPCK) != 0;

    // With five data bits CSTOPB means one and a half stop bits, as the state writes it.
    if (!(t.c_cflag & CSTOPB)) {
        state.StopBits = DeviceState::OneStopBit;
    } else {
        state.StopBits = state.ByteSize == 5 ? DeviceState::One5StopBits : DeviceState::TwoStopBits;
    }

    const bool rtscts = (t.c_cflag & CRTSCTS) != 0;
    const bool stateHasRtscts = state.OutxCtsFlow || state.RtsControl == DeviceState::RtsHandshake;
    if (rtscts != stateHasRtscts) {
        state.OutxCtsFlow = rtscts;
        if (rtscts) {
            state.RtsControl = DeviceState::RtsHandshake;
        } else if (state.RtsControl == DeviceState::RtsHandshake) {
            state.RtsControl = DeviceState::RtsEnable;
        }
    }
    state.OutX = (t.c_iflag & IXON) != 0;
    state.InX = (t.c_iflag & IXOFF) != 0;
    state.XonChar = t.c_cc[VSTART];
    state.XoffChar = t.c_cc[VSTOP];
}

}  // namespace hydrix::platform
