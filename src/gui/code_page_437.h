// How the terminal's cell bytes become characters on screen: the "Terminal" font draws
// code page 437, so bytes above 0x7E show box drawing, blocks, accented letters and
// symbols rather than Latin-1 (whose 0x7F..0x9F are control codes, drawn as boxes).
#pragma once

#include <QString>

#include <cstdint>

namespace hydrix::gui {

// The Unicode character code page 437 shows for a byte; 0x00..0x7E stand for themselves.
char16_t CodePage437(uint8_t byte);

// The characters of n cell bytes, one per byte.
QString CodePage437Text(const char* bytes, int n);

}  // namespace hydrix::gui
