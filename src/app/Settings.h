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
// The file that holds an application's settings.
QString fileName(const QString& application);
// Makes the settings folder when it is missing. False when it cannot be
// made, with errorText naming the file and the reason for the user.
bool prepareFolder(QString* errorText);
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
// are written empty, so a host the user removed does not come back. False
// when the file could not be written, with errorText naming it and the reason.
bool saveFinger(const Profile& profile, const QStringList& hostTable, QString* errorText = nullptr);

// The path this program registers: folder, one "\", base name, ".exe".
QString registrationPath(const QString& folder, const QString& baseName);
// Writes the program into the first free slot, or its own slot if that comes first.
// Returns the slot number used, or 0 when all 100 slots hold other programs.
int registerInstalledProgram(const QString& folder, const QString& baseName, const QString& title);
// How a slot's path is recognised as this program's own.
enum class OwnSlot {
    Contains, // the file name anywhere in the path (the register's Windows form)
    LastComponent, // the path's last component is exactly the file name
};
// The same with the path to write and the file name that marks this program's own slot.
int registerInstalledPath(const QString& ownPath, const QString& ownFile, const QString& title,
                          OwnSlot rule = OwnSlot::Contains);
// The same for the running executable: on Windows in the form above, elsewhere its real path.
int registerInstalledProgram();
