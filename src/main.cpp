#include "app/ProgramIcon.h"
#include "app/QtPlatform.h"
#include "app/SingleInstance.h"
#include "client/FingerTarget.h"
#include "shell/Form1.h"
#include "shell/LinkQuery.h"
#include "shell/finger.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    // Read before Qt starts, so --help, --version and a wrong option need no display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine line = parseCommandLine(arguments);
    if (line.action != CommandLine::Action::Start) {
        std::fputs(qPrintable(line.text), line.exitCode() == 0 ? stdout : stderr);
        return line.exitCode();
    }

    // Qt takes the launcher's startup id out of the environment as it starts.
    const QByteArray activationToken = SingleInstance::activationTokenFromEnvironment();
    QApplication app(argc, argv);
    // The program lives in the tray; a hidden main window must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    // Dialogs too show the program's icon in their title bars.
    QApplication::setWindowIcon(programIcon());
    QtPlatform services;
    setPlatform(&services);

    // A copy already running takes the link (or only shows its window) and this start ends;
    // a link it cannot read it reports over its own window.
    SingleInstance instance;
    const SingleInstance::Role role =
        instance.start(line.link.isEmpty() ? QStringList{} : QStringList{line.link}, activationToken);
    if (!line.error.isEmpty())
        std::fprintf(stderr, "finger-quobix: %s\n", qPrintable(line.error));
    if (!instance.errorText().isEmpty())
        std::fprintf(stderr, "finger-quobix: %s\n", qPrintable(instance.errorText()));
    if (role != SingleInstance::Role::Running)
        return role == SingleInstance::Role::HandedOver ? 0 : 1;

    Form1 tray;
    tray.watchTerminationSignals();
    LinkQuery& links = tray.links();
    QObject::connect(&instance, &SingleInstance::argumentsReceived, &links, &LinkQuery::handOver);
    tray.Form_Load();
    if (line.target)
        links.run(*line.target);
    // Reported once the program runs: the tray and the server do not wait for the box.
    if (!line.error.isEmpty())
        QTimer::singleShot(0, &tray, [&tray, &line] { reportBadLink(line.error, tray.mainWindow(), false); });
    return QApplication::exec();
}
