#include "journal.h"

#include "procinfo.h"
#include "protocol/modemtext.h"

#include <QFile>
#include <QFileInfo>

namespace {
const char bom[] = "\xEF\xBB\xBF";
const char lineEnd[] = "\r\n";
constexpr QChar separator = QLatin1Char(';');
constexpr int imeiField = 4;
constexpr int resultField = 6;
constexpr int socketField = 1;
constexpr int jobField = 5;
constexpr int textField = 8;
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
    case Result::OpenFailed:
        return QStringLiteral("порт не открылся");
    case Result::NoAnswer:
        return QStringLiteral("не отвечает");
    case Result::AlreadyFlashed:
        return QStringLiteral("уже прошит");
    case Result::SocketDisabled:
        return QStringLiteral("гнездо отключено");
    }
    return QString();
}

std::optional<JournalRecord::Result> JournalRecord::resultFromText(const QString &text)
{
    for (int i = 0; i <= int(lastResult); ++i) {
        if (resultText(Result(i)) == text)
            return Result(i);
    }
    return std::nullopt;
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
    mFileName = fileName;
    if (!openFile(error))
        return false;
    readRecent();
    return true;
}

// The file at the journal's name, held, ready for whole lines.
bool Journal::openFile(QString *error)
{
    mFile.close();
    QString reason;
    if (!mFile.openRegular(mFileName, &reason)) {
        *error = reason == AppendJournal::notRegular()
                     ? QStringLiteral("Журнал ") + mFileName + QStringLiteral(" не является файлом")
                     : QStringLiteral("Не удалось открыть журнал ") + mFileName +
                           QStringLiteral(" для записи: ") + reason;
        return false;
    }
    // Held before anything is written: two benches starting together on a
    // new journal would each write its header.
    if (!mFile.holdExclusively()) {
        const QString holder = ProcInfo::lockHolder(mFileName);
        mFile.close();
        *error = QStringLiteral("Не удалось открыть журнал ") + mFileName +
                 QStringLiteral(": журнал уже ведёт другой стенд") +
                 (holder.isEmpty() ? QString() : QStringLiteral(": ") + holder) +
                 QStringLiteral("; у каждого стенда свой журнал");
        return false;
    }
    if (!startWholeLines(&reason)) {
        *error = QStringLiteral("Не удалось записать журнал ") + mFileName + QStringLiteral(": ") +
                 reason;
        mFile.close();
        return false;
    }
    return true;
}

// An empty file gets the BOM and the header; one whose last line has no end
// (a line torn before it could be cut off, an editor's save) gets one, so the
// next record is a line of its own.
bool Journal::startWholeLines(QString *reason)
{
    const qint64 size = mFile.size();
    QByteArray start;
    if (size == 0)
        start = QByteArray(bom) + header();
    else if (!mFile.endsWithLineEnd())
        start = lineEnd;
    if (!start.isEmpty() && (!mFile.append(start, reason) || !mFile.syncToDisk(reason))) {
        mFile.truncateTo(size);
        return false;
    }
    // What was written, not the size read again: the file may be emptied meanwhile.
    mWrittenSize = size + start.size();
    return true;
}

// Today's successes and lines from those already in the file, for the
// duplicate warning and the sockets' health.
void Journal::readRecent()
{
    mSuccesses.clear();
    mListRecent.clear();
    QFile reader(mFileName);
    if (!reader.open(QIODevice::ReadOnly))
        return;
    if (reader.size() > maxReadBytes) {
        // A huge journal: its recent part, from the first whole line in it.
        reader.seek(reader.size() - maxReadBytes - 1);
        reader.readLine();
    }
    const QDate today = mClock().date();
    while (!reader.atEnd())
        readFields(splitLine(QString::fromUtf8(reader.readLine()).trimmed()), today);
}

void Journal::readFields(const QStringList &fields, const QDate &today)
{
    if (fields.size() <= resultField)
        return;
    const QDateTime time = QDateTime::fromString(fields.at(0), Qt::ISODate);
    if (!time.isValid())
        return; // the header, or a line no journal wrote
    const std::optional<JournalRecord::Result> result =
        JournalRecord::resultFromText(fields.at(resultField));
    if (result == JournalRecord::Result::Success && fields.at(jobField) == QLatin1String(flashJob))
        noteSuccess(fields.at(imeiField), time, fields.at(socketField).toInt());
    bool numbered = false;
    JournalRecord record;
    record.socket = fields.at(socketField).toInt(&numbered);
    record.imei = fields.at(imeiField);
    record.text = fields.value(textField);
    record.time = time;
    if (result && numbered && time.date() == today) {
        record.result = *result;
        noteDated(record, today);
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
    QString reason;
    if (!writeLine(line(record, time), &reason)) {
        *error = writeFailure(reason);
        return false;
    }
    noteWritten(record, time);
    return true;
}

QString Journal::writeFailure(const QString &reason) const
{
    return QStringLiteral("Не удалось записать в журнал ") + mFileName + QStringLiteral(": ") +
           reason;
}

bool Journal::writeLine(const QByteArray &bytes, QString *failure, QStringList *notes)
{
    QStringList found;
    QString reason;
    bool ready = mFile.isOpen();
    if (ready && !mFile.stillAtItsName()) {
        // Never into a file that is no longer the journal: the one there now takes the line.
        const bool gone = !QFileInfo::exists(mFileName);
        found << QStringLiteral("Журнал ") + mFileName +
                     (gone ? QStringLiteral(" удалён") : QStringLiteral(" заменён другим файлом")) +
                     QStringLiteral(": записи продолжаются в файле ") + mFileName;
        ready = openFile(&reason);
        if (!ready)
            reason = gone ? QStringLiteral("файл удалён") : reason;
    } else if (ready && mFile.size() < mWrittenSize) {
        found << QStringLiteral("Журнал ") + mFileName +
                     QStringLiteral(" укорочен извне: записи продолжаются с новой строки");
        ready = startWholeLines(&reason);
    } else if (!ready) {
        reason = QStringLiteral("журнал не открыт");
    }
    if (notes)
        *notes << found;
    const qint64 before = mFile.size();
    if (ready && mFile.append(bytes, &reason) && mFile.syncToDisk(&reason)) {
        mWrittenSize = before + bytes.size();
        return true;
    }
    // A torn line is cut off again: the file keeps whole lines only.
    if (ready && mFile.truncateTo(before)) {
        QString ignored;
        mFile.syncToDisk(&ignored);
    }
    *failure = reason;
    return false;
}

void Journal::noteWritten(const JournalRecord &record, const QDateTime &time)
{
    if (record.result == JournalRecord::Result::Success && record.job == QLatin1String(flashJob))
        noteSuccess(record.imei, time, record.socket);
    JournalRecord noted = record;
    noted.time = time;
    noteDated(noted, time.date());
}

// Only the latest day's lines are kept: a watch running past midnight starts a new day.
void Journal::noteDated(const JournalRecord &record, const QDate &date)
{
    while (!mListRecent.isEmpty() && mListRecent.first().date < date)
        mListRecent.removeFirst();
    JournalRecord kept;
    kept.socket = record.socket;
    kept.result = record.result;
    kept.imei = record.imei;
    kept.text = record.text;
    kept.time = record.time;
    mListRecent.append(Dated{date, kept});
}

QList<JournalRecord> Journal::todaysRecords() const
{
    const QDate today = mClock().date();
    QList<JournalRecord> records;
    for (const Dated &dated : mListRecent) {
        if (dated.date == today)
            records.append(dated.record);
    }
    return records;
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
