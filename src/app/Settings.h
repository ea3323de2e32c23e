#pragma once

#include <QString>
#include <QStringList>

inline const QString kAppName = QStringLiteral("Finger Quobix");
inline const QString kMakerRegister = QStringLiteral("Tesselwick Solutions");
inline const QString kAppTitle = QStringLiteral("Finger Quobix 2.2");
constexpr int kHostListSize = 20;

// The per-user settings store: text values by application, section and key.
namespace Settings {
QString read(const QString& application, const QString& section, const QString& key, const QString& fallback = {});
void write(const QString& application, const QString& section, const QString& key, const QString& value);
} // namespace Settings

// The server profile: what whoever fingers this machine is told.
struct Profile
{
    QString name;
    QString email;
    QString homepage;
    QString description;
};

// Loads the profile and a fresh 20-slot host-list table.
void initFinger(Profile& profile, QStringList& hostTable);
// Writes the profile and the host-list table. Keys of slots past the table
// are written empty, so a host the user removed does not come back.
void saveFinger(const Profile& profile, const QStringList& hostTable);

// The path this program registers: folder, one "\", base name, ".exe".
QString registrationPath(const QString& folder, const QString& baseName);
// Writes the program into the first free slot, or its own slot if that comes first.
// Returns the slot number used, or 0 when all 100 slots hold other programs.
int registerInstalledProgram(const QString& folder, const QString& baseName, const QString& title);
// The same with the path to write and the file name that marks this program's own slot.
int registerInstalledPath(const QString& ownPath, const QString& ownFile, const QString& title);
// The same for the running executable: on Windows in the form above, elsewhere its real path.
int registerInstalledProgram();
