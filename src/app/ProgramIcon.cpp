#include "app/ProgramIcon.h"

QIcon programIcon()
{
    // Without Qt's SVG icon engine the drawing does not load; the pixmaps still do.
    QIcon icon(QStringLiteral(":/icons/finger-quobix.svg"));
    for (const int size : {16, 32, 48, 64, 128})
        icon.addFile(QStringLiteral(":/icons/%1x%1/finger-quobix.png").arg(size), QSize(size, size));
    return icon;
}
