#include "openfailurehint.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QSysInfo>
#include <limits>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
const QStringList knownGrabbers{QStringLiteral("ModemManager"), QStringLiteral("brltty")};

// Where Qt 5.15's serial port looks for its lock, in this order.
QStringList qtLockDirectories()
{
    return {QStringLiteral("/var/lock"),
            QStringLiteral("/etc/locks"),
            QStringLiteral("/var/spool/locks"),
            QStringLiteral("/var/spool/uucp"),
            QStringLiteral("/tmp"),
            QStringLiteral("/var/tmp"),
            QStringLiteral("/var/lock/lockdev"),
            QStringLiteral("/run/lock"),
            QStandardPaths::writableLocation(QStandardPaths::TempLocation)};
}

// Qt names the lock after the port: its path without "/dev/", the slashes
// made underscores ("/dev/pts/3": "LCK..pts_3").
QString qtLockName(const QString &devicePath)
{
    QString port = devicePath.startsWith(QLatin1String("/dev/")) ? devicePath.mid(5) : devicePath;
    return QStringLiteral("/LCK..") + port.replace(QLatin1Char('/'), QLatin1Char('_'));
}

bool isRunning(qint64 pid)
{
#ifdef Q_OS_UNIX
    return pid > 0 && pid <= std::numeric_limits<pid_t>::max() &&
           (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
#else
    Q_UNUSED(pid)
    return false;
#endif
}

// The file a process runs, by name, as QLockFile records it; empty where the
// system does not say (another user's process).
QString programOf(const QString &procDir)
{
    QString target = QFileInfo(procDir + QStringLiteral("/exe")).symLinkTarget();
    const QLatin1String deleted(" (deleted)");
    if (target.endsWith(deleted))
        target.chop(deleted.size());
    return QFileInfo(target).fileName();
}

// QLockFile's lines after the PID and the program: the host, then (since Qt
// 5.10) the machine's and the boot's IDs. Missing ones are taken as ours.
bool sameMachineAndBoot(const QList<QByteArray> &lines)
{
    const QByteArray host = lines.value(2).trimmed();
    const QByteArray machine = lines.value(3).trimmed();
    const QByteArray boot = lines.value(4).trimmed();
    const QByteArray ourMachine = QSysInfo::machineUniqueId();
    const bool sameMachine = !machine.isEmpty() && !ourMachine.isEmpty()
                                 ? machine == ourMachine
                                 : host.isEmpty() || host == QSysInfo::machineHostName().toUtf8();
    return sameMachine && (boot.isEmpty() || boot == QSysInfo::bootUniqueId());
}

// Anyone may put a file of a lock's name into a lock directory: only a
// regular file is read, opened without blocking or following a link, so a
// FIFO cannot stop the watch and a link cannot make it open a device.
QByteArray lockFileContent(const QString &lockFile)
{
    QByteArray content;
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(lockFile).constData(),
                          O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return content;
    struct stat status = {};
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        content.resize(4096);
        const ssize_t got = ::read(fd, content.data(), size_t(content.size()));
        content.resize(got > 0 ? int(got) : 0);
    }
    ::close(fd);
#else
    Q_UNUSED(lockFile)
#endif
    return content;
}

// The live writer of a lock file: QLockFile's PID and program, or a UUCP
// lock's "      4711 minicom root". A writer on another machine, from before
// the last boot, no longer running or whose PID another program has taken
// since holds nothing: Qt takes such a lock over by itself.
ProcInfo::Process lockWriter(const QString &lockFile, const QString &procRoot)
{
    const QList<QByteArray> lines = lockFileContent(lockFile).split('\n');
    bool numeric = false;
    const qint64 pid = lines.value(0).simplified().split(' ').value(0).toLongLong(&numeric);
    if (!numeric || !sameMachineAndBoot(lines) || !isRunning(pid))
        return {};
    const QString procDir = procRoot + QLatin1Char('/') + QString::number(pid);
    const QString program = QString::fromUtf8(lines.value(1).trimmed());
    const QString running = programOf(procDir);
    if (!program.isEmpty() && !running.isEmpty() && running != program)
        return {};
    // The file's word alone never names it: where the system does not say
    // which file runs, the kernel's name for the process (the first 15 bytes
    // of the program's) has to agree, or is shown instead.
    const QString kernelName = ProcInfo::processName(procDir);
    const bool confirmed =
        !program.isEmpty() &&
        (!running.isEmpty() || (!kernelName.isEmpty() && program.startsWith(kernelName)));
    return {pid, confirmed ? program : kernelName};
}

} // namespace

QString OpenFailureHint::explain(const QString &devicePath) const
{
#ifndef Q_OS_UNIX
    // Windows devices are not files; the system says no more than "denied".
    return QStringLiteral("Порт ") + devicePath +
           QStringLiteral(" занят другой программой или исчез: закройте её или подключите "
                          "адаптер снова");
#endif
    const QFileInfo info(devicePath);
    if (!info.exists())
        return text(Reason::Vanished, devicePath, QString(), grabbers());
    // Qt reads its lock file before it opens the device: a live writer is
    // why, whatever the device's permissions are.
    const QList<ProcInfo::Process> writers = qtLockWriters(devicePath);
    if (writers.isEmpty() && (!info.isReadable() || !info.isWritable()))
        return text(Reason::NoPermission, devicePath, deviceGroup(devicePath), grabbers());
    return text(Reason::Held, devicePath, heldBy(devicePath, writers), grabbers());
}

