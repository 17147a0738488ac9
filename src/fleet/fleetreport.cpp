#include "fleetreport.h"

#include "fleetconnection.h"
#include "fleetschema.h"

#include <QEventLoop>
#include <chrono>
#include <functional>

namespace {

// A report over a long range may scan many records: more than a bench's batch.
constexpr std::chrono::milliseconds readLimit{120000};

// The range as the statements below take it: $1 the first day, $2 the last,
// $3 the bench; a NULL leaves that side open.
constexpr const char *rangeFilter = " WHERE ($1::date IS NULL OR day >= $1::date)"
                                    " AND ($2::date IS NULL OR day <= $2::date)"
                                    " AND ($3::text IS NULL OR bench = $3::text)";

// Orders by code point, whatever the server's collation: the same order on every server.
constexpr const char *yieldSql = "SELECT day, bench, socket, success, failed, already_flashed "
                                 "FROM lorta_yield%1 ORDER BY day, bench COLLATE \"C\", socket";
constexpr const char *failuresSql =
    "SELECT result, step, sum(records) FROM lorta_failures%1 GROUP BY result, step "
    "ORDER BY sum(records) DESC, result COLLATE \"C\", step COLLATE \"C\"";
constexpr const char *rowsLeftSql = "SELECT table_name, rows, used, left_rows FROM lorta_rows_left "
                                    "ORDER BY table_name COLLATE \"C\"";
constexpr const char *preparedTwiceSql =
    "SELECT imei, successes, benches, bench_names, extract(epoch FROM first_at), "
    "extract(epoch FROM last_at) FROM lorta_prepared_twice ORDER BY imei COLLATE \"C\"";
constexpr const char *recordsSql =
    "SELECT extract(epoch FROM written_at), bench, socket, port, serial_number, imei, job, "
    "result, step, text, seconds, version, settings_file, table_row, settings_hash, file_hashes, "
    "id FROM lorta_record%1 ORDER BY written_at, seq";

QByteArray dayParam(const QDate &day)
{
    return day.isNull() ? QByteArray() : day.toString(Qt::ISODate).toUtf8();
}

PgLink::Statement inRange(const char *sql, const FleetReport::Range &range)
{
    return {QString::fromLatin1(sql).arg(QLatin1String(rangeFilter)).toLatin1(),
            {dayParam(range.from), dayParam(range.to),
             range.bench.isEmpty() ? QByteArray() : range.bench.toUtf8()}};
}

// Seconds since the epoch as the server gives them, as this computer's local time.
QDateTime localTime(const QString &epoch)
{
    return QDateTime::fromMSecsSinceEpoch(qRound64(epoch.toDouble() * 1000.0), Qt::LocalTime);
}

std::optional<int> optionalInt(const QString &text)
{
    return text.isNull() ? std::nullopt : std::optional<int>(text.toInt());
}

FleetReport::Yield yieldOf(const QStringList &f)
{
    return {QDate::fromString(f.value(0), Qt::ISODate),
            f.value(1),
            f.value(2).toInt(),
            f.value(3).toLongLong(),
            f.value(4).toLongLong(),
            f.value(5).toLongLong()};
}

FleetReport::PreparedTwice twiceOf(const QStringList &f)
{
    return {f.value(0), f.value(1).toLongLong(), f.value(2).toLongLong(),
            f.value(3), localTime(f.value(4)),   localTime(f.value(5))};
}

// A record as the journal's reader gives it: the time as a wall clock (the
// journal's form), here this computer's.
JournalReader::Row recordOf(const QStringList &f)
{
    JournalReader::Row row;
    const QDateTime local = localTime(f.value(0));
    row.time = QDateTime(local.date(), local.time(), Qt::UTC);
    row.bench = f.value(1);
    row.socket = optionalInt(f.value(2));
    row.port = f.value(3);
    row.serialNumber = f.value(4);
    row.imei = f.value(5);
    row.job = f.value(6);
    row.result = f.value(7);
    row.step = f.value(8);
    row.text = f.value(9);
    if (!f.value(10).isNull())
        row.seconds = f.value(10).toDouble();
    row.version = f.value(11);
    row.settingsName = f.value(12);
    row.tableRow = optionalInt(f.value(13));
    row.settingsSha256 = f.value(14);
    row.fileHashes = f.value(15);
    row.recordId = f.value(16);
    return row;
}

// Runs the event loop until the work started with a context of its own says it is done.
void waitUntilDone(const std::function<void(QObject *, const std::function<void()> &)> &start)
{
    QEventLoop loop;
    bool done = false;
    start(&loop, [&loop, &done] {
        done = true;
        loop.quit();
    });
    if (!done)
        loop.exec();
}

} // namespace

QString FleetReport::prepare()
{
    QString error;
    if (!ask({"SELECT 1", {}}, &error))
        return QStringLiteral("База недоступна: ") + error;
    waitUntilDone([this, &error](QObject *context, const std::function<void()> &finished) {
        FleetSchema::ensure(mConnection, context, [&error, finished](const QString &fault) {
            error = fault;
            finished();
        });
    });
    return error;
}

bool FleetReport::readFigures(const Range &range, Figures *figures, QString *error)
{
    const auto yield = ask(inRange(yieldSql, range), error);
    const auto failures = yield ? ask(inRange(failuresSql, range), error) : std::nullopt;
    const auto rowsLeft = failures ? ask({rowsLeftSql, {}}, error) : std::nullopt;
    const auto twice = rowsLeft ? ask({preparedTwiceSql, {}}, error) : std::nullopt;
    if (!twice)
        return false;
    *figures = Figures();
    for (const QStringList &f : *yield)
        figures->yield << yieldOf(f);
    for (const QStringList &f : *failures)
        figures->failures << Failure{f.value(0), f.value(1), f.value(2).toLongLong()};
    for (const QStringList &f : *rowsLeft)
        figures->rowsLeft << RowsLeft{f.value(0), f.value(1).toLongLong(), f.value(2).toLongLong(),
                                      f.value(3).toLongLong()};
    for (const QStringList &f : *twice)
        figures->preparedTwice << twiceOf(f);
    return true;
}

bool FleetReport::readRecords(const Range &range, QList<JournalReader::Row> *rows, QString *error)
{
    const auto answer = ask(inRange(recordsSql, range), error);
    if (!answer)
        return false;
    rows->clear();
    for (const QStringList &f : *answer)
        rows->append(recordOf(f));
    return true;
}

std::optional<QList<QStringList>> FleetReport::ask(const PgLink::Statement &statement,
                                                   QString *error)
{
    PgLink::Answer answer;
    waitUntilDone([&](QObject *context, const std::function<void()> &finished) {
        mConnection->run(statement, readLimit, context,
                         [&answer, finished](const PgLink::Answer &given) {
                             answer = given;
                             finished();
                         });
    });
    if (!answer.ok) {
        *error = answer.error;
        return std::nullopt;
    }
    return answer.rows;
}
