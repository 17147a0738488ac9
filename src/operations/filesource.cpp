#include "filesource.h"

#include "protocol/modemfiles.h"

#include <QDir>

QString FileSource::pathFor(const QByteArray &name) const
{
    if (!isLocalSettings(name))
        return resourcePrefix + QString::fromUtf8(name);
    if (!settingsFile.isEmpty())
        return settingsFile;
    const QString fileName = ModemFiles::settings();
    return localDir.isEmpty() ? fileName : QDir(localDir).filePath(fileName);
}

bool FileSource::isLocalSettings(const QByteArray &name)
{
    // Exact case: "Settings.ini" is a resource name.
    return name == ModemFiles::settings().toLatin1();
}
