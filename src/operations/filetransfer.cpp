#include "filetransfer.h"

#include <QFile>
#include <algorithm>
#include <limits>

namespace {
constexpr qint64 smallFileLimit = 1000;
constexpr qint64 smallFileMsPerByte = 3;
constexpr qint64 largeFileMsPerByte = 2;
constexpr qint64 minimumBytesWait = 1500;
} // namespace

std::optional<QByteArray> readFileBytes(const QByteArray &name, const FileSource &source)
{
    QFile file(source.pathFor(name));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = file.readAll();
    // A short read would announce a size the modem never receives.
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

QByteArray makeWriteCommand(const QByteArray &name, QByteArray &fileBytes, const FileSource &source)
{
    const std::optional<QByteArray> bytes = readFileBytes(name, source);
    if (!bytes)
        return QByteArray();
    fileBytes = *bytes;
    QByteArray command = "at#wscript=\"" + name + "\"," + QByteArray::number(fileBytes.size());
    if (!FileSource::isLocalSettings(name))
        command += ",1";
    return command + '\r';
}

QByteArray makeDeleteCommand(const QByteArray &name)
{
    return "at#dscript=\"" + name + "\"\r";
}

int fileBytesWait(qint64 size)
{
    const qint64 perByte = size <= smallFileLimit ? smallFileMsPerByte : largeFileMsPerByte;
    const qint64 wait = std::max(minimumBytesWait, perByte * std::max<qint64>(size, 0));
    return int(std::min<qint64>(wait, std::numeric_limits<int>::max()));
}
