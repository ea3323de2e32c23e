#pragma once

#include <QObject>

#include <functional>
#include <memory>

// Each test executable runs every test class registered in its sources:
//   static TestRegistration<MyTest> registration;
namespace TestSupport {
void registerTest(std::function<std::unique_ptr<QObject>()> factory);

// Runs step in main before the application object exists (a desktop for
// the windows to run on); register from a static object's constructor.
void beforeApplication(std::function<void()> step);

// Empties both settings applications in this run's private settings folder.
void clearSettings();
// The private settings folder ($XDG_CONFIG_HOME) of this test run.
QString settingsFolder();
} // namespace TestSupport

template<class T>
struct TestRegistration
{
    TestRegistration()
    {
        TestSupport::registerTest([] { return std::make_unique<T>(); });
    }
};
