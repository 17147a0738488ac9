#include "appendjournal.h"

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QFileInfo>
#endif
#ifdef Q_OS_WIN
#include <io.h>
#endif

QString AppendJournal::notRegular()
{
    return QStringLiteral("это не обычный файл");
}

bool AppendJournal::open(const QString &fileName, QString *error)
{
    QString reason;
    if (openRegular(fileName, &reason))
        return true;
    *error =
        QStringLiteral("Не удалось открыть журнал ") + fileName + QStringLiteral(": ") + reason;
    return false;
}

#ifdef Q_OS_UNIX
// O_NONBLOCK: opening a FIFO for writing would otherwise wait for a reader.
// The type is then checked on the opened file itself, not on its name.
bool AppendJournal::openRegular(const QString &fileName, QString *reason)
{
    const int fd = ::open(QFile::encodeName(fileName).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    // ENXIO: a FIFO that nobody reads.
    if (fd < 0) {
        *reason = errno == ENXIO || errno == EISDIR ? notRegular()
                                                    : QString::fromLocal8Bit(::strerror(errno));
        return false;
    }
    struct stat status = {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        *reason = notRegular();
        return false;
    }
    mFileName = fileName;
    if (mFile.open(fd, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered,
                   QFileDevice::AutoCloseHandle))
        return true;
    ::close(fd);
    *reason = mFile.errorString();
    return false;
}
#else
bool AppendJournal::openRegular(const QString &fileName, QString *reason)
{
    const QFileInfo info(fileName);
    if (info.exists() && !info.isFile()) {
        *reason = notRegular();
        return false;
    }
    mFileName = fileName;
    mFile.setFileName(fileName);
    if (mFile.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return true;
    *reason = mFile.errorString();
    return false;
}
#endif

bool AppendJournal::append(const QByteArray &line, QString *error)
{
    if (!mFile.isOpen()) {
        *error = QStringLiteral("журнал не открыт");
        return false;
    }
    if (mFile.write(line) == line.size())
        return true;
    *error = mFile.error() == QFileDevice::NoError ? QStringLiteral("строка записана не целиком")
                                                   : mFile.errorString();
    return false;
}

bool AppendJournal::syncToDisk(QString *error)
{
#ifdef Q_OS_UNIX
    const bool synced = mFile.isOpen() && mFile.flush() && ::fsync(mFile.handle()) == 0;
#elif defined(Q_OS_WIN)
    const bool synced = mFile.isOpen() && mFile.flush() && ::_commit(mFile.handle()) == 0;
#else
    const bool synced = mFile.isOpen() && mFile.flush();
#endif
    if (!synced)
        *error = mFile.errorString();
    return synced;
}
