#include "fleetimport.h"

#include "fleetconnection.h"
#include "fleetschema.h"
#include "line/provisiontable.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// Imports one after another: the next row number and the IMEIs already in a
// table are read only once no other import can add to it.
constexpr const char *lockStatement = "SELECT pg_advisory_xact_lock(4650032)";

// The whole import as one statement over the rows in $2 (a JSON array): it
// adds nothing when the name is taken (and $3, appending, is false) or an
// IMEI is the table's already, and says which. $4: the file the rows came from.
constexpr const char *importSql = R"sql(
WITH input AS (
    SELECT (e->>'line')::integer AS source_line, e->>'imei' AS imei, e->'cells' AS cells, ord
    FROM jsonb_array_elements($2::jsonb) WITH ORDINALITY AS a(e, ord)
), found AS (
    SELECT count(*) AS n FROM lorta_table WHERE name = $1
), last AS (
    SELECT coalesce(max(row_no), 0) AS n FROM lorta_table_row WHERE table_name = $1
), clash AS (
    SELECT i.imei, r.row_no FROM input i
    JOIN lorta_table_row r ON r.table_name = $1 AND (r.imei = i.imei OR r.bound_imei = i.imei)
    ORDER BY i.ord, r.row_no LIMIT 1
), verdict AS (
    SELECT CASE WHEN (SELECT n FROM found) > 0 AND NOT $3::boolean THEN 'exists'
                WHEN EXISTS (SELECT 1 FROM clash) THEN 'imei'
                ELSE 'ok' END AS v
), new_table AS (
    INSERT INTO lorta_table (name)
    SELECT $1 WHERE (SELECT v FROM verdict) = 'ok' AND (SELECT n FROM found) = 0
    RETURNING name
), new_rows AS (
    INSERT INTO lorta_table_row (table_name, row_no, source_file, source_line, imei, cells)
    SELECT $1, (SELECT n FROM last) + i.ord, $4, i.source_line, i.imei, i.cells
    FROM input i WHERE (SELECT v FROM verdict) = 'ok'
    RETURNING 1
)
SELECT (SELECT v FROM verdict), (SELECT imei FROM clash), (SELECT row_no FROM clash),
       (SELECT count(*) FROM new_rows), (SELECT n FROM last) + 1
)sql";

QByteArray rowsJson(const ProvisionTable &table)
{
    QJsonArray rows;
    for (const ProvisionTable::Row &row : table.rows()) {
        QJsonObject cells;
        for (auto it = row.values.cbegin(); it != row.values.cend(); ++it)
            cells.insert(it.key(), it.value());
        rows.append(QJsonObject{
            {QStringLiteral("line"), row.line},
            {QStringLiteral("imei"), row.imei.isEmpty() ? QJsonValue() : QJsonValue(row.imei)},
            {QStringLiteral("cells"), cells}});
    }
    return QJsonDocument(rows).toJson(QJsonDocument::Compact);
}

FleetImport::Outcome outcomeOf(const PgLink::Answer &answer, const QString &name)
{
    FleetImport::Outcome outcome;
    const QStringList fields = answer.rows.value(0);
    if (!answer.ok)
        outcome.error =
            QStringLiteral("Таблица настроек «%1» не загружена: %2").arg(name, answer.error);
    else if (fields.value(0) == QLatin1String("exists"))
        outcome.error = FleetImport::existsText(name);
    else if (fields.value(0) == QLatin1String("imei"))
        outcome.error = QStringLiteral("IMEI %1 уже есть в таблице настроек «%2» (строка %3): "
                                       "ничего не загружено")
                            .arg(fields.value(1), name, fields.value(2));
    else if (fields.value(0) != QLatin1String("ok"))
        outcome.error = QStringLiteral("Таблица настроек «%1» не загружена: сервер не ответил "
                                       "о строках")
                            .arg(name);
    outcome.rows = fields.value(3).toInt();
    outcome.firstRow = fields.value(4).toInt();
    return outcome;
}

} // namespace

QString FleetImport::existsText(const QString &name)
{
    return QStringLiteral("Таблица настроек «%1» уже есть в базе: добавить строки — --append")
        .arg(name);
}

QString FleetImport::loadedText(const QString &name, int rows)
{
    return QStringLiteral("Загружено строк: %1 в таблицу «%2»").arg(rows).arg(name);
}

void FleetImport::run(FleetConnection *connection, QObject *context, const QString &name,
                      const ProvisionTable &table, bool append, Done done)
{
    const QList<PgLink::Statement> statements{{lockStatement, {}},
                                              {importSql,
                                               {name.toUtf8(), rowsJson(table), append ? "t" : "f",
                                                QFileInfo(table.fileName()).fileName().toUtf8()}}};
    FleetSchema::ensure(connection, context,
                        [connection, context, statements, name, done](const QString &error) {
                            if (!error.isEmpty()) {
                                done(Outcome{error, 0, 0});
                                return;
                            }
                            connection->run(statements, connection->timing().recordLimit, context,
                                            [name, done](const PgLink::Answer &answer) {
                                                done(outcomeOf(answer, name));
                                            });
                        });
}
