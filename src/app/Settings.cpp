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

QString tr(const char* text)
{
    return QCoreApplication::translate("Settings", text);
}

// Why the settings file cannot be written there, or empty when nothing is in the way.
QString writeProblem(const QString& file)
{
    const QFileInfo info(file);
    if (info.isDir())
        return tr("a folder of that name is in the way");
    if (info.exists())
        return info.isWritable() ? QString() : tr("the file is read-only");
    // The nearest part of the path that exists says why nothing can be made below it.
    QString path = info.absolutePath();
    while (!QFileInfo::exists(path)) {
        const QString parent = QFileInfo(path).absolutePath();
        if (parent == path)
            break;
        path = parent;
    }
    const QFileInfo existing(path);
    if (!existing.isDir())
        return tr("%1 is a file, not a folder").arg(QDir::toNativeSeparators(path));
    if (!existing.isWritable())
        return tr("the folder %1 is not writable").arg(QDir::toNativeSeparators(path));
    return {};
}

QString problemText(const QString& what, const QString& file, const QString& reason)
{
    return what + tr("\n\nFile: %1\nReason: %2").arg(QDir::toNativeSeparators(file), reason);
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

QString fileName(const QString& application)
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, application).fileName();
}

bool prepareFolder(QString* errorText)
{
    const QString file = fileName(kAppName);
    if (QDir().mkpath(QFileInfo(file).absolutePath()))
        return true;
    if (errorText) {
        QString reason = writeProblem(file);
        if (reason.isEmpty())
            reason = tr("the folder could not be created");
        *errorText = problemText(tr("The settings folder cannot be created, so the profile and the host list "
                                    "will not be saved."),
                                 file, reason);
    }
    return false;
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

bool saveFinger(const Profile& profile, const QStringList& hostTable, QString* errorText)
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

    // A file that did not parse leaves FormatError, which hides a later
    // AccessError: then the path itself has to tell.
    const QString problem = writeProblem(store.fileName());
    const QSettings::Status status = store.status();
    if (status == QSettings::NoError || (status == QSettings::FormatError && problem.isEmpty()))
        return true;
    if (errorText)
        *errorText = problemText(tr("The settings could not be saved: this session's profile and host list "
                                    "are lost."),
                                 store.fileName(), problem.isEmpty() ? tr("the file could not be written") : problem);
    return false;
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

int registerInstalledPath(const QString& ownPath, const QString& ownFile, const QString& title, OwnSlot rule)
{
    const auto isOwn = [&](const QString& value) {
        return rule == OwnSlot::Contains ? value.contains(ownFile, Qt::CaseSensitive)
                                         : value.section(QLatin1Char('/'), -1) == ownFile;
    };
    for (int n = 1; n <= kRegisterSlots; ++n) {
        const QString value = Settings::read(kMakerRegister, kInstalledApps, numbered(QStringLiteral("App"), n));
        if (trimBlanks(value).isEmpty() || isOwn(value)) {
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
    // with "\" and ".exe" would name nothing. Without ".exe" a bare name is
    // part of many a path (finger-quobix2, /opt/finger-quobix-old/tool) that is not ours.
    return registerInstalledPath(exe.absoluteFilePath(), exe.fileName(), kAppTitle, OwnSlot::LastComponent);
#endif
}
