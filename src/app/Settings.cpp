#include "app/Settings.h"

#include "app/Text.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {
const QString kFinger = QStringLiteral("Finger");
const QString kSetup = QStringLiteral("Setup");
const QString kInstalledApps = QStringLiteral("Installed Apps");
const QString kHostList = QStringLiteral("Host List");
constexpr int kRegisterSlots = 100;

QString numbered(const QString& prefix, int n)
{
    return prefix + QString::number(n);
}
} // namespace

namespace Settings {
QString read(const QString& application, const QString& section, const QString& key, const QString& fallback)
{
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, application);
    store.beginGroup(section);
    const QVariant value = store.value(key, fallback);
    // A value typed into the file by hand with a comma in it reads back as a
    // list; taken as empty it would be lost at the next save, or a register
    // slot of another program would look free.
    if (value.metaType().id() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

void write(const QString& application, const QString& section, const QString& key, const QString& value)
{
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, application);
    store.beginGroup(section);
    store.setValue(key, value);
}
} // namespace Settings

void initFinger(Profile& profile, QStringList& hostTable)
{
    profile.name = Settings::read(kAppName, kFinger, QStringLiteral("Real Name"));
    profile.email = Settings::read(kAppName, kFinger, QStringLiteral("Email Address"));
    profile.homepage = Settings::read(kAppName, kFinger, QStringLiteral("Homepage"));
    profile.description = Settings::read(kAppName, kFinger, QStringLiteral("General Description"));

    hostTable.clear();
    for (int n = 0; n < kHostListSize; ++n)
        hostTable.append(Settings::read(kAppName, kSetup, numbered(kHostList, n)));
}

void saveFinger(const Profile& profile, const QStringList& hostTable)
{
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, kAppName);
    store.beginGroup(kFinger);
    store.setValue(QStringLiteral("Real Name"), profile.name);
    store.setValue(QStringLiteral("Email Address"), profile.email);
    store.setValue(QStringLiteral("Homepage"), profile.homepage);
    store.setValue(QStringLiteral("General Description"), profile.description);
    store.endGroup();

    store.beginGroup(kSetup);
    for (int n = 0; n < kHostListSize; ++n)
        store.setValue(numbered(kHostList, n), n < hostTable.size() ? hostTable.at(n) : QString());
    store.endGroup();
    store.sync();
}

QString registrationPath(const QString& folder, const QString& baseName)
{
    QString path = folder;
    if (!path.endsWith(QLatin1Char('\\')))
        path += QLatin1Char('\\');
    return path + baseName + QStringLiteral(".exe");
}

int registerInstalledProgram(const QString& folder, const QString& baseName, const QString& title)
{
    return registerInstalledPath(registrationPath(folder, baseName), baseName + QStringLiteral(".exe"), title);
}

int registerInstalledPath(const QString& ownPath, const QString& ownFile, const QString& title)
{
    for (int n = 1; n <= kRegisterSlots; ++n) {
        const QString value = Settings::read(kMakerRegister, kInstalledApps, numbered(QStringLiteral("App"), n));
        if (trimBlanks(value).isEmpty() || value.contains(ownFile, Qt::CaseSensitive)) {
            Settings::write(kMakerRegister, kInstalledApps, numbered(QStringLiteral("App"), n), ownPath);
            Settings::write(kMakerRegister, kInstalledApps, numbered(QStringLiteral("App Description"), n), title);
            return n;
        }
    }
    return 0;
}

int registerInstalledProgram()
{
    const QFileInfo exe(QCoreApplication::applicationFilePath());
#ifdef Q_OS_WIN
    return registerInstalledProgram(QDir::toNativeSeparators(exe.absolutePath()), exe.completeBaseName(), kAppTitle);
#else
    // Elsewhere the record names the executable itself: a folder joined
    // with "\" and ".exe" would name nothing.
    return registerInstalledPath(exe.absoluteFilePath(), exe.fileName(), kAppTitle);
#endif
}
