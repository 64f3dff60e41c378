#pragma once

#include <QIcon>

class QPainter;

// The tool's icon: a probe over a measured plate, its display lit. Drawn, not stored, so that
// the window and the icon files for the desktop (tools/icons) come from one drawing.
namespace appicon {

// Paints the icon into the square (0, 0, side, side).
void paint(QPainter &painter, double side);

// The icon at the sizes a window manager asks for.
QIcon windowIcon();

}  // namespace appicon
