#include "fleetdesk.h"

#include "fleetconnection.h"
#include "fleetschema.h"
#include "line/provisionbook.h"
#include "line/provisiontable.h"
#include "settings/settingsfile.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

namespace {

// The modem's own row (its IMEI in the table, or given to it before), else
// the first free row handed out in order. Rows another bench holds locked are
// skipped, not waited for: it is giving them away this moment. A row given
// before keeps its first bench and time. The last column tells whether the
// table has rows handed out in order at all, for the refusal's wording.
constexpr const char *reserveSql = R"sql(
WITH own AS (
    SELECT row_no FROM lorta_table_row
    WHERE table_name = $1 AND (imei = $2 OR bound_imei = $2)
    ORDER BY row_no LIMIT 1 FOR UPDATE
), free AS (
    SELECT row_no FROM lorta_table_row
    WHERE table_name = $1 AND imei IS NULL AND bound_imei IS NULL
      AND NOT EXISTS (SELECT 1 FROM own)
    ORDER BY row_no LIMIT 1 FOR UPDATE SKIP LOCKED
), given AS (
    UPDATE lorta_table_row t
    SET bound_imei = $2, bound_bench = coalesce(t.bound_bench, $3),
        bound_at = coalesce(t.bound_at, now())
    WHERE t.table_name = $1
      AND t.row_no IN (SELECT row_no FROM own UNION ALL SELECT row_no FROM free)
      AND (t.bound_imei IS NULL OR t.bound_imei = $2) -- the row locks guard it; this too
    RETURNING t.row_no, t.cells
)
SELECT given.row_no, given.cells, EXISTS (SELECT 1 FROM free),
       EXISTS (SELECT 1 FROM lorta_table_row WHERE table_name = $1 AND imei IS NULL)
FROM (SELECT 1) AS one LEFT JOIN given ON true
)sql";

// The server's rows left, less the rows of an IMEI whose success here has
// not reached the server as a record yet ($2, an integer array).
constexpr const char *leftExpression = R"sql(
coalesce((SELECT left_rows FROM lorta_rows_left WHERE table_name = $1), 0)
- (SELECT count(*) FROM lorta_table_row t
   WHERE t.table_name = $1 AND t.row_no = ANY ($2::integer[]) AND t.imei IS NOT NULL
     AND NOT EXISTS (SELECT 1 FROM lorta_row_used u
                     WHERE u.table_name = $1 AND u.row_no = t.row_no))
)sql";

// The same violation a second bench gets when the same modem is given a row
// at the same moment: asked again, it finds the row given to it.
constexpr const char *uniqueViolation = "23505";

QString serverRowFault(int row, const QString &table, const QString &fault)
{
    return QStringLiteral("строка %1 таблицы настроек «%2» в базе: %3").arg(row).arg(table, fault);
}

} // namespace

FleetDesk::FleetDesk(FleetConnection *connection, const QString &table, const QString &bench,
                     const QStringList &base, int lowMark, QObject *parent)
    : RowDesk(parent), mConnection(connection), mTable(table), mBench(bench), mListBase(base),
      mLowMark(lowMark)
{
}

QString FleetDesk::missingText(const QString &table)
{
    return QStringLiteral("Таблицы настроек «%1» нет в базе").arg(table);
}

PgLink::Statement FleetDesk::leftStatement() const
{
    QStringList rows;
    for (int row : mSetSucceeded)
        rows << QString::number(row);
    return {QByteArray("SELECT ") + leftExpression,
            {mTable.toUtf8(), ('{' + rows.join(QLatin1Char(',')) + '}').toUtf8()}};
}

void FleetDesk::open(Opened done)
{
    FleetSchema::ensure(mConnection, this, [this, done](const QString &error) {
        if (!error.isEmpty()) {
            done(error);
            return;
        }
        PgLink::Statement statement = leftStatement();
        statement.sql = "SELECT EXISTS (SELECT 1 FROM lorta_table WHERE name = $1), " +
                        statement.sql.mid(int(qstrlen("SELECT ")));
        mConnection->run(statement, mConnection->timing().reserveLimit, this,
                         [this, done](const PgLink::Answer &answer) {
                             const QStringList fields = answer.rows.value(0);
                             if (!answer.ok)
                                 done(answer.error);
                             else if (fields.value(0) != QLatin1String("t"))
                                 done(missingText(mTable));
                             else {
                                 setLeft(fields.value(1).toInt());
                                 checkExhausted();
                                 done(QString());
                             }
                         });
    });
}

void FleetDesk::listTables(FleetConnection *connection, QObject *context, Listed done)
{
    FleetSchema::ensure(connection, context, [connection, context, done](const QString &error) {
        if (!error.isEmpty()) {
            done({}, error);
            return;
        }
        const PgLink::Statement statement{
            "SELECT t.name, coalesce(v.rows, 0), coalesce(v.left_rows, 0) FROM lorta_table t "
            "LEFT JOIN lorta_rows_left v ON v.table_name = t.name ORDER BY t.name",
            {}};
        connection->run(statement, connection->timing().reserveLimit, context,
                        [done](const PgLink::Answer &answer) {
                            QList<TableInfo> tables;
                            for (const QStringList &fields : answer.rows)
                                tables << TableInfo{fields.value(0), fields.value(1).toInt(),
                                                    fields.value(2).toInt()};
                            done(tables, answer.ok ? QString() : answer.error);
                        });
    });
}

