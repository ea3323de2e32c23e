#pragma once

#include "ProgramHarness.h"

#include <QObject>
#include <QString>

#include <memory>

class QWidget;
class RecordingPlatform;

// Base of the test classes that start the whole program. A test begins from
// resetEnvironment() (empty settings in this run's private folder, a fresh
// recording platform); launch() starts the program, which the fixture owns
// until stopProgram() or the next launch().
class ProgramTest : public QObject
{
    Q_OBJECT

protected:
    // Empties both settings applications and installs a fresh recording platform, returned for the test's answers.
    RecordingPlatform& resetEnvironment();
    // Starts the program after ending any earlier one; see TestSupport::startProgram.
    TestSupport::Program& launch(const RuntimeConfig& config = TestSupport::testConfig(), bool trayAvailable = true);
    void stopProgram() { m_program.reset(); }

    finger& window() const { return m_program->window(); }
    Form1& tray() const { return *m_program->tray; }
    // Opens one of the program's windows by its menu item ("main", "setup", "remover",
    // "feedback" with no mail program, or "about") and returns it; null when none came up.
    QWidget* openWindow(const QString& which);

    std::unique_ptr<TestSupport::Program> m_program;
};
