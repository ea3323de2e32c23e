#pragma once

#include <QString>

class QAction;
class QMenu;
class QWidget;

// What every window of the program does the same way when it is built.
namespace Forms {
// Centres the window, frame included, on the platform's screen. A window not
// shown yet is centred with the frame last seen on a window of its kind, and
// again once its own frame shows, if that differs. On Wayland the compositor
// places windows.
void centreOnScreen(QWidget* window);
// A menu item or separator with its name as objectName, so tests and automation find it.
QAction* addAction(QMenu* menu, const QString& caption, const char* name);
QAction* addSeparator(QMenu* menu, const char* name);
} // namespace Forms
