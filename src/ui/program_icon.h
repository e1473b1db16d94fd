#pragma once

#include <QIcon>

namespace brisk {

// The program's icon (the same drawing the desktop's menu shows), for every window.
// Drawn from the SVG built into the program, so no image plugin is needed. Needs a
// QGuiApplication.
QIcon programIcon();

}  // namespace brisk
