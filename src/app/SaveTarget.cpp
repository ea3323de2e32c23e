#include "app/SaveTarget.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {
// The mode bits alone (the "user" flags tell what this process may do).
constexpr auto kAnyWrite = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;

bool writeProtected(const QFileInfo& info)
{
    return !info.isWritable() || !(info.permissions() & kAnyWrite);
}

QString tr(const char* text)
{
    return QCoreApplication::translate("SaveTarget", text);
}
} // namespace

QString saveTargetProblem(const QString& path)
{
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    const QString shownFolder = QDir::toNativeSeparators(folder.absoluteFilePath());
    if (!folder.isDir())
        return tr("The folder %1 does not exist. Choose a folder that exists.").arg(shownFolder);
    if (file.exists() && writeProtected(file))
        return tr("%1 is read-only. Choose another name.").arg(QDir::toNativeSeparators(file.absoluteFilePath()));
    if (writeProtected(folder))
        return tr("The folder %1 is write-protected. Choose another folder.").arg(shownFolder);
    return {};
}
