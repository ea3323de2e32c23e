#include "app/Forms.h"

#include "app/Platform.h"
#include "app/WindowFront.h"

#include <QAction>
#include <QMenu>
#include <QWidget>

namespace Forms {
void centreOnScreen(QWidget* window)
{
    // On Wayland the compositor places windows; a client cannot.
    if (onWayland())
        return;
    const QSize screen = platform().screenSize();
    const QSize outer = window->frameGeometry().size();
    window->move((screen.width() - outer.width()) / 2, (screen.height() - outer.height()) / 2);
}

QAction* addAction(QMenu* menu, const QString& caption, const char* name)
{
    QAction* action = menu->addAction(caption);
    action->setObjectName(QLatin1String(name));
    return action;
}

QAction* addSeparator(QMenu* menu, const char* name)
{
    QAction* separator = menu->addSeparator();
    separator->setObjectName(QLatin1String(name));
    return separator;
}
} // namespace Forms
