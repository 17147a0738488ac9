#include "openfailurehint.h"

#include "procinfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
const QStringList knownGrabbers{QStringLiteral("ModemManager"), QStringLiteral("brltty")};

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
    if (!info.isReadable() || !info.isWritable())
        return text(Reason::NoPermission, devicePath, deviceGroup(devicePath), grabbers());
    return text(Reason::Held, devicePath, holders(devicePath).join(QStringLiteral(", ")),
                grabbers());
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

QStringList OpenFailureHint::holders(const QString &devicePath) const
{
    const QString target = QFileInfo(devicePath).canonicalFilePath();
    QStringList names;
    const QStringList dirs = ProcInfo::processDirs(mProcRoot);
    for (const QString &dir : dirs) {
        const QFileInfoList fds =
            QDir(dir + QStringLiteral("/fd"))
                .entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
        for (const QFileInfo &fd : fds) {
            if (fd.symLinkTarget() == target || fd.symLinkTarget() == devicePath) {
                const QString name = ProcInfo::processName(dir);
                if (!name.isEmpty() && !names.contains(name))
                    names.append(name);
                break;
            }
        }
    }
    return names;
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
