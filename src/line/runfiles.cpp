#include "runfiles.h"

#include <QFileInfo>
#include <QHash>

namespace RunFiles {

namespace {
QString keyFollowing(const QString &path, int linksLeft)
{
    const QFileInfo info(path);
    if (info.isSymLink() && linksLeft > 0)
        return keyFollowing(info.symLinkTarget(), linksLeft - 1);
    QString key = info.exists() ? info.canonicalFilePath() : QString();
    if (key.isEmpty()) {
        const QString dir = QFileInfo(info.absolutePath()).canonicalFilePath();
        key = dir.isEmpty() ? info.absoluteFilePath() : dir + QLatin1Char('/') + info.fileName();
    }
#ifdef Q_OS_WIN
    key = key.toCaseFolded();
#endif
    return key;
}
} // namespace

QString key(const QString &path)
{
    return keyFollowing(path, 8);
}

QString conflict(const QList<QPair<QString, QString>> &files)
{
    QHash<QString, QString> owners;
    for (const auto &file : files) {
        if (file.second.isEmpty())
            continue; // a file the run does without
        const QString fileKey = key(file.second);
        if (owners.contains(fileKey))
            return QStringLiteral("один и тот же файл %1 для %2 и для %3")
                .arg(file.second, owners.value(fileKey), file.first);
        owners.insert(fileKey, file.first);
    }
    return QString();
}

} // namespace RunFiles
