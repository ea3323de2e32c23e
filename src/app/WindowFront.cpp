#include "app/WindowFront.h"

#include <QApplication>
#include <QWidget>

void bringToFront(QWidget* window)
{
    // Modality only changes on a hidden window.
    QWidget* modalWindow = QApplication::activeModalWidget();
    if (modalWindow && modalWindow != window && window->windowModality() == Qt::NonModal) {
        window->hide();
        window->setWindowModality(Qt::ApplicationModal);
    }
    if (window->isMinimized())
        window->showNormal();
    else
        window->show();
    window->raise();
    window->activateWindow();
}
