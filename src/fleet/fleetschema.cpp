#include "fleetschema.h"

#include "fleetconnection.h"

namespace {

// Any number that is this tool's alone: benches take it before upgrading.
constexpr const char *lockStatement = "SELECT pg_advisory_xact_lock(4650031)";

// Version 1: the journal's records as the benches send them, the provisioning
// tables kept on the server, and the views the floor is read through.
constexpr const char *versionOne = R"sql(
DO $$
BEGIN
IF (SELECT coalesce(max(version), 0) FROM lorta_schema) >= 1 THEN
    RETURN;
END IF;
CREATE TABLE lorta_record (
    id uuid PRIMARY KEY,
    seq bigserial UNIQUE,
    bench text NOT NULL,
    written_at timestamptz NOT NULL,
    day date NOT NULL,
    socket integer NOT NULL,
    port text NOT NULL,
    serial_number text NOT NULL,
    imei text NOT NULL,
    job text NOT NULL,
    result text NOT NULL,
    step text NOT NULL,
    text text NOT NULL,
    seconds double precision,
    version text NOT NULL,
    settings_file text NOT NULL,
    table_row integer,
    settings_hash text NOT NULL,
    file_hashes text NOT NULL,
    received_at timestamptz NOT NULL DEFAULT now()
);
CREATE INDEX lorta_record_imei ON lorta_record (imei) WHERE result = 'успех';
CREATE INDEX lorta_record_day ON lorta_record (day, bench);
CREATE INDEX lorta_record_row ON lorta_record (settings_file, table_row)
    WHERE result = 'успех' AND table_row IS NOT NULL;
CREATE TABLE lorta_table (
    name text PRIMARY KEY,
    created_at timestamptz NOT NULL DEFAULT now()
);
CREATE TABLE lorta_table_row (
    table_name text NOT NULL REFERENCES lorta_table (name),
    row_no integer NOT NULL,
    source_file text NOT NULL,
    source_line integer NOT NULL,
    imei text,
    cells jsonb NOT NULL,
    bound_imei text,
    bound_bench text,
    bound_at timestamptz,
    PRIMARY KEY (table_name, row_no)
);
CREATE UNIQUE INDEX lorta_table_row_imei ON lorta_table_row (table_name, imei)
    WHERE imei IS NOT NULL;
-- The free rows, in order: a reservation finds the first without walking past
-- the rows given already.
CREATE INDEX lorta_table_row_free ON lorta_table_row (table_name, row_no)
    WHERE bound_imei IS NULL AND imei IS NULL;
CREATE UNIQUE INDEX lorta_table_row_bound ON lorta_table_row (table_name, bound_imei)
    WHERE bound_imei IS NOT NULL;
CREATE VIEW lorta_yield AS
    SELECT day, bench, socket,
           count(*) FILTER (WHERE result = 'успех') AS success,
           count(*) FILTER (WHERE result NOT IN ('успех', 'уже прошит', 'гнездо отключено'))
               AS failed,
           count(*) FILTER (WHERE result = 'уже прошит') AS already_flashed
    FROM lorta_record GROUP BY day, bench, socket;
CREATE VIEW lorta_failures AS
    SELECT day, bench, result, step, count(*) AS records
    FROM lorta_record
    WHERE result NOT IN ('успех', 'уже прошит', 'гнездо отключено')
    GROUP BY day, bench, result, step;
-- A row is used once a bench's record says its modem was prepared with it:
-- the records are the truth, sent from each bench's journal.
CREATE VIEW lorta_row_used AS
    SELECT DISTINCT settings_file AS table_name, table_row AS row_no
    FROM lorta_record WHERE result = 'успех' AND table_row IS NOT NULL;
CREATE VIEW lorta_rows_left AS
    SELECT t.table_name, count(*) AS rows, count(u.row_no) AS used,
           count(*) FILTER (WHERE u.row_no IS NULL
                            AND (t.bound_imei IS NULL OR t.imei IS NOT NULL)) AS left_rows
    FROM lorta_table_row t LEFT JOIN lorta_row_used u USING (table_name, row_no)
    GROUP BY t.table_name;
CREATE VIEW lorta_prepared_twice AS
    SELECT imei, count(*) AS successes, count(DISTINCT bench) AS benches,
           string_agg(DISTINCT bench, ', ') AS bench_names,
           min(written_at) AS first_at, max(written_at) AS last_at
    FROM lorta_record
    WHERE result = 'успех' AND job = 'flash' AND imei <> ''
    GROUP BY imei HAVING count(*) > 1;
INSERT INTO lorta_schema (version) VALUES (1);
END
$$)sql";

} // namespace

QList<PgLink::Statement> FleetSchema::upgradeFrom(int from)
{
    QList<PgLink::Statement> statements{
        {lockStatement, {}},
        {"CREATE TABLE IF NOT EXISTS lorta_schema (version integer NOT NULL)", {}}};
    if (from < 1)
        statements << PgLink::Statement{versionOne, {}};
    return statements;
}

QString FleetSchema::newerText(int found)
{
    return QStringLiteral("Схема базы данных версии %1 новее, чем знает эта программа (версия "
                          "%2): обновите программу стенда. В базу ничего не записано")
        .arg(found)
        .arg(version);
}

void FleetSchema::ensure(FleetConnection *connection, QObject *context, Done done)
{
    // Read first: a bench's role may read the schema but not make it.
    const PgLink::Statement read{
        "SELECT CASE WHEN to_regclass('lorta_schema') IS NULL THEN 0 ELSE "
        "(xpath('/row/v/text()', query_to_xml('SELECT max(version) AS v FROM lorta_schema', "
        "false, true, '')))[1]::text::integer END",
        {}};
    connection->run(read, connection->timing().connectLimit, context,
                    [connection, context, done](const PgLink::Answer &answer) {
                        if (!answer.ok) {
                            done(answer.error);
                            return;
                        }
                        const int found = answer.rows.value(0).value(0).toInt();
                        if (found > version) {
                            done(newerText(found));
                            return;
                        }
                        if (found == version) {
                            done(QString());
                            return;
                        }
                        connection->run(upgradeFrom(found), connection->timing().recordLimit,
                                        context, [done](const PgLink::Answer &upgraded) {
                                            done(upgraded.ok
                                                     ? QString()
                                                     : QStringLiteral("Схема базы данных не "
                                                                      "создана: %1")
                                                           .arg(upgraded.error));
                                        });
                    });
}
