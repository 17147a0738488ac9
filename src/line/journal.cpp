#include "journal.h"

#include "protocol/modemtext.h"

#include <QFile>

namespace {
const char bom[] = "\xEF\xBB\xBF";
const char lineEnd[] = "\r\n";
constexpr QChar separator = QLatin1Char(';');
constexpr int imeiField = 4;
constexpr int resultField = 6;
constexpr int socketField = 1;
constexpr int jobField = 5;
const char flashJob[] = "flash"; // only a flash makes a modem "flashed"
constexpr qint64 maxReadBytes = qint64(64) << 20;

// Whether a spreadsheet would run the field as a formula: a "=", "+", "-" or
// "@" first, also behind blanks or control characters.
bool formulaTrigger(const QString &text)
{
    for (const QChar c : text) {
        if (c.isSpace() || c.category() == QChar::Other_Control)
            continue;
        return QStringLiteral("=+-@").contains(c);
    }
    return false;
}

// A field from outside as one line: control characters escaped as on the
// console, a formula trigger made text, and quoted when it holds a separator
// or a quote.
QString field(const QString &raw)
{
    QString text = printableText(raw);
    if (formulaTrigger(raw))
        text.prepend(QLatin1Char('\''));
    if (text.contains(separator) || text.contains(QLatin1Char('"')))
        return QLatin1Char('"') + text.replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
               QLatin1Char('"');
    return text;
}
} // namespace

QString JournalRecord::resultText(Result result)
{
    switch (result) {
    case Result::Success:
        return QStringLiteral("успех");
    case Result::Failure:
        return QStringLiteral("ошибка");
    case Result::Interrupted:
        return QStringLiteral("прервано");
    case Result::Unplugged:
        return QStringLiteral("модем отключён");
    }
    return QString();
}

Journal::Journal() : mClock(&QDateTime::currentDateTime) {}

QByteArray Journal::header()
{
    return QStringLiteral("Дата и время;Гнездо;Порт;Серийный номер адаптера;IMEI;Задание;"
                          "Результат;Шаг;Текст;Длительность, с;Версия;SHA-256")
               .toUtf8() +
           lineEnd;
}

bool Journal::open(const QString &fileName, QString *error)
{
    mFile.close();
    mFileName = fileName;
    QString reason;
    if (!mFile.openRegular(fileName, &reason)) {
        *error = reason == AppendJournal::notRegular()
                     ? QStringLiteral("Журнал ") + fileName + QStringLiteral(" не является файлом")
                     : QStringLiteral("Не удалось открыть журнал ") + fileName +
                           QStringLiteral(" для записи: ") + reason;
        return false;
    }
    if (mFile.size() == 0) {
        const QByteArray start = QByteArray(bom) + header();
        if (!mFile.append(start, &reason) || !mFile.syncToDisk(&reason)) {
            *error = QStringLiteral("Не удалось записать журнал ") + fileName;
            mFile.close();
            return false;
        }
    }
    readSuccesses();
    return true;
}

// Today's successes from the lines already in the file, for the duplicate warning.
void Journal::readSuccesses()
{
    mSuccesses.clear();
    QFile reader(mFileName);
    if (!reader.open(QIODevice::ReadOnly))
        return;
    if (reader.size() > maxReadBytes)
        reader.seek(reader.size() - maxReadBytes); // a huge journal: its recent part
    const QString success = JournalRecord::resultText(JournalRecord::Result::Success);
    while (!reader.atEnd()) {
        const QStringList fields = splitLine(QString::fromUtf8(reader.readLine()).trimmed());
        if (fields.size() <= resultField || fields.at(resultField) != success ||
            fields.at(jobField) != QLatin1String(flashJob))
            continue;
        const QDateTime time = QDateTime::fromString(fields.at(0), Qt::ISODate);
        if (time.isValid())
            noteSuccess(fields.at(imeiField), time, fields.at(socketField).toInt());
    }
}

void Journal::noteSuccess(const QString &imei, const QDateTime &time, int socket)
{
    if (imei.isEmpty())
        return;
    const auto found = mSuccesses.constFind(imei);
    if (found == mSuccesses.constEnd() || found->time <= time)
        mSuccesses.insert(imei, Success{time, socket});
}

QByteArray Journal::line(const JournalRecord &record) const
{
    return line(record, mClock());
}

QByteArray Journal::line(const JournalRecord &record, const QDateTime &time) const
{
    const QStringList fields{
        time.toString(Qt::ISODate),
        QString::number(record.socket),
        field(record.port),
        field(record.serialNumber),
        field(record.imei),
        field(record.job),
        JournalRecord::resultText(record.result),
        field(record.step),
        field(record.text),
        QString::number(qRound(record.seconds)),
        field(mVersion),
        field(record.fileHashes.join(QLatin1Char(' '))),
    };
    return fields.join(separator).toUtf8() + lineEnd;
}

bool Journal::append(const JournalRecord &record, QString *error)
{
    const QDateTime time = mClock();
    if (!writeLine(line(record, time), error))
        return false;
    noteWritten(record, time);
    return true;
}

bool Journal::writeLine(const QByteArray &bytes, QString *error)
{
    QString reason;
    if (!mFile.append(bytes, &reason) || !mFile.syncToDisk(&reason)) {
        *error = QStringLiteral("Не удалось записать в журнал ") + mFileName +
                 QStringLiteral(": ") + reason;
        return false;
    }
    return true;
}

void Journal::noteWritten(const JournalRecord &record, const QDateTime &time)
{
    if (record.result == JournalRecord::Result::Success && record.job == QLatin1String(flashJob))
        noteSuccess(record.imei, time, record.socket);
}

QString Journal::duplicateWarning(const QString &imei) const
{
    const auto found = mSuccesses.constFind(imei);
    if (imei.isEmpty() || found == mSuccesses.constEnd() || found->time.date() != mClock().date())
        return QString();
    return QStringLiteral("Модем с IMEI ") + imei + QStringLiteral(" уже прошит сегодня в ") +
           found->time.toString(QStringLiteral("hh:mm")) + QStringLiteral(" (гнездо ") +
           QString::number(found->socket) + QLatin1Char(')');
}

QStringList Journal::splitLine(const QString &line)
{
    QStringList fields;
    QString current;
    bool quoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (quoted && c == QLatin1Char('"')) {
            if (i + 1 < line.size() && line.at(i + 1) == QLatin1Char('"'))
                current += line.at(++i);
            else
                quoted = false;
        } else if (c == QLatin1Char('"') && current.isEmpty()) {
            quoted = true;
        } else if (!quoted && c == separator) {
            fields.append(current);
            current.clear();
        } else if (c != QChar(0xFEFF)) {
            current += c;
        }
    }
    fields.append(current);
    return fields;
}
