// The terminal control's keyboard path: the key-down notice before translation (copy,
// cancel, keypad mapping), the key-down step and the character step to the emulator.
#include "terminal/terminal_keys.h"

#include "terminal/terminal_control.h"

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

bool CustomTerminal::PreviewKeyDown(uint16_t key, uint32_t keyData, ShiftState shift) {
    if (selecting_ && key == VK_ESCAPE) {
        CancelMode();
        return true;
    }
    const bool ctrlOnly = (shift & ssCtrl) != 0 && (shift & (ssShift | ssAlt)) == 0;
    if (hasSelection_ && ctrlOnly && (key == 'C' || key == VK_INSERT)) {
        CopySelection();
        return true;
    }
    if (key >= VK_SHIFT && key <= VK_MENU) {
        return false;
    }
    if ((keyData & kKeyDataExtended) == 0) {
        // Without a widget the NumLock state is unknown: the keys stay as they are.
        if (host_ != nullptr && !host_->NumLockOn()) {
            key = MapKeypadKey(key);
        }
    } else if (key == VK_RETURN) {
        key = VK_EXECUTE;
    }
    if ((keyData & kKeyDataRepeat) != 0) {
        key |= kKeyRepeatFlag;
    }
    emulator_->KeyDown(key, shift);
    return key == 0;
}

void CustomTerminal::KeyDown(uint16_t& key, ShiftState shift) {
    if (OnKeyDown) {
        const KeyEvent handler = OnKeyDown;
        handler(*this, key, shift);
    }
    if (!wantAllKeys_ && key != 0) {
        emulator_->KeyDown(key, shift);
    }
}

void CustomTerminal::KeyPress(uint8_t& ch) {
    if (OnKeyPress) {
        const KeyPressEvent handler = OnKeyPress;
        handler(*this, ch);
    }
    if (ch == 0) {
        return;
    }
    emulator_->KeyPress(ch);
    if (!useLazyDisplay_ && emulator_->NeedsUpdate()) {
        PaintStep();
    }
}

}  // namespace hydrix::terminal
