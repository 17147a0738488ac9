#include "journal.h"

#include "procinfo.h"
#include "protocol/modemtext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QUuid>

namespace {
const char bom[] = "\xEF\xBB\xBF";
const char lineEnd[] = "\r\n";
constexpr QChar separator = QLatin1Char(';');
const char flashJob[] = "flash"; // only a flash makes a modem "flashed"
constexpr qint64 maxReadBytes = qint64(64) << 20;
// Excel and LibreOffice take this form for a date-time; the ISO "T" form stays text there.
const char timeFormat[] = "yyyy-MM-dd hh:mm:ss";
// Beside a journal of another layout: "name-2.csv" and on, the first free or
// same-layout one, so that every start finds the same file.
constexpr int firstBeside = 2;
constexpr int lastBeside = 99;
constexpr qint64 maxHeaderBytes = 4096;

// The headers of this journal's earlier layouts, oldest first: before the
// bench, the settings and the record id had columns; before the provisioning
// table's row had one.
const QList<QByteArray> &earlierHeaders()
{
    static const QList<QByteArray> headers{
        QStringLiteral("Дата и время;Гнездо;Порт;Серийный номер адаптера;IMEI;Задание;"
                       "Результат;Шаг;Текст;Длительность, с;Версия;SHA-256")
            .toUtf8(),
        QStringLiteral("Дата и время;Стенд;Гнездо;Порт;Серийный номер адаптера;IMEI;Задание;"
                       "Результат;Шаг;Текст;Длительность, с;Версия;Файл настроек;"
                       "SHA-256 настроек;SHA-256;Запись")
            .toUtf8()};
    return headers;
}

// The first line of a regular file without its BOM and line end; empty for an empty file.
QByteArray headerOf(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QByteArray first = file.readLine(maxHeaderBytes);
    if (first.startsWith(bom))
        first.remove(0, int(sizeof bom) - 1);
    while (first.endsWith('\n') || first.endsWith('\r'))
        first.chop(1);
    return first;
}

QString besideName(const QString &fileName, int number)
{
    const QFileInfo info(fileName);
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    const QString base = info.fileName().chopped(suffix.size());
    return QDir(info.path()).filePath(base + QLatin1Char('-') + QString::number(number) + suffix);
}

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
    case Result::NoTableRow:
        return QStringLiteral("нет строки таблицы");
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

Journal::Journal() : mBench(QSysInfo::machineHostName()), mClock(&QDateTime::currentDateTime) {}

void Journal::setBench(const QString &name)
{
    mBench = name.isEmpty() ? QSysInfo::machineHostName() : name;
}

QString Journal::columnName(Column column)
{
    static const char *const names[ColumnCount] = {"Дата и время",
                                                   "Стенд",
                                                   "Гнездо",
                                                   "Порт",
                                                   "Серийный номер адаптера",
                                                   "IMEI",
                                                   "Задание",
                                                   "Результат",
                                                   "Шаг",
                                                   "Текст",
                                                   "Длительность, с",
                                                   "Версия",
                                                   "Файл настроек",
                                                   "Строка таблицы",
                                                   "SHA-256 настроек",
                                                   "SHA-256",
                                                   "Запись"};
    return QString::fromUtf8(names[column]);
}

QByteArray Journal::header()
{
    QStringList names;
    for (int column = 0; column < ColumnCount; ++column)
        names << columnName(Column(column));
    return names.join(separator).toUtf8() + lineEnd;
}

bool Journal::open(const QString &fileName, QString *error)
{
    if (!chooseFile(fileName, error) || !openFile(error))
        return false;
    readRecent();
    return true;
}

// The file at the journal's name, unless it holds lines of another layout:
// then the first one beside it that is free or of this layout. The older
// files passed on the way are noted for their lines to be read back: the one
// at the name when its header names the fields read, those beside it when
// they hold an earlier layout of this journal (it went on there before).
bool Journal::chooseFile(const QString &fileName, QString *error)
{
    const QByteArray current = header().chopped(2);
    const auto fits = [&current](const QString &name) {
        const QFileInfo info(name);
        return !info.exists() || (info.isFile() && (info.size() == 0 || headerOf(name) == current));
    };
    const auto readBack = [this](const QString &name) {
        if (const std::optional<Layout> layout = layoutOf(name))
            mReadBack.append(ReadBack{name, *layout});
    };
    mFileName = fileName;
    mReadBack.clear();
    mOpenNote.clear();
    // Anything but a regular file is refused when it is opened.
    if (!QFileInfo(fileName).isFile() || fits(fileName))
        return true;
    readBack(fileName);
    for (int number = firstBeside; number <= lastBeside; ++number) {
        const QString beside = besideName(fileName, number);
        if (!fits(beside)) {
            if (QFileInfo(beside).isFile() && earlierHeaders().contains(headerOf(beside)))
                readBack(beside);
            continue;
        }
        const bool old = earlierHeaders().contains(headerOf(fileName));
        mFileName = beside;
        mOpenNote = QStringLiteral("Журнал ") + fileName +
                    (old ? QStringLiteral(" старого вида") : QStringLiteral(" другого вида")) +
                    QStringLiteral(" оставлен как есть: записи идут в ") + beside;
        return true;
    }
    mReadBack.clear();
    *error = QStringLiteral("Не удалось открыть журнал ") + fileName +
             QStringLiteral(": в нём записи другого вида, а файлы ") +
             besideName(fileName, firstBeside) + QStringLiteral(" … ") +
             besideName(fileName, lastBeside) +
             QStringLiteral(" заняты. Укажите другой файл журнала");
    return false;
}

QStringList Journal::withBesideFiles(const QString &fileName)
{
    QStringList files{fileName};
    for (int number = firstBeside; number <= lastBeside; ++number) {
        const QString beside = besideName(fileName, number);
        if (!QFileInfo(beside).isFile())
            continue;
        const QByteArray found = headerOf(beside);
        if (found == header().chopped(2) || earlierHeaders().contains(found))
            files << beside;
    }
    return files;
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

// Today's successes and lines from those already in the files, for the
// duplicate warning and the sockets' health: a bench upgraded at noon keeps
// the morning of its older journal.
void Journal::readRecent()
{
    mSuccesses.clear();
    mListRecent.clear();
    const QDate today = mClock().date();
    for (const ReadBack &older : qAsConst(mReadBack))
        readFile(older.fileName, older.layout, today);
    readFile(mFileName,
             Layout{ColumnTime, ColumnSocket, ColumnImei, ColumnJob, ColumnResult, ColumnText,
                    ColumnResult + 1},
             today);
}

// Where a file's header names the time, the socket, the IMEI, the job, the
// result and the text; none when it lacks one of them (the text may be missing).
std::optional<Journal::Layout> Journal::layoutOf(const QString &fileName)
{
    const QStringList names = splitLine(QString::fromUtf8(headerOf(fileName)));
    const auto at = [&names](Column column) { return int(names.indexOf(columnName(column))); };
    Layout layout{at(ColumnTime),
                  at(ColumnSocket),
                  at(ColumnImei),
                  at(ColumnJob),
                  at(ColumnResult),
                  at(ColumnText),
                  0};
    for (const int needed : {layout.time, layout.socket, layout.imei, layout.job, layout.result}) {
        if (needed < 0)
            return std::nullopt;
        layout.needed = qMax(layout.needed, needed + 1);
    }
    return layout;
}

void Journal::readFile(const QString &fileName, const Layout &layout, const QDate &today)
{
    QFile reader(fileName);
    if (!reader.open(QIODevice::ReadOnly))
        return;
    if (reader.size() > maxReadBytes) {
        // A huge journal: its recent part, from the first whole line in it.
        reader.seek(reader.size() - maxReadBytes - 1);
        reader.readLine();
    }
    while (!reader.atEnd())
        readFields(splitLine(QString::fromUtf8(reader.readLine()).trimmed()), layout, today);
}

QDateTime Journal::timeFromText(const QString &text)
{
    const QDateTime time = QDateTime::fromString(text, QLatin1String(timeFormat));
    return time.isValid() ? time : QDateTime::fromString(text, Qt::ISODate);
}

void Journal::readFields(const QStringList &fields, const Layout &layout, const QDate &today)
{
    if (fields.size() < layout.needed)
        return;
    const QDateTime time = timeFromText(fields.at(layout.time));
    if (!time.isValid())
        return; // the header, or a line no journal wrote
    const std::optional<JournalRecord::Result> result =
        JournalRecord::resultFromText(fields.at(layout.result));
    if (result == JournalRecord::Result::Success &&
        fields.at(layout.job) == QLatin1String(flashJob))
        noteSuccess(fields.at(layout.imei), time, fields.at(layout.socket).toInt());
    bool numbered = false;
    JournalRecord record;
    record.socket = fields.at(layout.socket).toInt(&numbered);
    record.imei = fields.at(layout.imei);
    record.text = fields.value(layout.text);
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
    const QString id = record.recordId.isEmpty()
                           ? QUuid::createUuid().toString(QUuid::WithoutBraces)
                           : record.recordId;
    const QStringList fields{
        time.toString(QLatin1String(timeFormat)),
        field(mBench),
        QString::number(record.socket),
        field(record.port),
        field(record.serialNumber),
        field(record.imei),
        field(record.job),
        JournalRecord::resultText(record.result),
        field(record.step),
        field(record.text),
        QString::number(qRound(record.seconds)),
        field(versionText()),
        field(record.settingsFile),
        // A table's rows are numbered from its header's line 1: none below that.
        record.tableRow > 0 ? QString::number(record.tableRow) : QString(),
        field(record.settingsHash),
        field(record.fileHashes.join(QLatin1Char(' '))),
        field(id),
    };
    return fields.join(separator).toUtf8() + lineEnd;
}

// As the modem's banner says it: "1.08" alone a spreadsheet turns into 1 August.
QString Journal::versionText() const
{
    if (!mVersion.isEmpty() && mVersion.at(0).isDigit())
        return QLatin1Char('v') + mVersion;
    return mVersion;
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
