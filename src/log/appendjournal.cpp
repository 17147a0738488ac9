#include "appendjournal.h"

#include "log/fileproblem.h"

#include <QDir>
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
// Creates the folder and those above it that are missing. False with the
// errno of the step that failed.
bool makeFolder(const QByteArray &path, int *error)
{
    constexpr mode_t folderMode = 0777; // less the umask, as any new folder
    if (::mkdir(path.constData(), folderMode) == 0)
        return true;
    if (errno == EEXIST) {
        struct stat status = {};
        const bool folder = ::stat(path.constData(), &status) == 0 && S_ISDIR(status.st_mode);
        *error = folder ? 0 : ENOTDIR;
        return folder;
    }
    const int slash = path.lastIndexOf('/');
    if (errno != ENOENT || slash <= 0) {
        *error = errno;
        return false;
    }
    if (!makeFolder(path.left(slash), error))
        return false;
    if (::mkdir(path.constData(), folderMode) == 0 || errno == EEXIST)
        return true;
    *error = errno;
    return false;
}

int openForAppending(const QString &fileName)
{
    return ::open(QFile::encodeName(fileName).constData(),
                  O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
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
    int fd = openForAppending(fileName);
    // A journal in a folder not made yet (a fresh user's Documents) makes it.
    if (fd < 0 && errno == ENOENT) {
        int error = 0;
        const QString folder = QFileInfo(fileName).absolutePath();
        if (!makeFolder(QFile::encodeName(folder), &error)) {
            *reason = FileProblem::sentence(error, fileName);
            return false;
        }
        fd = openForAppending(fileName);
    }
    // ENXIO: a FIFO that nobody reads.
    if (fd < 0) {
        *reason = errno == ENXIO || errno == EISDIR ? notRegular()
                                                    : FileProblem::sentence(errno, fileName);
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
    const int error = errno;
    ::close(fd);
    *reason = FileProblem::sentence(error, fileName);
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
            *error = written < 0 ? FileProblem::sentence(errno, mFileName)
                                 : QStringLiteral("строка записана не целиком");
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
    *error = mFile.isOpen() ? FileProblem::sentence(errno, mFileName)
                            : QStringLiteral("журнал не открыт");
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
    if (!QDir().mkpath(info.absolutePath())) {
        *reason = FileProblem::sentenceForWindows(::GetLastError(), fileName);
        return false;
    }
    mFile.setFileName(fileName);
    if (mFile.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return true;
    *reason = FileProblem::sentenceForWindows(::GetLastError(), fileName);
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
    *error = mFile.error() == QFileDevice::NoError
                 ? QStringLiteral("строка записана не целиком")
                 : FileProblem::sentenceForWindows(::GetLastError(), mFileName);
    return false;
}

bool AppendJournal::syncToDisk(QString *error)
{
    if (mFile.isOpen() && mFile.flush() && ::_commit(mFile.handle()) == 0)
        return true;
    *error = FileProblem::sentenceForWindows(::GetLastError(), mFileName);
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
