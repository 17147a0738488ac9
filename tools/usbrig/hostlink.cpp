#include "hostlink.h"

#include <QDir>
#include <QFile>

bool HostLink::post(const QString &name, const QByteArray &text) const
{
    const QString path = QDir(mFolder).filePath(name);
    QFile file(path + QStringLiteral(".tmp"));
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        return false;
    file.close();
    return QFile::rename(path + QStringLiteral(".tmp"), path);
}

bool HostLink::has(const QString &name) const
{
    return QFile::exists(QDir(mFolder).filePath(name));
}

void HostLink::take(const QString &name) const
{
    QFile::remove(QDir(mFolder).filePath(name));
}
