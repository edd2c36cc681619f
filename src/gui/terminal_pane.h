// The terminal's pane in the station's form: where it sits beside the side panel, and the
// widget that shows the terminal there, its font chosen so that the whole screen fits the
// pane. The main window and the flood benchmark both make the pane through this.
#pragma once

#include <QSize>

class QWidget;

namespace hydrix::terminal {
class CustomTerminal;
}  // namespace hydrix::terminal

namespace hydrix::gui {

class TerminalWidget;

// The form's client area for the terminal, in pixels.
constexpr int kTerminalPaneWidth = 635;
constexpr int kTerminalPaneHeight = 564;

QSize TerminalPaneSize();

// A widget over terminal for the pane, at the pane's size. Its font is the terminal's,
// made smaller where needed (measured in the font Qt really draws, whichever fonts are
// installed) so that every column and row is wholly visible beside the vertical bar.
// Owned by parent, or by the caller without one.
TerminalWidget* MakeTerminalPane(terminal::CustomTerminal& terminal, QWidget* parent = nullptr);

}  // namespace hydrix::gui
