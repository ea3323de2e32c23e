#include "app/AccessKeys.h"

#include <QAbstractButton>
#include <QAction>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenuBar>

#include <algorithm>

void yieldAccessKeysToMenuBar(QMainWindow* window)
{
    QList<QKeySequence> menuKeys;
    for (const QAction* menu : window->menuBar()->actions())
        menuKeys.append(QKeySequence::mnemonic(menu->text()));
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
        if (!button->shortcut().isEmpty() && menuKeys.contains(button->shortcut()))
            button->setShortcut(QKeySequence());
    }
}
