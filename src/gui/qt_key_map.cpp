#include "gui/qt_key_map.h"

#include "terminal/terminal_keys.h"

namespace hydrix::gui {

namespace {

using namespace terminal;

constexpr uint16_t VK_SPACE = 0x20;
constexpr uint16_t VK_F1 = 0x70;
constexpr uint16_t VK_MULTIPLY = 0x6A;
constexpr uint16_t VK_ADD = 0x6B;
constexpr uint16_t VK_SUBTRACT = 0x6D;
constexpr uint16_t VK_DIVIDE = 0x6F;

// Keys outside the keypad that the system marks as extended.
bool IsExtendedNavigation(uint16_t vk) {
    return (vk >= VK_PRIOR && vk <= VK_DOWN) || vk == VK_INSERT || vk == VK_DELETE;
}

// Punctuation keys of the US layout, their shifted symbols included, as VK_OEM codes.
uint16_t OemKey(int key) {
    switch (key) {
    case Qt::Key_Semicolon:
    case Qt::Key_Colon:
        return 0xBA;
    case Qt::Key_Equal:
    case Qt::Key_Plus:
        return 0xBB;
    case Qt::Key_Comma:
    case Qt::Key_Less:
        return 0xBC;
    case Qt::Key_Minus:
    case Qt::Key_Underscore:
        return 0xBD;
    case Qt::Key_Period:
    case Qt::Key_Greater:
        return 0xBE;
    case Qt::Key_Slash:
    case Qt::Key_Question:
        return 0xBF;
    case Qt::Key_QuoteLeft:
    case Qt::Key_AsciiTilde:
        return 0xC0;
    case Qt::Key_BracketLeft:
    case Qt::Key_BraceLeft:
        return 0xDB;
    case Qt::Key_Backslash:
    case Qt::Key_Bar:
        return 0xDC;
    case Qt::Key_BracketRight:
    case Qt::Key_BraceRight:
        return 0xDD;
    case Qt::Key_Apostrophe:
    case Qt::Key_QuoteDbl:
        return 0xDE;
    default:
        return 0;
    }
}

// Shifted digits of the US layout, back to their digit key.
uint16_t ShiftedDigit(int key) {
    switch (key) {
    case Qt::Key_Exclam:
        return '1';
    case Qt::Key_At:
        return '2';
    case Qt::Key_NumberSign:
        return '3';
    case Qt::Key_Dollar:
        return '4';
    case Qt::Key_Percent:
        return '5';
    case Qt::Key_AsciiCircum:
        return '6';
    case Qt::Key_Ampersand:
        return '7';
    case Qt::Key_Asterisk:
        return '8';
    case Qt::Key_ParenLeft:
        return '9';
    case Qt::Key_ParenRight:
        return '0';
    default:
        return 0;
    }
}

uint16_t VirtualKey(int key, bool keypad) {
    if (key >= Qt::Key_A && key <= Qt::Key_Z) {
        return static_cast<uint16_t>('A' + key - Qt::Key_A);
    }
    if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        const int digit = key - Qt::Key_0;
        return static_cast<uint16_t>(keypad ? VK_NUMPAD0 + digit : '0' + digit);
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) {
        return static_cast<uint16_t>(VK_F1 + key - Qt::Key_F1);
    }
    switch (key) {
    case Qt::Key_Backspace:
        return VK_BACK;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return VK_TAB;
    case Qt::Key_Clear:
        return VK_CLEAR;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return VK_RETURN;
    case Qt::Key_Shift:
        return VK_SHIFT;
    case Qt::Key_Control:
        return VK_CONTROL;
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
        return VK_MENU;
    case Qt::Key_Escape:
        return VK_ESCAPE;
    case Qt::Key_Space:
        return VK_SPACE;
    case Qt::Key_PageUp:
        return VK_PRIOR;
    case Qt::Key_PageDown:
        return VK_NEXT;
    case Qt::Key_End:
        return VK_END;
    case Qt::Key_Home:
        return VK_HOME;
    case Qt::Key_Left:
        return VK_LEFT;
    case Qt::Key_Up:
        return VK_UP;
    case Qt::Key_Right:
        return VK_RIGHT;
    case Qt::Key_Down:
        return VK_DOWN;
    case Qt::Key_Insert:
        return VK_INSERT;
    case Qt::Key_Delete:
        return keypad ? VK_DECIMAL : VK_DELETE;
    default:
        break;
    }
    if (keypad) {
        switch (key) {
        case Qt::Key_Asterisk:
            return VK_MULTIPLY;
        case Qt::Key_Plus:
            return VK_ADD;
        case Qt::Key_Minus:
            return VK_SUBTRACT;
        case Qt::Key_Slash:
            return VK_DIVIDE;
        case Qt::Key_Period:
        case Qt::Key_Comma:
            return VK_DECIMAL;
        default:
            break;
        }
    }
    if (uint16_t digit = ShiftedDigit(key)) {
        return digit;
    }
    return OemKey(key);
}

// The character the key types, as the system's translation gives it: control codes
// for Ctrl+letter and the editing keys, nothing for Alt combinations (system keys) and
// for keys that type nothing.
std::optional<uint8_t> TypedChar(uint16_t vk, int key, Qt::KeyboardModifiers mods, const QString& text) {
    const bool ctrl = mods & Qt::ControlModifier;
    const bool alt = mods & Qt::AltModifier;
    if (alt) {
        return std::nullopt;
    }
    if (ctrl) {
        if (vk >= 'A' && vk <= 'Z') {
            return static_cast<uint8_t>(vk - 'A' + 1);
        }
        switch (key) {
        case Qt::Key_BracketLeft:
            return uint8_t{27};
        case Qt::Key_Backslash:
            return uint8_t{28};
        case Qt::Key_BracketRight:
            return uint8_t{29};
        case Qt::Key_Backspace:
            return uint8_t{127};
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return uint8_t{10};
        default:
            break;
        }
    }
    switch (vk) {
    case VK_BACK:
        return uint8_t{8};
    case VK_TAB:
        return uint8_t{9};
    case VK_RETURN:
        return uint8_t{13};
    case VK_ESCAPE:
        return uint8_t{27};
    case VK_DELETE:
    case VK_INSERT:
        return std::nullopt;
    default:
        break;
    }
    if (ctrl || text.size() != 1) {
        return std::nullopt;
    }
    const char16_t c = text.at(0).unicode();
    // Printable characters only; what the system types as bytes is Latin-1 here.
    if (c < 0x20 || c == 0x7F || c > 0xFF) {
        return std::nullopt;
    }
    return static_cast<uint8_t>(c);
}

}  // namespace

