#include "usedrows.h"

#include "journal.h"
#include "procinfo.h"
#include "settings/smallfile.h"

namespace {
const char bom[] = "\xEF\xBB\xBF";
const char lineEnd[] = "\r\n";
const char timeFormat[] = "yyyy-MM-dd hh:mm:ss";
constexpr int fieldCount = 4;
// A table of some thousand rows leaves a file of a few hundred KB.
constexpr qint64 maxUsedBytes = qint64(64) << 20;

QByteArray header()
{
    return QStringLiteral("Строка;IMEI;Время;Результат").toUtf8() + lineEnd;
}
} // namespace

bool UsedRows::open(const QString &fileName, QList<Entry> *entries, QString *error)
{
    QString reason;
    const QString failed = QStringLiteral("Не удалось открыть файл выданных строк ") + fileName;
    if (!mFile.openRegular(fileName, &reason)) {
        *error = failed + QStringLiteral(": ") + reason;
        return false;
    }
    if (!mFile.holdExclusively()) {
        const QString holder = ProcInfo::lockHolder(fileName);
        mFile.close();
        *error = failed + QStringLiteral(": таблицей уже пользуется другой стенд") +
                 (holder.isEmpty() ? QString() : QStringLiteral(": ") + holder) +
                 QStringLiteral("; у каждого стенда своя таблица");
        return false;
    }
    if (!readBack(entries, error)) {
        mFile.close();
        return false;
    }
    if (mFile.size() == 0 &&
        (!mFile.append(QByteArray(bom) + header(), &reason) || !mFile.syncToDisk(&reason))) {
        mFile.truncateTo(0);
        mFile.close();
        *error = failed + QStringLiteral(": ") + reason;
        return false;
    }
    return true;
}

// Every whole line; a last one without its line end is cut off, a line that
// this file's writer cannot have written refuses the file.
bool UsedRows::readBack(QList<Entry> *entries, QString *error)
{
    const SmallFile read = readSmallFile(mFile.fileName(), maxUsedBytes);
    if (!read.isRead()) {
        *error = QStringLiteral("Не удалось прочитать файл выданных строк ") + mFile.fileName() +
                 (read.problem.isEmpty() ? QString() : QStringLiteral(": ") + read.problem);
        return false;
    }
    QByteArray bytes = read.bytes;
    const int whole = bytes.lastIndexOf('\n') + 1;
    if (whole < bytes.size()) {
        bytes.truncate(whole);
        if (!mFile.truncateTo(whole)) {
            *error =
                QStringLiteral("Не удалось отрезать оборванную строку файла ") + mFile.fileName();
            return false;
        }
    }
    if (bytes.startsWith(bom))
        bytes.remove(0, int(sizeof bom) - 1);
    const QList<QByteArray> lines = bytes.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const QString text = QString::fromUtf8(lines.at(i)).trimmed();
        if (text.isEmpty() || (i == 0 && text.toUtf8() + lineEnd == header()))
            continue;
        const QStringList fields = Journal::splitLine(text);
        Entry entry;
        bool numbered = false;
        entry.row = fields.value(0).toInt(&numbered);
        entry.imei = fields.value(1);
        entry.time = QDateTime::fromString(fields.value(2), QLatin1String(timeFormat));
        entry.result = fields.value(3);
        if (fields.size() != fieldCount || !numbered || entry.row < 2 || entry.imei.isEmpty()) {
            *error = QStringLiteral("Файл выданных строк ") + mFile.fileName() +
                     QStringLiteral(", строка %1: не строка этого файла; ").arg(i + 1) +
                     QStringLiteral("исправьте её или уберите файл вместе с таблицей");
            return false;
        }
        entries->append(entry);
    }
    return true;
}

QByteArray UsedRows::line(const Entry &entry)
{
    return QStringList{QString::number(entry.row), entry.imei,
                       entry.time.toString(QLatin1String(timeFormat)), entry.result}
               .join(QLatin1Char(';'))
               .toUtf8() +
           lineEnd;
}

bool UsedRows::writeLine(const QByteArray &line, QString *reason)
{
    const qint64 before = mFile.size();
    if (!mFile.isOpen()) {
        *reason = QStringLiteral("файл не открыт");
        return false;
    }
    if (mFile.append(line, reason) && mFile.syncToDisk(reason))
        return true;
    // A torn line is cut off again: the file keeps whole lines only.
    if (mFile.truncateTo(before)) {
        QString ignored;
        mFile.syncToDisk(&ignored);
    }
    return false;
}

QString UsedRows::writeFailure(const QString &reason) const
{
    return QStringLiteral("Не удалось записать в файл выданных строк ") + mFile.fileName() +
           QStringLiteral(": ") + reason;
}
