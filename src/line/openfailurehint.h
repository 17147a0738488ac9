#pragma once

#include "procinfo.h"

#include <QList>
#include <QString>
#include <QStringList>

// Why a port could not be opened, in Russian with one thing to do: the device
// has vanished, the user may not open it (and which group to join), or another
// program holds it. On Linux the holder is named where the system says it:
// the live writer of Qt's lock file for the port, the process with a lock on
// the device, the programs with it open in /proc. On Linux it also names
// ModemManager or brltty when they run, since they grab new USB-serial ports.
class OpenFailureHint
{
public:
    // procRoot and the device path are parameters so that a test can build both.
    explicit OpenFailureHint(const QString &procRoot = QStringLiteral("/proc"))
        : mProcRoot(procRoot)
    {
    }

    enum class Reason
    {
        Vanished,
        NoPermission, // detail: the device's group
        Held          // detail: the programs holding it, may be empty
    };

    QString explain(const QString &devicePath) const;
    // The text for a reason, with the port grabbers found running.
    static QString text(Reason reason, const QString &devicePath, const QString &detail,
                        const QStringList &grabbers);

    // The programs that have the device open, by their names in /proc.
    QStringList holders(const QString &devicePath) const;
    // The port grabbers among the running programs.
    QStringList grabbers() const;
    // Where Qt's serial port on Unix keeps its lock for the device
    // ("/run/lock/LCK..pts_3" for /dev/pts/3): the first of its lock
    // directories that has the file or may take it; empty when none may.
    static QString qtLockFile(const QString &devicePath);

private:
    static QString deviceGroup(const QString &devicePath);
    QList<ProcInfo::Process> openers(const QString &devicePath) const;
    QList<ProcInfo::Process> qtLockWriters(const QString &devicePath) const;
    QString heldBy(const QString &devicePath, QList<ProcInfo::Process> named) const;

    QString mProcRoot;
};
