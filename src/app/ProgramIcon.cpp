#include "app/ProgramIcon.h"

QIcon programIcon()
{
    // Qt's SVG icon engine draws it sharp at every size and device pixel ratio.
    QIcon drawing(QStringLiteral(":/icons/finger-quobix.svg"));
    if (!drawing.isNull())
        return drawing;
    // Without Qt's SVG support the pixmaps rendered from the same drawing stand in.
    QIcon pixmaps;
    for (const int size : {16, 32, 48, 64, 128})
        pixmaps.addFile(QStringLiteral(":/icons/%1x%1/finger-quobix.png").arg(size), QSize(size, size));
    return pixmaps;
}
