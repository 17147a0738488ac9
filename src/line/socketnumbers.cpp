#include "socketnumbers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>
#include <QTextStream>
#include <algorithm>

namespace {
constexpr qint64 maxFileSize = 1 << 20; // thousands of sockets; anything bigger is not ours
}

QString SocketNumbers::fileBeside(const QString &journalFile)
{
    const QFileInfo info(journalFile);
    return info.dir().filePath(info.completeBaseName() + QStringLiteral(".sockets"));
}

bool SocketNumbers::load(const QString &fileName, QString *error)
{
    mFileName = fileName;
    mNumbers.clear();
    mLast = 0;
    QFile file(fileName);
    if (!file.exists())
        return true;
    if (!QFileInfo(file).isFile() || file.size() > maxFileSize || !file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("Не удалось прочитать файл номеров гнёзд ") + fileName;
        return false;
    }
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const int separator = line.indexOf(QLatin1Char(';'));
        bool ok = false;
        const int number = line.left(separator).toInt(&ok);
        const QString key = line.mid(separator + 1).trimmed();
        if (separator < 0 || !ok || number <= 0 || key.isEmpty() || mNumbers.contains(key))
            continue; // a damaged line loses its socket's number, not the others'
        mNumbers.insert(key, number);
        mLast = std::max(mLast, number);
    }
    return true;
}

int SocketNumbers::numberFor(const QString &key, QString *error)
{
    bool added = false;
    const int number = assign(key, &added);
    if (added)
        write(mFileName, contents(), error);
    return number;
}

int SocketNumbers::assign(const QString &key, bool *added)
{
    const auto found = mNumbers.constFind(key);
    *added = found == mNumbers.constEnd();
    if (!*added)
        return found.value();
    mNumbers.insert(key, ++mLast);
    return mLast;
}

QByteArray SocketNumbers::contents() const
{
    QList<QPair<int, QString>> rows;
    for (auto it = mNumbers.constBegin(); it != mNumbers.constEnd(); ++it)
        rows.append({it.value(), it.key()});
    std::sort(rows.begin(), rows.end());
    QByteArray bytes;
    for (const auto &row : rows)
        bytes += QByteArray::number(row.first) + ';' + row.second.toUtf8() + '\n';
    return bytes;
}

bool SocketNumbers::write(const QString &fileName, const QByteArray &bytes, QString *error)
{
    QSaveFile file(fileName);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    if (error)
        *error = QStringLiteral("Не удалось сохранить номера гнёзд в файл ") + fileName;
    return false;
}
