#include "app/Form1.h"
#include "app/QtPlatform.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QtPlatform services;
    setPlatform(&services);
    Form1 tray;
    tray.Form_Load();
    return QApplication::exec();
}
