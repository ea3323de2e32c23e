#pragma once

#include "app/Config.h"
#include "shell/Form1.h"
#include "shell/finger.h"

#include <memory>

// Starts the whole program in-process: the tray form, the main window and its
// start-up, with the finger server on a free loopback port instead of 79.
namespace TestSupport {
RuntimeConfig testConfig();

struct Program
{
    std::unique_ptr<Form1> tray;
    int quitCalls = 0;

    finger& window() const { return *tray->mainWindow(); }
};

// trayAvailable: whether closing and minimising may hide the main window.
std::unique_ptr<Program> startProgram(const RuntimeConfig& config = testConfig(), bool trayAvailable = true);
// As the program starts for real: it looks for the session's tray itself,
// which shows the icon's menu by itself.
std::unique_ptr<Program> startProgramOnTray(const RuntimeConfig& config = testConfig());
} // namespace TestSupport
