#pragma once

#include <QFile>
#include <QList>

#include <unistd.h>

namespace TestSupport {
// This process's resident memory in bytes, -1 where /proc cannot tell.
inline qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * sysconf(_SC_PAGESIZE) : -1;
}
} // namespace TestSupport
