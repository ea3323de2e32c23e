#pragma once

#include <QString>

// Why a path chosen in the Save As dialog cannot be used, or empty when it
// can: its folder must exist, and neither a read-only file nor a file in a
// write-protected folder is handed back. A file or folder whose write bits
// are all clear counts as protected even for a user who could override them.
QString saveTargetProblem(const QString& path);
