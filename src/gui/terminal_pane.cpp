#include "gui/terminal_pane.h"

#include "gui/terminal_widget.h"

namespace hydrix::gui {

QSize TerminalPaneSize() {
    return QSize(kTerminalPaneWidth, kTerminalPaneHeight);
}

TerminalWidget* MakeTerminalPane(terminal::CustomTerminal& terminal, QWidget* parent) {
    auto* widget = new TerminalWidget(terminal, parent, TerminalPaneSize());
    widget->resize(TerminalPaneSize());
    return widget;
}

}  // namespace hydrix::gui
