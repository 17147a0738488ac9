#pragma once

#include <QString>
#include <QStringList>

// What Linux's /proc says of the running programs; elsewhere nothing. The
// root is a parameter so that a test can build its own.
namespace ProcInfo {

// The process folders under procRoot ("/proc/1234").
QStringList processDirs(const QString &procRoot);
// A process's name ("lorta-flash-cli"), empty when unknown.
QString processName(const QString &procDir);
// Who holds a whole-file lock on the file: "lorta-flash-cli, PID 4711", or empty.
QString lockHolder(const QString &filePath, const QString &procRoot = QStringLiteral("/proc"));

} // namespace ProcInfo
