// The station's icon: the scalable picture the desktop entry names, built into the
// program and drawn at the sizes window managers and task bars ask for.
#pragma once

#include <QIcon>

namespace hydrix::gui {

// Null when the built-in picture cannot be read.
QIcon StationIcon();

}  // namespace hydrix::gui