void FleetDesk::request(const QString &imei, QObject *context, Done done)
{
    auto request = std::make_shared<Request>(Request{imei, context, std::move(done)});
    ++mPending;
    if (imei.isEmpty()) {
        Grant grant;
        grant.refusal = QStringLiteral("IMEI не прочитан: таблица требует IMEI");
        // Later, as every grant: the caller's own state is set up first.
        QTimer::singleShot(0, this, [this, request, grant] { finish(request, grant); });
        return;
    }
    reserve(request);
}

void FleetDesk::reserve(const std::shared_ptr<Request> &request)
{
    const PgLink::Statement statement{reserveSql,
                                      {mTable.toUtf8(), request->imei.toUtf8(), mBench.toUtf8()}};
    // This object, not the caller, is the context: a request whose caller is
    // gone still has to leave the count of pending ones.
    mConnection->run(statement, mConnection->timing().reserveLimit, this,
                     [this, request](const PgLink::Answer &answer) { answered(request, answer); });
}

void FleetDesk::answered(const std::shared_ptr<Request> &request, const PgLink::Answer &answer)
{
    if (!request->context) {
        finish(request, Grant());
        return;
    }
    if (!answer.ok && answer.sqlState == uniqueViolation) {
        reserve(request);
        return;
    }
    if (!answer.ok) {
        if (!request->waitingSaid) {
            request->waitingSaid = true;
            Grant waiting;
            waiting.waiting = waitingText();
            request->done(waiting);
        }
        QTimer::singleShot(mConnection->timing().retry, this, [this, request] {
            if (request->context)
                reserve(request);
            else
                finish(request, Grant());
        });
        return;
    }
    const QStringList fields = answer.rows.value(0);
    if (fields.value(2) == QLatin1String("t"))
        setLeft(mLeft - 1); // a free row is gone: said at once, the server's count follows
    finish(request, grantFor(fields, request->imei));
    refreshLeft();
}

RowDesk::Grant FleetDesk::grantFor(const QStringList &fields, const QString &imei) const
{
    Grant grant;
    if (fields.value(0).isNull()) {
        grant.refusal = fields.value(3) == QLatin1String("t")
                            ? ProvisionBook::exhaustedText()
                            : QStringLiteral("нет строки в таблице для IMEI ") + imei;
        return grant;
    }
    const int row = fields.value(0).toInt();
    // The cells were checked on loading; what an edit on the server made of
    // them since is checked again, and the modem is refused rather than given it.
    const QJsonObject cells = QJsonDocument::fromJson(fields.value(1).toUtf8()).object();
    const QStringList settable = ProvisionTable::settableKeys();
    QHash<QString, QString> values;
    for (auto it = cells.constBegin(); it != cells.constEnd(); ++it) {
        if (!settable.contains(it.key()) || !it.value().isString()) {
            grant.refusal =
                serverRowFault(row, mTable, QStringLiteral("не значение настроек: ") + it.key());
            return grant;
        }
        values.insert(it.key(), it.value().toString());
    }
    const QByteArray settings = ProvisionTable::settingsOver(mListBase, values);
    if (settings.size() > maxSettingsFileBytes) {
        grant.refusal =
            serverRowFault(row, mTable, QStringLiteral("файл настроек слишком длинный"));
        return grant;
    }
    grant.row = row;
    grant.settings = SmallFile(SmallFile::Status::Read, settings);
    if (low())
        grant.note = leftText();
    return grant;
}

void FleetDesk::finish(const std::shared_ptr<Request> &request, const Grant &grant)
{
    --mPending;
    if (request->context)
        request->done(grant);
    if (mPending == 0)
        emit signal_allWritten();
}

void FleetDesk::noteResult(int row, const QString &, JournalRecord::Result result)
{
    if (row <= 0)
        return;
    if (result == JournalRecord::Result::Success)
        mSetSucceeded.insert(row);
    refreshLeft();
}

// One count at a time: those asked for meanwhile are answered by one more.
void FleetDesk::refreshLeft()
{
    if (mRefreshRunning) {
        mRefreshAgain = true;
        return;
    }
    mRefreshRunning = true;
    mConnection->run(leftStatement(), mConnection->timing().reserveLimit, this,
                     [this](const PgLink::Answer &answer) {
                         mRefreshRunning = false;
                         if (answer.ok)
                             setLeft(answer.rows.value(0).value(0).toInt());
                         if (mRefreshAgain) {
                             mRefreshAgain = false;
                             refreshLeft();
                         }
                     });
}

void FleetDesk::setLeft(int left)
{
    left = qMax(left, 0);
    if (left == mLeft)
        return;
    mLeft = left;
    // Rows appended on the server make a used-up table one to say so of again.
    if (left > 0)
        mExhaustedSaid = false;
    emit signal_leftChanged();
    checkExhausted();
}

void FleetDesk::checkExhausted()
{
    if (mExhaustedSaid || mLeft > 0)
        return;
    mExhaustedSaid = true;
    emit signal_exhausted(ProvisionBook::exhaustedText() + QStringLiteral(": «") + mTable +
                          QStringLiteral("» в базе — новые модемы не начинаются"));
}

QString FleetDesk::leftText() const
{
    QString text = QStringLiteral("Строк таблицы осталось: %1").arg(mLeft);
    if (mLeft == 0)
        return text + QStringLiteral(" — ") + ProvisionBook::exhaustedText();
    if (mLeft <= mLowMark)
        text += QStringLiteral(" — заканчиваются");
    return text;
}
