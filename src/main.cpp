#include "shell/Form1.h"
#include "app/QtPlatform.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // The program lives in the tray; a hidden main window must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    QtPlatform services;
    setPlatform(&services);
    Form1 tray;
    tray.watchTerminationSignals();
    tray.Form_Load();
    return QApplication::exec();
}
