#include "settings/smallfile.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Opens the file for reading in a way that cannot block, and only when what
// was opened is a regular file: the path may have been swapped for a FIFO
// since it was checked, and opening a FIFO waits for a writer.
bool openRegularFile(QFile &file, const QString &path)
{
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat opened = {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) ||
        !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
#else
    // No FIFOs in the file system here: named pipes live outside it.
    file.setFileName(path);
    return file.open(QIODevice::ReadOnly);
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
    if (!openRegularFile(file, path))
        return result(SmallFile::Status::NotFound);
    // One byte more than allowed tells a file that grew since the check.
    const QByteArray bytes = file.read(maxBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return result(SmallFile::Status::NotFound);
    if (bytes.size() > maxBytes)
        return result(SmallFile::Status::TooLarge);
    return result(SmallFile::Status::Read, bytes);
}
