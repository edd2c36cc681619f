// Virtual-key codes and key-data bits as the terminal control takes them from its
// widget (Windows values), on their way to the emulator's KeyDown and KeyPress.
#pragma once

#include <cstdint>

namespace hydrix::terminal {

// Modifier keys held with a key: a set of these flags.
using ShiftState = uint8_t;
constexpr ShiftState ssShift = 0x01;
constexpr ShiftState ssAlt = 0x02;
constexpr ShiftState ssCtrl = 0x04;

constexpr uint16_t VK_BACK = 0x08;
constexpr uint16_t VK_TAB = 0x09;
constexpr uint16_t VK_CLEAR = 0x0C;
constexpr uint16_t VK_RETURN = 0x0D;
constexpr uint16_t VK_SHIFT = 0x10;
constexpr uint16_t VK_CONTROL = 0x11;
constexpr uint16_t VK_MENU = 0x12;
constexpr uint16_t VK_ESCAPE = 0x1B;
constexpr uint16_t VK_PRIOR = 0x21;
constexpr uint16_t VK_NEXT = 0x22;
constexpr uint16_t VK_END = 0x23;
constexpr uint16_t VK_HOME = 0x24;
constexpr uint16_t VK_LEFT = 0x25;
constexpr uint16_t VK_UP = 0x26;
constexpr uint16_t VK_RIGHT = 0x27;
constexpr uint16_t VK_DOWN = 0x28;
constexpr uint16_t VK_EXECUTE = 0x2B;
constexpr uint16_t VK_INSERT = 0x2D;
constexpr uint16_t VK_DELETE = 0x2E;
constexpr uint16_t VK_NUMPAD0 = 0x60;
constexpr uint16_t VK_NUMPAD1 = 0x61;
constexpr uint16_t VK_NUMPAD2 = 0x62;
constexpr uint16_t VK_NUMPAD3 = 0x63;
constexpr uint16_t VK_NUMPAD4 = 0x64;
constexpr uint16_t VK_NUMPAD5 = 0x65;
constexpr uint16_t VK_NUMPAD6 = 0x66;
constexpr uint16_t VK_NUMPAD7 = 0x67;
constexpr uint16_t VK_NUMPAD8 = 0x68;
constexpr uint16_t VK_NUMPAD9 = 0x69;
constexpr uint16_t VK_DECIMAL = 0x6E;

// Key data (the lParam of a key message): bit 24 extended key, bit 29 Alt held,
// bit 30 the key was already down (auto-repeat).
constexpr uint32_t kKeyDataExtended = 1u << 24;
constexpr uint32_t kKeyDataAlt = 1u << 29;
constexpr uint32_t kKeyDataRepeat = 1u << 30;
// Or-ed into an auto-repeated key before the emulator sees it.
constexpr uint16_t kKeyRepeatFlag = 0x8000;

// Keypad keys sent without the extended flag while NumLock is off, and their keypad
// codes; other keys come back unchanged.
uint16_t MapKeypadKey(uint16_t key);

}  // namespace hydrix::terminal