QString OpenFailureHint::text(Reason reason, const QString &devicePath, const QString &detail,
                              const QStringList &grabbers)
{
    QString text = QStringLiteral("Порт ") + devicePath;
    switch (reason) {
    case Reason::Vanished:
        text += QStringLiteral(" исчез: проверьте кабель и подключите адаптер снова");
        break;
    case Reason::NoPermission: {
        const QString group = detail.isEmpty() ? QStringLiteral("dialout") : detail;
        text += QStringLiteral(": нет прав; добавьте пользователя в группу ") + group +
                QStringLiteral(" (sudo usermod -aG ") + group +
                QStringLiteral(" $USER), затем выйдите из системы и войдите снова");
        break;
    }
    case Reason::Held:
        text += QStringLiteral(" занят другой программой") +
                (detail.isEmpty() ? QString() : QStringLiteral(" (") + detail + QLatin1Char(')')) +
                QStringLiteral(": закройте её и подключите модем снова");
        break;
    }
    if (!grabbers.isEmpty())
        text += QStringLiteral(". Запущен ") + grabbers.join(QStringLiteral(", ")) +
                QStringLiteral(": он захватывает новые USB-порты, остановите его");
    return text;
}

QString OpenFailureHint::deviceGroup(const QString &devicePath)
{
    QString group;
#ifdef Q_OS_UNIX
    struct stat status;
    if (::stat(QFile::encodeName(devicePath).constData(), &status) == 0) {
        const struct group *entry = ::getgrgid(status.st_gid);
        if (entry)
            group = QString::fromLocal8Bit(entry->gr_name);
    }
#else
    Q_UNUSED(devicePath)
#endif
    return group;
}

QList<ProcInfo::Process> OpenFailureHint::openers(const QString &devicePath) const
{
    const QString target = QFileInfo(devicePath).canonicalFilePath();
    QList<ProcInfo::Process> found;
    const QStringList dirs = ProcInfo::processDirs(mProcRoot);
    for (const QString &dir : dirs) {
        const QFileInfoList fds =
            QDir(dir + QStringLiteral("/fd"))
                .entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
        for (const QFileInfo &fd : fds) {
            const QString opened = fd.symLinkTarget();
            if (opened == target || opened == devicePath) {
                found.append({QFileInfo(dir).fileName().toLongLong(), ProcInfo::processName(dir)});
                break;
            }
        }
    }
    return found;
}

QStringList OpenFailureHint::holders(const QString &devicePath) const
{
    QStringList names;
    const QList<ProcInfo::Process> found = openers(devicePath);
    for (const ProcInfo::Process &process : found) {
        if (!process.name.isEmpty() && !names.contains(process.name))
            names.append(process.name);
    }
    return names;
}

QString OpenFailureHint::qtLockFile(const QString &devicePath)
{
    const QString name = qtLockName(devicePath);
    const QStringList dirs = qtLockDirectories();
    for (const QString &dir : dirs) {
        const QFileInfo info(dir);
        if (!dir.isEmpty() && info.isReadable() && (QFile::exists(dir + name) || info.isWritable()))
            return dir + name;
    }
    return QString();
}

// The lock Qt's open stopped at: the device's by the name given, or by the
// one its links lead to.
QList<ProcInfo::Process> OpenFailureHint::qtLockWriters(const QString &devicePath) const
{
    QStringList lockFiles{qtLockFile(devicePath)};
    const QString canonical = QFileInfo(devicePath).canonicalFilePath();
    if (!canonical.isEmpty() && !lockFiles.contains(qtLockFile(canonical)))
        lockFiles.append(qtLockFile(canonical));
    QList<ProcInfo::Process> writers;
    for (const QString &lockFile : qAsConst(lockFiles)) {
        const ProcInfo::Process writer =
            lockFile.isEmpty() ? ProcInfo::Process{} : lockWriter(lockFile, mProcRoot);
        if (writer.pid > 0)
            writers.append(writer);
    }
    return writers;
}

// The holders known by their PIDs (the lock writers, the process with a lock
// on the device) come first, each once, then those that only have it open, by
// name. The comma in "name, PID n" asks for semicolons between holders.
QString OpenFailureHint::heldBy(const QString &devicePath, QList<ProcInfo::Process> named) const
{
    named.append(ProcInfo::lockOwner(devicePath, mProcRoot));
    QList<qint64> pids;
    QStringList parts;
    for (const ProcInfo::Process &process : qAsConst(named)) {
        if (process.pid <= 0 || pids.contains(process.pid))
            continue;
        pids.append(process.pid);
        parts.append(ProcInfo::describe(process));
    }
    const bool withPids = !parts.isEmpty();
    const QList<ProcInfo::Process> others = openers(devicePath);
    for (const ProcInfo::Process &process : others) {
        if (!pids.contains(process.pid) && !process.name.isEmpty() && !parts.contains(process.name))
            parts.append(process.name);
    }
    return parts.join(withPids ? QStringLiteral("; ") : QStringLiteral(", "));
}

QStringList OpenFailureHint::grabbers() const
{
    QStringList found;
    const QStringList dirs = ProcInfo::processDirs(mProcRoot);
    for (const QString &dir : dirs) {
        const QString name = ProcInfo::processName(dir);
        if (knownGrabbers.contains(name) && !found.contains(name))
            found.append(name);
    }
    return found;
}
