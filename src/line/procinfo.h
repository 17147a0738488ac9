#pragma once

#include <QString>
#include <QStringList>

// What Linux's /proc says of the running programs; elsewhere nothing. The
// root is a parameter so that a test can build its own.
namespace ProcInfo {

struct Process
{
    qint64 pid = 0; // 0: none
    QString name;   // may be empty
};

// The process folders under procRoot ("/proc/1234").
QStringList processDirs(const QString &procRoot);
// A process's name ("lorta-flash-cli"), empty when unknown.
QString processName(const QString &procDir);
// How a message names a process: "lorta-flash-cli, PID 4711".
QString describe(const Process &process);
// The process holding a whole-file lock on the file; its PID is 0 when none does.
Process lockOwner(const QString &filePath, const QString &procRoot = QStringLiteral("/proc"));
// Who holds a whole-file lock on the file: "lorta-flash-cli, PID 4711", or empty.
QString lockHolder(const QString &filePath, const QString &procRoot = QStringLiteral("/proc"));

} // namespace ProcInfo
