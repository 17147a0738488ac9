#include "settings/smallfile.h"

#include "log/fileproblem.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

// Opens the file in a way that cannot block, and only when what was opened is
// a regular file: the path may have been swapped for a FIFO since it was
// checked, and opening a FIFO waits for the other end. Writing truncates it.
bool openRegularFile(QFile &file, const QString &path, QIODevice::OpenMode mode)
{
#ifdef Q_OS_UNIX
    const bool write = mode & QIODevice::WriteOnly;
    constexpr mode_t createMode = 0666; // less the umask, as any new file
    const int fd =
        ::open(QFile::encodeName(path).constData(),
               (write ? O_WRONLY | O_CREAT : O_RDONLY) | O_NONBLOCK | O_CLOEXEC, createMode);
    if (fd < 0)
        return false;
    struct stat opened = {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) ||
        (write && ::ftruncate(fd, 0) != 0) || !file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
#else
    // No FIFOs in the file system here: named pipes live outside it.
    file.setFileName(path);
    return file.open(mode);
#endif
}

SmallFile result(SmallFile::Status status, const QByteArray &bytes = QByteArray())
{
    return SmallFile(status, bytes);
}

// A file that is there but could not be read: the system's reason, unless
// the file went away meanwhile.
SmallFile refused(const QString &path)
{
#ifdef Q_OS_WIN
    const unsigned long code = ::GetLastError();
    const bool gone = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
    const QString problem = FileProblem::sentenceForWindows(code, path, FileProblem::Access::Read);
#else
    const int error = errno;
    // No errno: what was opened was not a regular file.
    const bool gone = error == 0 || error == ENOENT || error == ENOTDIR;
    const QString problem = FileProblem::sentence(error, path, FileProblem::Access::Read);
#endif
    SmallFile file = result(SmallFile::Status::NotFound);
    if (!gone)
        file.problem = problem;
    return file;
}

} // namespace

SmallFile readSmallFile(const QString &path, qint64 maxBytes)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return result(SmallFile::Status::NotFound);
    if (info.size() > maxBytes)
        return result(SmallFile::Status::TooLarge);
    QFile file;
    errno = 0;
    if (!openRegularFile(file, path, QIODevice::ReadOnly))
        return refused(path);
    // One byte more than allowed tells a file that grew since the check.
    errno = 0;
    const QByteArray bytes = file.read(maxBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return refused(path);
    if (bytes.size() > maxBytes)
        return result(SmallFile::Status::TooLarge);
    return result(SmallFile::Status::Read, bytes);
}

bool writeSmallFile(const QString &path, const QByteArray &bytes)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return false;
    QFile file;
    return openRegularFile(file, path, QIODevice::WriteOnly) && file.write(bytes) == bytes.size() &&
           file.flush();
}
