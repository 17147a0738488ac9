#include "settings/smallfile.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
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
    return SmallFile{status, bytes};
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
    if (!openRegularFile(file, path, QIODevice::ReadOnly))
        return result(SmallFile::Status::NotFound);
    // One byte more than allowed tells a file that grew since the check.
    const QByteArray bytes = file.read(maxBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return result(SmallFile::Status::NotFound);
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
