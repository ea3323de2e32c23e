
#include "ProgramTest.h"
#include "RecordingPlatform.h"
#include "TestMain.h"
#include "client/frmhost.h"
#include "contact/About.h"
#include "contact/SendForm.h"
#include "server/FingerServerSetup.h"

#include <QAction>
#include <QApplication>

RecordingPlatform& ProgramTest::resetEnvironment()
{
    TestSupport::clearSettings();
    return freshPlatform();
}

TestSupport::Program& ProgramTest::launch(const RuntimeConfig& config, bool trayAvailable)
{
    // The earlier program ends first: two would share the settings and the finger port.
    m_program.reset();
    m_program = TestSupport::startProgram(config, trayAvailable);
    return *m_program;
}

QWidget* ProgramTest::openWindow(const QString& which)
{
    if (which == "main")
        return &window();
    recordingPlatform().launchResult = 2;
    if (which == "setup")
        window().mnuServer->trigger();
    else if (which == "remover")
        window().mnuHost->trigger();
    else if (which == "feedback")
        tray().mnuYarbo->trigger();
    else
        tray().mnuAbout->trigger();
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->isVisible() && (qobject_cast<FingerServerSetup*>(top) || qobject_cast<frmhost*>(top)
                                 || qobject_cast<SendForm*>(top) || qobject_cast<About*>(top)))
            return top;
    }
    return nullptr;
}
