#include "ProgramHarness.h"

namespace TestSupport {
RuntimeConfig testConfig()
{
    RuntimeConfig config;
    config.server.listenAddress = QHostAddress::LocalHost;
    config.server.portMap.insert(RuntimeConfig::kFingerPort, 0);
    // Visitor lines come at once, so a test can count them when its reply is
    // in; their wait for the visitor's name has a test of its own.
    config.visitorNameWaitMs = 0;
    return config;
}

std::unique_ptr<Program> startProgram(const RuntimeConfig& config, bool trayAvailable)
{
    auto program = std::make_unique<Program>();
    program->tray = std::make_unique<Form1>(config);
    program->tray->trayShowsMenu = false;
    Program* raw = program.get();
    program->tray->quit = [raw] { ++raw->quitCalls; };
    program->tray->Form_Load();
    program->tray->setTrayPresent(trayAvailable);
    return program;
}

std::unique_ptr<Program> startProgramOnTray(const RuntimeConfig& config)
{
    auto program = std::make_unique<Program>();
    program->tray = std::make_unique<Form1>(config);
    Program* raw = program.get();
    program->tray->quit = [raw] { ++raw->quitCalls; };
    program->tray->Form_Load();
    return program;
}
} // namespace TestSupport
