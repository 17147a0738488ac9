#include "serverreport.h"

#include "fleet/fleetconnection.h"
#include "fleet/fleetreport.h"
#include "line/xlsxexport.h"
#include "reportarguments.h"

#include <QIODevice>
#include <QJsonArray>
#include <QJsonDocument>

namespace {
constexpr int read = 0;
constexpr int failed = 1;

using Figures = FleetReport::Figures;

// One day of one bench: the sum of its sockets, and each socket's own.
struct DayBench
{
    QDate day;
    QString bench;
    qint64 success = 0;
    qint64 failed = 0;
    qint64 alreadyFlashed = 0;
    QList<FleetReport::Yield> sockets;
};

// The view's rows come by day, bench and socket: a day's bench is a run of them.
QList<DayBench> byDayAndBench(const QList<FleetReport::Yield> &yield)
{
    QList<DayBench> days;
    for (const FleetReport::Yield &socket : yield) {
        if (days.isEmpty() || days.constLast().day != socket.day ||
            days.constLast().bench != socket.bench)
            days.append(DayBench{socket.day, socket.bench, 0, 0, 0, {}});
        DayBench &day = days.last();
        day.success += socket.success;
        day.failed += socket.failed;
        day.alreadyFlashed += socket.alreadyFlashed;
        day.sockets << socket;
    }
    return days;
}

// A JSON string with its quotes, UTF-8 as it is.
QByteArray jsonString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

QByteArray counts(qint64 success, qint64 failed)
{
    return "\"success\":" + QByteArray::number(success) +
           ",\"failed\":" + QByteArray::number(failed);
}

// Written by hand: the keys go in this order, which a JSON object of Qt's would sort.
QByteArray jsonLine(const DayBench &day)
{
    QByteArray line = "{\"day\":" + jsonString(day.day.toString(Qt::ISODate)) +
                      ",\"bench\":" + jsonString(day.bench) + ',' +
                      counts(day.success, day.failed) + ",\"sockets\":{";
    for (int i = 0; i < day.sockets.size(); ++i) {
        const FleetReport::Yield &socket = day.sockets.at(i);
        line += (i ? ",\"" : "\"") + QByteArray::number(socket.socket) + "\":{" +
                counts(socket.success, socket.failed) + '}';
    }
    return line + "}}\n";
}

// A field on one line of the table: a name from outside may hold a line break.
QString oneLine(QString text)
{
    for (QChar &c : text) {
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    }
    return text;
}

// Columns as wide as their widest field, numbers to the right.
QString table(const QStringList &headings, const QList<QStringList> &rows, int firstNumber,
              int lastNumber)
{
    QList<int> widths;
    for (const QString &heading : headings)
        widths << heading.size();
    for (const QStringList &row : rows) {
        for (int c = 0; c < row.size(); ++c)
            widths[c] = qMax(widths.at(c), row.at(c).size());
    }
    QString text;
    for (const QStringList &row : QList<QStringList>{headings} + rows) {
        QStringList fields;
        for (int c = 0; c < row.size(); ++c) {
            const bool number = c >= firstNumber && c <= lastNumber;
            fields << (number ? row.at(c).rightJustified(widths.at(c))
                              : row.at(c).leftJustified(widths.at(c)));
        }
        text += QStringLiteral("  ") + fields.join(QStringLiteral("  ")).trimmed() + '\n';
    }
    return rows.isEmpty() ? text + QStringLiteral("  нет\n") : text;
}

QString rangeTitle(const FleetReport::Range &range)
{
    QStringList parts;
    if (!range.from.isNull())
        parts << QStringLiteral("с ") + range.from.toString(Qt::ISODate);
    if (!range.to.isNull())
        parts << QStringLiteral("по ") + range.to.toString(Qt::ISODate);
    if (parts.isEmpty())
        parts << QStringLiteral("все дни");
    const QString bench = range.bench.isEmpty()
                              ? QStringLiteral("все стенды")
                              : QStringLiteral("стенд «%1»").arg(oneLine(range.bench));
    return parts.join(QLatin1Char(' ')) + QStringLiteral(", ") + bench;
}

QString yieldTable(const QList<FleetReport::Yield> &yield)
{
    QList<QStringList> rows;
    for (const DayBench &day : byDayAndBench(yield)) {
        QStringList sockets;
        for (const FleetReport::Yield &s : day.sockets)
            sockets << QStringLiteral("%1: %2/%3").arg(s.socket).arg(s.success).arg(s.failed);
        rows << QStringList{
            day.day.toString(Qt::ISODate),       oneLine(day.bench),
            QString::number(day.success),        QString::number(day.failed),
            QString::number(day.alreadyFlashed), sockets.join(QStringLiteral("  "))};
    }
    return table({QStringLiteral("День"), QStringLiteral("Стенд"), QStringLiteral("Успешно"),
                  QStringLiteral("Ошибок"), QStringLiteral("Уже прошиты"),
                  QStringLiteral("По гнёздам: успешно/ошибок")},
                 rows, 2, 4);
}

QString failuresTable(const QList<FleetReport::Failure> &failures)
{
    QList<QStringList> rows;
    for (const FleetReport::Failure &f : failures)
        rows << QStringList{QString::number(f.records), oneLine(f.result), oneLine(f.step)};
    return table({QStringLiteral("Записей"), QStringLiteral("Результат"), QStringLiteral("Шаг")},
                 rows, 0, 0);
}

QString rowsLeftTable(const QList<FleetReport::RowsLeft> &tables)
{
    QList<QStringList> rows;
    for (const FleetReport::RowsLeft &t : tables)
        rows << QStringList{oneLine(t.table), QString::number(t.rows), QString::number(t.used),
                            QString::number(t.left)};
    return table({QStringLiteral("Таблица"), QStringLiteral("Строк"),
                  QStringLiteral("Использовано"), QStringLiteral("Осталось")},
                 rows, 1, 3);
}

QString preparedTwiceTable(const QList<FleetReport::PreparedTwice> &modems)
{
    const QString form = QStringLiteral("yyyy-MM-dd hh:mm:ss");
    QList<QStringList> rows;
    for (const FleetReport::PreparedTwice &m : modems)
        rows << QStringList{
            oneLine(m.imei),          QString::number(m.successes), QString::number(m.benches),
            m.firstAt.toString(form), m.lastAt.toString(form),      oneLine(m.benchNames)};
    return table({QStringLiteral("IMEI"), QStringLiteral("Успешно"), QStringLiteral("Стендов"),
                  QStringLiteral("Первый раз"), QStringLiteral("Последний раз"),
                  QStringLiteral("Стенды")},
                 rows, 1, 2);
}

QString tables(const Figures &figures, const FleetReport::Range &range)
{
    return QStringLiteral("Выход по дням и стендам (%1)\n").arg(rangeTitle(range)) +
           yieldTable(figures.yield) +
           QStringLiteral("\nОшибки по причинам (%1)\n").arg(rangeTitle(range)) +
           failuresTable(figures.failures) +
           QStringLiteral("\nСтроки таблиц настроек на сервере\n") +
           rowsLeftTable(figures.rowsLeft) +
           QStringLiteral("\nМодемы, подготовленные дважды (за всё время, все стенды)\n") +
           preparedTwiceTable(figures.preparedTwice);
}

void print(const Figures &figures, const ReportArguments &arguments,
           const FleetReport::Range &range, QIODevice *out)
{
    if (!arguments.json) {
        out->write(tables(figures, range).toUtf8());
        return;
    }
    for (const DayBench &day : byDayAndBench(figures.yield))
        out->write(jsonLine(day));
}

// The range's records into the workbook, by the journal's own export; the
// summary goes where it does not mix into the JSON lines.
int exportRecords(FleetReport *report, const ReportArguments &arguments,
                  const FleetReport::Range &range, QIODevice *out, QIODevice *err)
{
    QList<JournalReader::Row> rows;
    QString error;
    if (!report->readRecords(range, &rows, &error)) {
        err->write(("lorta-flash-cli: Записи не прочитаны из базы: " + error + '\n').toUtf8());
        return failed;
    }
    if (!XlsxExport::write(arguments.job.target, rows, &error)) {
        err->write(("lorta-flash-cli: " + error + '\n').toUtf8());
        return failed;
    }
    JournalExport::Outcome outcome;
    outcome.ok = true;
    outcome.exported = rows.size();
    const QString summary = JournalExport::summary(outcome, arguments.job.target) + '\n';
    (arguments.json ? err : out)->write(summary.toUtf8());
    return read;
}
} // namespace

int runServerReport(const ReportArguments &arguments, QIODevice *out, QIODevice *err)
{
    FleetConnection connection(arguments.conninfo, FleetTiming());
    FleetReport report(&connection);
    const QString fault = report.prepare();
    if (!fault.isEmpty()) {
        err->write(("lorta-flash-cli: " + fault + '\n').toUtf8());
        return failed;
    }
    const FleetReport::Range range{arguments.job.from, arguments.job.to, arguments.bench};
    Figures figures;
    QString error;
    if (!report.readFigures(range, &figures, &error)) {
        err->write(("lorta-flash-cli: Отчёт не прочитан из базы: " + error + '\n').toUtf8());
        return failed;
    }
    print(figures, arguments, range, out);
    if (arguments.job.target.isEmpty())
        return read;
    if (!arguments.json)
        out->write("\n");
    return exportRecords(&report, arguments, range, out, err);
}
