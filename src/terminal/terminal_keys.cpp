#include "terminal/terminal_keys.h"

namespace hydrix::terminal {

uint16_t MapKeypadKey(uint16_t key) {
    switch (key) {
    case VK_CLEAR:
        return VK_NUMPAD5;
    case VK_PRIOR:
        return VK_NUMPAD9;
    case VK_NEXT:
        return VK_NUMPAD3;
    case VK_END:
        return VK_NUMPAD1;
    case VK_HOME:
        return VK_NUMPAD7;
    case VK_LEFT:
        return VK_NUMPAD4;
    case VK_UP:
        return VK_NUMPAD8;
    case VK_RIGHT:
        return VK_NUMPAD6;
    case VK_DOWN:
        return VK_NUMPAD2;
    case VK_INSERT:
        return VK_NUMPAD0;
    case VK_DELETE:
        return VK_DECIMAL;
    default:
        return key;
    }
}

}  // namespace hydrix::terminal
