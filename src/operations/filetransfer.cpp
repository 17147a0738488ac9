#include "filetransfer.h"

#include "settings/settingsfile.h"

#include <QFile>

SmallFile readFileBytes(const QByteArray &name, const FileSource &source)
{
    const QString path = source.pathFor(name);
    if (FileSource::isLocalSettings(name) && source.settingsContent)
        return *source.settingsContent;
    if (FileSource::isLocalSettings(name))
        return readSmallFile(path, maxSettingsFileBytes);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return SmallFile();
    SmallFile read{SmallFile::Status::Read, file.readAll()};
    // A short read would announce a size the modem never receives.
    return file.error() == QFileDevice::NoError ? read : SmallFile();
}

QByteArray writeCommandFor(const QByteArray &name, qint64 size)
{
    QByteArray command = "at#wscript=\"" + name + "\"," + QByteArray::number(size);
    if (!FileSource::isLocalSettings(name))
        command += ",1";
    return command + '\r';
}

QByteArray makeWriteCommand(const QByteArray &name, QByteArray &fileBytes, const FileSource &source)
{
    const SmallFile file = readFileBytes(name, source);
    if (!file.isRead())
        return QByteArray();
    fileBytes = file.bytes;
    return writeCommandFor(name, fileBytes.size());
}

QByteArray makeDeleteCommand(const QByteArray &name)
{
    return "at#dscript=\"" + name + "\"\r";
}
