#include "procinfo.h"

#include <QDir>
#include <QFile>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

namespace ProcInfo {

QStringList processDirs(const QString &procRoot)
{
    QStringList dirs;
    const QStringList names = QDir(procRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        bool numeric = false;
        name.toLongLong(&numeric);
        if (numeric)
            dirs.append(procRoot + QLatin1Char('/') + name);
    }
    return dirs;
}

QString processName(const QString &procDir)
{
    QFile comm(procDir + QStringLiteral("/comm"));
    if (!comm.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(comm.read(256)).trimmed();
}

QString describe(const Process &process)
{
    return (process.name.isEmpty() ? QStringLiteral("программа") : process.name) +
           QStringLiteral(", PID ") + QString::number(process.pid);
}

// /proc/locks has a line per lock: "1: FLOCK  ADVISORY  WRITE 4711 08:01:1234 0 EOF",
// the device as hexadecimal major:minor and the inode in decimal.
Process lockOwner(const QString &filePath, const QString &procRoot)
{
#ifdef Q_OS_UNIX
    struct stat status = {};
    if (::stat(QFile::encodeName(filePath).constData(), &status) != 0)
        return {};
    const QString file = QStringLiteral("%1:%2:%3")
                             .arg(major(status.st_dev), 2, 16, QLatin1Char('0'))
                             .arg(minor(status.st_dev), 2, 16, QLatin1Char('0'))
                             .arg(status.st_ino);
    QFile locks(procRoot + QStringLiteral("/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return {};
    const QStringList lines = QString::fromLatin1(locks.read(1 << 20)).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const QStringList fields = line.simplified().split(QLatin1Char(' '));
        // Waiters are listed as "1: -> FLOCK …": not holders.
        if (fields.size() < 6 || fields.at(1) != QLatin1String("FLOCK") ||
            fields.at(5).compare(file, Qt::CaseInsensitive) != 0)
            continue;
        const qint64 pid = fields.at(4).toLongLong();
        if (pid > 0)
            return {pid, processName(procRoot + QLatin1Char('/') + fields.at(4))};
    }
#else
    Q_UNUSED(filePath)
    Q_UNUSED(procRoot)
#endif
    return {};
}

QString lockHolder(const QString &filePath, const QString &procRoot)
{
    const Process owner = lockOwner(filePath, procRoot);
    return owner.pid > 0 ? describe(owner) : QString();
}

} // namespace ProcInfo
