#include "appendjournal.h"

#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#endif

namespace {
#ifdef Q_OS_UNIX
// What the system said, as an operator reads it.
QString reasonFor(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("диск заполнен");
    case EFBIG:
        return QStringLiteral("файл достиг предельного размера");
    case EACCES:
    case EPERM:
        return QStringLiteral("нет прав");
    case EROFS:
        return QStringLiteral("диск только для чтения");
    case ENOENT:
        return QStringLiteral("папки нет");
    case EIO:
        return QStringLiteral("ошибка ввода-вывода диска");
    default:
        return QStringLiteral("системная ошибка %1").arg(error);
    }
}
#endif
} // namespace

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
    mFile.close();
    const int fd = ::open(QFile::encodeName(fileName).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    // ENXIO: a FIFO that nobody reads.
    if (fd < 0) {
        *reason = errno == ENXIO || errno == EISDIR ? notRegular() : reasonFor(errno);
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

bool AppendJournal::append(const QByteArray &line, QString *error)
{
    if (!mFile.isOpen()) {
        *error = QStringLiteral("журнал не открыт");
        return false;
    }
    const int fd = mFile.handle();
    const char *data = line.constData();
    qint64 left = line.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            *error = written < 0 ? reasonFor(errno) : QStringLiteral("строка записана не целиком");
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

bool AppendJournal::syncToDisk(QString *error)
{
    if (mFile.isOpen() && ::fsync(mFile.handle()) == 0)
        return true;
    *error = mFile.isOpen() ? reasonFor(errno) : QStringLiteral("журнал не открыт");
    return false;
}

bool AppendJournal::holdExclusively()
{
    return mFile.isOpen() && ::flock(mFile.handle(), LOCK_EX | LOCK_NB) == 0;
}

bool AppendJournal::stillAtItsName() const
{
    struct stat open = {};
    struct stat named = {};
    return mFile.isOpen() && ::fstat(mFile.handle(), &open) == 0 &&
           ::stat(QFile::encodeName(mFileName).constData(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}
#else
bool AppendJournal::openRegular(const QString &fileName, QString *reason)
{
    mFile.close();
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
    if (mFile.isOpen() && mFile.flush() && ::_commit(mFile.handle()) == 0)
        return true;
    *error = mFile.errorString();
    return false;
}

namespace {
HANDLE handleOf(const QFile &file)
{
    return reinterpret_cast<HANDLE>(::_get_osfhandle(file.handle()));
}
} // namespace

// Locks one byte far past any journal's end; the other writer's own lock
// refuses us. A Windows lock also bars reading the bytes it covers, even
// through another handle of this process, so none of the lines is covered:
// the journal's own look back at today and the spreadsheet export read them.
bool AppendJournal::holdExclusively()
{
    OVERLAPPED farPastTheEnd = {};
    farPastTheEnd.Offset = MAXDWORD;
    farPastTheEnd.OffsetHigh = MAXDWORD >> 1;
    return mFile.isOpen() &&
           ::LockFileEx(handleOf(mFile), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1,
                        0, &farPastTheEnd);
}

bool AppendJournal::stillAtItsName() const
{
    BY_HANDLE_FILE_INFORMATION open = {};
    BY_HANDLE_FILE_INFORMATION named = {};
    if (!mFile.isOpen() || !::GetFileInformationByHandle(handleOf(mFile), &open))
        return false;
    const HANDLE other = ::CreateFileW(reinterpret_cast<const wchar_t *>(mFileName.utf16()), 0,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (other == INVALID_HANDLE_VALUE)
        return false;
    const bool same = ::GetFileInformationByHandle(other, &named) &&
                      open.dwVolumeSerialNumber == named.dwVolumeSerialNumber &&
                      open.nFileIndexHigh == named.nFileIndexHigh &&
                      open.nFileIndexLow == named.nFileIndexLow;
    ::CloseHandle(other);
    return same;
}
#endif

bool AppendJournal::truncateTo(qint64 size)
{
    return mFile.isOpen() && mFile.resize(size);
}

bool AppendJournal::endsWithLineEnd() const
{
    if (mFile.size() == 0)
        return true;
    QFile reader(mFileName);
    return reader.open(QIODevice::ReadOnly) && reader.seek(reader.size() - 1) &&
           reader.read(1) == "\n";
}
