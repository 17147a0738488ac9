#include "filesource.h"

#include <QDir>

namespace {
const QByteArray localSettingsName = QByteArrayLiteral("settings.ini");
}

QString FileSource::pathFor(const QByteArray &name) const
{
    if (!isLocalSettings(name))
        return resourcePrefix + QString::fromUtf8(name);
    if (!settingsFile.isEmpty())
        return settingsFile;
    const QString fileName = QString::fromUtf8(localSettingsName);
    return localDir.isEmpty() ? fileName : QDir(localDir).filePath(fileName);
}

bool FileSource::isLocalSettings(const QByteArray &name)
{
    return name == localSettingsName; // exact case: "Settings.ini" is a resource name
}
