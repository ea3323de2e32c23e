#pragma once

#include <QIcon>

// The name of the program's icon in the icon theme, and of its desktop entry.
inline const QString kProgramIconName = QStringLiteral("finger-quobix");

// The program's icon, compiled in: the drawing, or where Qt cannot draw SVG,
// the pixmaps rendered from it at 16 to 128 pixels. It carries the theme name,
// so a tray or dock that looks icons up by name shows the installed one.
QIcon programIcon();
