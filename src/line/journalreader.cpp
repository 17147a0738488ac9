#include "journalreader.h"

#include "journal.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <algorithm>

namespace {
const QString timeColumn = Journal::columnName(Journal::ColumnTime);
// "2026-12-09 03:37:27", or with a "T" in earlier journals.
const char dateFormat[] = "yyyy-MM-dd";
const char clockFormat[] = "hh:mm:ss";
constexpr int dateLength = 10;
constexpr int timeLength = 19;

// The journal puts an apostrophe before a field a spreadsheet would take for a
// formula; a typed cell is never one, so the field gets its own text back.
QString unguarded(const QString &field)
{
    if (!field.startsWith(QLatin1Char('\'')))
        return field;
    for (int i = 1; i < field.size(); ++i) {
        const QChar c = field.at(i);
        if (c.isSpace() || c.category() == QChar::Other_Control)
            continue;
        return QStringLiteral("=+-@").contains(c) ? field.mid(1) : field;
    }
    return field;
}

QString chopLineEnd(QString line)
{
    while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
        line.chop(1);
    return line;
}
} // namespace

// Where each named column is in the lines under one header.
struct JournalReader::Columns
{
    QHash<QString, int> index;
    int count = 0;

    explicit Columns(const QStringList &header) : count(header.size())
    {
        for (int i = 0; i < header.size(); ++i)
            index.insert(header.at(i), i);
    }
    QString value(const QStringList &fields, const QString &name) const
    {
        const int at = index.value(name, -1);
        return at < 0 ? QString() : unguarded(fields.at(at));
    }
};

void JournalReader::setRange(const QDate &from, const QDate &to)
{
    mFrom = from;
    mTo = to;
}

bool JournalReader::inRange(const QDate &day) const
{
    return (mFrom.isNull() || day >= mFrom) && (mTo.isNull() || day <= mTo);
}

// The clock's reading as written, without a time zone: a local time that a
// change to summer time skipped is still the time the bench wrote.
QDateTime JournalReader::parseTime(const QString &text)
{
    if (text.size() != timeLength ||
        (text.at(dateLength) != QLatin1Char(' ') && text.at(dateLength) != QLatin1Char('T')))
        return QDateTime();
    const QDate date = QDate::fromString(text.left(dateLength), QLatin1String(dateFormat));
    const QTime time = QTime::fromString(text.mid(dateLength + 1), QLatin1String(clockFormat));
    if (!date.isValid() || !time.isValid())
        return QDateTime();
    return QDateTime(date, time, Qt::UTC);
}

bool JournalReader::read(const QString &fileName, QString *error)
{
    const QFileInfo info(fileName);
    if (!info.exists()) {
        *error = QStringLiteral("Журнал ") + fileName +
                 QStringLiteral(" не найден. Проверьте имя и папку файла.");
        return false;
    }
    if (info.isDir()) {
        *error = fileName + QStringLiteral(" — папка, а не журнал. Укажите файл журнала.");
        return false;
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Не удалось открыть журнал ") + fileName +
                 QStringLiteral(": нет прав на чтение. Проверьте права на файл.");
        return false;
    }
    std::optional<Columns> columns;
    bool anyLine = false;
    while (!file.atEnd()) {
        const QByteArray bytes = file.readLine();
        const QString line = chopLineEnd(QString::fromUtf8(bytes));
        if (line.isEmpty() || line == QChar(0xFEFF))
            continue;
        anyLine = true;
        const QStringList fields = Journal::splitLine(line);
        if (fields.first() == timeColumn) {
            columns.emplace(fields);
            continue;
        }
        // A last line without its end may be one the bench is writing right now.
        const bool whole = bytes.endsWith('\n');
        if (!columns || !whole || fields.size() != columns->count) {
            ++mSkipped;
            continue;
        }
        Row row;
        row.time = parseTime(columns->value(fields, timeColumn));
        if (!row.time.isValid()) {
            ++mSkipped;
            continue;
        }
        if (!inRange(row.time.date()))
            continue;
        bool numbered = false;
        const int socket =
            columns->value(fields, Journal::columnName(Journal::ColumnSocket)).toInt(&numbered);
        if (numbered)
            row.socket = socket;
        const double seconds =
            columns->value(fields, Journal::columnName(Journal::ColumnSeconds)).toDouble(&numbered);
        if (numbered)
            row.seconds = seconds;
        const int tableRow =
            columns->value(fields, Journal::columnName(Journal::ColumnTableRow)).toInt(&numbered);
        if (numbered)
            row.tableRow = tableRow;
        row.bench = columns->value(fields, Journal::columnName(Journal::ColumnBench));
        row.port = columns->value(fields, Journal::columnName(Journal::ColumnPort));
        row.serialNumber = columns->value(fields, Journal::columnName(Journal::ColumnSerialNumber));
        row.imei = columns->value(fields, Journal::columnName(Journal::ColumnImei));
        row.job = columns->value(fields, Journal::columnName(Journal::ColumnJob));
        row.result = columns->value(fields, Journal::columnName(Journal::ColumnResult));
        row.step = columns->value(fields, Journal::columnName(Journal::ColumnStep));
        row.text = columns->value(fields, Journal::columnName(Journal::ColumnText));
        row.version = columns->value(fields, Journal::columnName(Journal::ColumnVersion));
        row.settingsName = columns->value(fields, Journal::columnName(Journal::ColumnSettingsFile));
        row.settingsSha256 =
            columns->value(fields, Journal::columnName(Journal::ColumnSettingsHash));
        row.fileHashes = columns->value(fields, Journal::columnName(Journal::ColumnFileHashes));
        row.recordId = columns->value(fields, Journal::columnName(Journal::ColumnRecordId));
        mRows.append(row);
    }
    if (file.error() != QFileDevice::NoError) {
        *error = QStringLiteral("Не удалось дочитать журнал ") + fileName +
                 QStringLiteral(". Проверьте диск и повторите.");
        return false;
    }
    if (anyLine && !columns) {
        *error = QStringLiteral("Файл ") + fileName +
                 QStringLiteral(" не похож на журнал: в нём нет строки заголовка. Укажите файл "
                                "журнала.");
        return false;
    }
    return true;
}

QList<JournalReader::Row> JournalReader::rows() const
{
    QList<Row> sorted = mRows;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const Row &a, const Row &b) { return a.time < b.time; });
    return sorted;
}
