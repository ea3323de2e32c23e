#pragma once

#include <QIcon>

// The program's icon, compiled in: the drawing, or where Qt cannot draw SVG,
// the pixmaps rendered from it at 16 to 128 pixels.
QIcon programIcon();
