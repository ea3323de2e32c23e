
#include "ProgramTest.h"
#include "RecordingPlatform.h"
#include "TestMain.h"

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
