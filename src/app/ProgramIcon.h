#pragma once

#include <QIcon>

// The program's icon, compiled in: the drawing for any size, and the pixmaps
// rendered from it for the sizes where a scaled drawing would blur.
QIcon programIcon();