TranslatedKey TranslateKey(int qtKey, Qt::KeyboardModifiers modifiers, const QString& text, bool autoRepeat) {
    const bool keypad = modifiers & Qt::KeypadModifier;
    TranslatedKey out;
    out.Key = VirtualKey(qtKey, keypad);
    out.KeyData = 1;
    if ((!keypad && IsExtendedNavigation(out.Key)) || (keypad && out.Key == VK_RETURN) || out.Key == VK_DIVIDE) {
        out.KeyData |= kKeyDataExtended;
    }
    if (modifiers & Qt::AltModifier) {
        out.KeyData |= kKeyDataAlt;
    }
    if (autoRepeat) {
        out.KeyData |= kKeyDataRepeat;
    }
    if (modifiers & Qt::ShiftModifier) {
        out.Shift |= ssShift;
    }
    if (modifiers & Qt::ControlModifier) {
        out.Shift |= ssCtrl;
    }
    if (modifiers & Qt::AltModifier) {
        out.Shift |= ssAlt;
    }
    out.Char = TypedChar(out.Key, qtKey, modifiers, text);
    return out;
}

TranslatedKey TranslateKey(const QKeyEvent& event) {
    return TranslateKey(event.key(), event.modifiers(), event.text(), event.isAutoRepeat());
}

}  // namespace hydrix::gui
