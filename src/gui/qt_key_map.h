// Qt key events on their way to the terminal control: the virtual-key code, the key
// data and the shift state the control expects, and the character the key types (the
// one the system's key translation would produce), if any.
#pragma once

#include <QKeyEvent>

#include <cstdint>
#include <optional>

#include "terminal/terminal_emulator.h"

namespace hydrix::gui {

struct TranslatedKey {
    uint16_t Key = 0;      // virtual-key code, 0 when the key has none
    uint32_t KeyData = 0;  // repeat count 1, extended / Alt / auto-repeat bits
    terminal::ShiftState Shift = 0;
    std::optional<uint8_t> Char;  // the typed byte, nothing for non-character keys
};

TranslatedKey TranslateKey(int qtKey, Qt::KeyboardModifiers modifiers, const QString& text, bool autoRepeat);
TranslatedKey TranslateKey(const QKeyEvent& event);

}  // namespace hydrix::gui
