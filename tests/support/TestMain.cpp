#include "TestMain.h"

#include "RecordingPlatform.h"
#include "app/Settings.h"

#include <QApplication>
#include <QLocale>
#include <QMetaMethod>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <vector>

namespace {
std::vector<std::function<std::unique_ptr<QObject>()>>& registry()
{
    static std::vector<std::function<std::unique_ptr<QObject>()>> tests;
    return tests;
}

RecordingPlatform* g_recording = nullptr;
QString g_settingsFolder;
} // namespace

namespace TestSupport {
void registerTest(std::function<std::unique_ptr<QObject>()> factory)
{
    registry().push_back(std::move(factory));
}

void clearSettings()
{
    for (const QString& application : {kAppName, kMakerRegister}) {
        QSettings store(QSettings::NativeFormat, QSettings::UserScope, application);
        store.clear();
        store.sync();
    }
}

QString settingsFolder()
{
    return g_settingsFolder;
}
} // namespace TestSupport

RecordingPlatform& recordingPlatform()
{
    return *g_recording;
}

RecordingPlatform& freshPlatform()
{
    *g_recording = RecordingPlatform();
    return *g_recording;
}

int main(int argc, char** argv)
{
    // Never touch the real user's settings, never need a display.
    QTemporaryDir settings;
    if (!settings.isValid()) {
        // An empty XDG_CONFIG_HOME means the user's own folder, which clearSettings() would empty.
        std::fprintf(stderr, "Cannot make a private settings folder: %s\n", qPrintable(settings.errorString()));
        return 1;
    }
    qputenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit());
    g_settingsFolder = settings.path();
    // Programs started by a test must not hand their arguments to the user's running copy.
    QTemporaryDir runtime;
    if (!runtime.isValid()) {
        std::fprintf(stderr, "Cannot make a private runtime folder: %s\n", qPrintable(runtime.errorString()));
        return 1;
    }
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QLocale::setDefault(QLocale::c());

    QApplication app(argc, argv);
    RecordingPlatform recording;
    g_recording = &recording;
    setPlatform(&recording);

    // Test functions named on the command line run only in the classes that have them.
    QStringList wanted;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg.startsWith(QLatin1Char('-'))) {
            if (arg == QLatin1String("-o") || arg == QLatin1String("-maxwarnings") || arg == QLatin1String("-eventdelay")
                || arg == QLatin1String("-keydelay") || arg == QLatin1String("-mousedelay"))
                ++i;
            continue;
        }
        wanted.append(arg.section(QLatin1Char(':'), 0, 0));
    }
    auto hasWanted = [&wanted](const QObject* test) {
        const QMetaObject* meta = test->metaObject();
        for (int m = meta->methodOffset(); m < meta->methodCount(); ++m) {
            if (wanted.contains(QString::fromLatin1(meta->method(m).name())))
                return true;
        }
        return wanted.isEmpty();
    };

    int failures = 0;
    for (const auto& factory : registry()) {
        std::unique_ptr<QObject> test = factory();
        if (hasWanted(test.get()))
            failures += QTest::qExec(test.get(), argc, argv);
    }
    setPlatform(nullptr);
    return failures == 0 ? 0 : 1;
}
