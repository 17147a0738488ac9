#include "cli/reportarguments.h"
#include "fleet/fleetconnection.h"
#include "fleet/fleetreport.h"
#include "fleet/fleetschema.h"
#include "throwawaypostgres.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString benchA = QStringLiteral("Стенд 1");
// Sorts before benchA by code point ("'" < "1"), whatever the server's collation.
const QString benchB = QStringLiteral("Стенд 'Б'; \"2\" \\");
const QString hostileText = QStringLiteral("'; DROP TABLE lorta_record; -- \\ \"x\"");
const QString hostileStep = QStringLiteral("AT+X;' --");

const QByteArray day8B =
    "{\"day\":\"2026-12-08\",\"bench\":\"Стенд 'Б'; \\\"2\\\" \\\\\",\"success\":0,\"failed\":1,"
    "\"sockets\":{\"1\":{\"success\":0,\"failed\":1}}}"
    "\n";
const QByteArray day8A =
    "{\"day\":\"2026-12-08\",\"bench\":\"Стенд 1\",\"success\":2,\"failed\":1,"
    "\"sockets\":{\"1\":{\"success\":1,\"failed\":1},\"2\":{\"success\":1,\"failed\":0}}}"
    "\n";
const QByteArray day9B =
    "{\"day\":\"2026-12-09\",\"bench\":\"Стенд 'Б'; \\\"2\\\" \\\\\",\"success\":1,\"failed\":0,"
    "\"sockets\":{\"3\":{\"success\":1,\"failed\":0}}}"
    "\n";
const QByteArray day9A =
    "{\"day\":\"2026-12-09\",\"bench\":\"Стенд 1\",\"success\":1,\"failed\":1,"
    "\"sockets\":{\"2\":{\"success\":0,\"failed\":1},\"10\":{\"success\":1,\"failed\":0}}}"
    "\n";

struct Record
{
    QString bench;
    const char *writtenAt;
    int socket;
    const char *imei;
    const char *result;
    QString step;
    int tableRow; // 0: none
};

const Record records[] = {
    {benchA, "2026-12-08 08:00:00+00", 1, "490154203237518", "успех", "", 1},
    {benchA, "2026-12-08 08:01:00+00", 1, "", "ошибка", hostileStep, 0},
    {benchA, "2026-12-08 08:02:00+00", 2, "356938035643809", "успех", "", 0},
    {benchA, "2026-12-08 08:03:00+00", 2, "", "уже прошит", "", 0},
    {benchB, "2026-12-08 09:00:00+00", 1, "", "не отвечает", "", 0},
    {benchA, "2026-12-09 08:00:00+00", 2, "", "ошибка", hostileStep, 0},
    {benchA, "2026-12-09 08:01:00+00", 10, "490154203237518", "успех", "", 0},
    {benchB, "2026-12-09 09:00:00+00", 3, "356938035643809", "успех", "", 0},
    {benchB, "2026-12-09 09:01:00+00", 3, "", "гнездо отключено", "", 0},
};

// A literal for the test's own SQL: the product binds its values instead.
QString literal(const QString &text)
{
    return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QStringLiteral("''")) +
           QLatin1Char('\'');
}

QString insertSql(const Record &r)
{
    const QString day = QString::fromLatin1(r.writtenAt).left(10);
    return QStringLiteral("INSERT INTO lorta_record (id, bench, written_at, day, socket, port, "
                          "serial_number, imei, job, result, step, text, seconds, version, "
                          "settings_file, table_row, settings_hash, file_hashes) VALUES "
                          "(gen_random_uuid(), %1, '%2', '%3', %4, 'COM3', 'FT1', '%5', 'flash', "
                          "'%6', %7, %8, 35.5, 'v1.08', %9, %10, '', 'main.pyo:ab');")
        .arg(literal(r.bench), QLatin1String(r.writtenAt), day)
        .arg(r.socket)
        .arg(QLatin1String(r.imei), QString::fromUtf8(r.result), literal(r.step),
             literal(hostileText), r.tableRow ? QStringLiteral("'book.csv'") : QStringLiteral("''"),
             r.tableRow ? QString::number(r.tableRow) : QStringLiteral("NULL"));
}

// The table "book.csv": row 1 used by the first record, row 2 reserved by a
// modem not yet prepared, row 3 free.
const char tableSql[] =
    "INSERT INTO lorta_table (name) VALUES ('book.csv');"
    "INSERT INTO lorta_table_row (table_name, row_no, source_file, source_line, cells, "
    "bound_imei) VALUES ('book.csv', 1, 'book.csv', 2, '{}', '490154203237518'),"
    "('book.csv', 2, 'book.csv', 3, '{}', '111111111111111'),"
    "('book.csv', 3, 'book.csv', 4, '{}', NULL);";

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QString err;
};

Run report(const QStringList &arguments)
{
    QBuffer out;
    QBuffer err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    Run run;
    run.exitCode = runReport(arguments, &out, &err);
    run.out = out.data();
    run.err = QString::fromUtf8(err.data());
    return run;
}

// The table's lines with their runs of spaces made one, to find a row's figures.
QStringList simplifiedLines(const QByteArray &out)
{
    QStringList lines;
    for (const QString &line : QString::fromUtf8(out).split(QLatin1Char('\n')))
        lines << line.simplified();
    return lines;
}

QString readFile(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The workbook's values, row by row, or an empty array without openpyxl.
const char readBack[] = R"(
import json, sys, openpyxl
ws = openpyxl.load_workbook(sys.argv[1]).worksheets[0]
print(json.dumps([[c.value if not hasattr(c.value, "isoformat") else c.value.isoformat()
                   for c in row] for row in ws.iter_rows()]))
)";

// The Python on the path may be a private one without openpyxl.
QJsonArray workbookRows(const QString &fileName)
{
    for (const QString &python : {QStringLiteral("python3"), QStringLiteral("/usr/bin/python3")}) {
        QProcess process;
        process.start(python, {QStringLiteral("-c"), QLatin1String(readBack), fileName});
        if (process.waitForFinished(60000) && process.exitCode() == 0)
            return QJsonDocument::fromJson(process.readAllStandardOutput()).array();
    }
    return QJsonArray();
}
} // namespace

class TestFleetReport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void jsonLines_data();
    void jsonLines();
    void tables();
    void workbook();
    void usageErrors_data();
    void usageErrors();
    void serverUnreachable();
    void newerSchemaRefused();
    void benchRole();

private:
    QStringList db() const { return {QStringLiteral("--db"), mPostgres.conninfo()}; }
    PgLink::Answer runAs(FleetConnection *connection, const QByteArray &sql);

    TestSupport::ThrowawayPostgres mPostgres;
    QTemporaryDir mDir;
};

void TestFleetReport::initTestCase()
{
    QString error;
    if (!mPostgres.start(&error))
        QSKIP(qPrintable(error));
    // The owner's first report makes the schema on an empty database.
    const Run empty = report(db() << QStringLiteral("--json"));
    QVERIFY2(empty.exitCode == 0, qPrintable(empty.err));
    QCOMPARE(empty.out, QByteArray());
    QString sql = QString::fromLatin1(tableSql);
    for (const Record &r : records)
        sql += insertSql(r);
    mPostgres.exec(sql, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestFleetReport::jsonLines_data()
{
    QTest::addColumn<QStringList>("filter");
    QTest::addColumn<QByteArray>("lines");
    QTest::newRow("all") << QStringList() << day8B + day8A + day9B + day9A;
    QTest::newRow("from, inclusive") << QStringList{"--from", "2026-12-09"} << day9B + day9A;
    QTest::newRow("to, inclusive") << QStringList{"--to", "2026-12-08"} << day8B + day8A;
    QTest::newRow("one day") << QStringList{"--from", "2026-12-08", "--to", "2026-12-08"}
                             << day8B + day8A;
    QTest::newRow("hostile bench") << QStringList{"--bench", benchB} << day8B + day9B;
    QTest::newRow("bench and day")
        << QStringList{"--bench", benchA, "--from", "2026-12-09"} << day9A;
    QTest::newRow("no such bench") << QStringList{"--bench", "Стенд 1' OR '1'='1"} << QByteArray();
    QTest::newRow("no such days") << QStringList{"--from", "2027-01-01"} << QByteArray();
}

void TestFleetReport::jsonLines()
{
    QFETCH(QStringList, filter);
    QFETCH(QByteArray, lines);
    const Run run = report(db() << QStringLiteral("--json") << filter);
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(run.out, lines);
    QCOMPARE(run.err, QString());
}

void TestFleetReport::tables()
{
    const QStringList all = simplifiedLines(report(db()).out);
    const QStringList rows{"2026-12-08 " + benchB + " 0 1 0 1: 0/1",
                           "2026-12-08 Стенд 1 2 1 1 1: 1/1 2: 1/0",
                           "2026-12-09 Стенд 1 1 1 0 2: 0/1 10: 1/0",
                           "2 ошибка " + hostileStep,
                           "1 не отвечает",
                           "book.csv 3 1 1"};
    for (const QString &row : rows)
        QVERIFY2(all.contains(row), qPrintable(row + "\n" + all.join('\n')));
    const auto twice = [&all](const QString &start) {
        return std::find_if(all.begin(), all.end(),
                            [&start](const QString &l) { return l.startsWith(start); });
    };
    QVERIFY(twice(QStringLiteral("490154203237518 2 1 ")) != all.end());
    const auto acrossBenches = twice(QStringLiteral("356938035643809 2 2 "));
    QVERIFY(acrossBenches != all.end());
    QVERIFY(acrossBenches->contains(benchA) && acrossBenches->contains(benchB));

    // The range narrows yield and failures; the tables' rows and the modems
    // prepared twice are the floor's whole.
    const QStringList later = simplifiedLines(
        report(db() << QStringLiteral("--from") << QStringLiteral("2026-12-09")).out);
    QVERIFY(later.contains("1 ошибка " + hostileStep));
    QVERIFY(!later.contains(QStringLiteral("1 не отвечает")));
    QVERIFY(std::none_of(later.begin(), later.end(), [](const QString &l) {
        return l.startsWith(QStringLiteral("2026-12-08"));
    }));
    QVERIFY(later.contains(QStringLiteral("book.csv 3 1 1")));
}

void TestFleetReport::workbook()
{
    const QString xlsx = mDir.filePath(QStringLiteral("floor.xlsx"));
    const Run run = report(db() << QStringLiteral("--from") << QStringLiteral("2026-12-09")
                                << QStringLiteral("--xlsx") << xlsx);
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QVERIFY2(run.out.contains(QStringLiteral("Выгружено записей: 4 в файл").toUtf8()), run.out);
    // With --json the summary stays out of the JSON lines.
    const Run json =
        report(db() << QStringLiteral("--json") << QStringLiteral("--to")
                    << QStringLiteral("2026-12-08") << QStringLiteral("--xlsx") << xlsx);
    QCOMPARE(json.out, day8B + day8A);
    QVERIFY2(json.err.startsWith(QStringLiteral("Выгружено записей: 5 в файл")),
             qPrintable(json.err));

    const QJsonArray rows = workbookRows(xlsx);
    if (rows.isEmpty())
        QSKIP("python3 with openpyxl is not installed: the cells are not read back");
    QCOMPARE(rows.size(), 6);
    const QJsonArray first = rows.at(1).toArray();
    const QDateTime local = QDateTime(QDate(2026, 12, 8), QTime(8, 0), Qt::UTC).toLocalTime();
    QCOMPARE(first.at(0).toString(), local.toString(QStringLiteral("yyyy-MM-ddThh:mm:ss")));
    QCOMPARE(first.at(1).toString(), benchA);
    QCOMPARE(first.at(2).toInt(), 1);
    QCOMPARE(first.at(5).toString(), QStringLiteral("490154203237518"));
    QCOMPARE(first.at(9).toString(), hostileText);
    QCOMPARE(first.at(10).toDouble(), 35.5);
    QCOMPARE(first.at(12).toString(), QStringLiteral("book.csv"));
    QCOMPARE(first.at(13).toInt(), 1);
    QCOMPARE(rows.at(2).toArray().at(8).toString(), hostileStep);
    QCOMPARE(rows.at(5).toArray().at(1).toString(), benchB);
}

void TestFleetReport::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("reason");
    const QString conninfo = mPostgres.conninfo();
    QTest::newRow("a day without its zero")
        << QStringList{"--db", conninfo, "--from", "2026-12-9"} << "нужна дата в виде ГГГГ-ММ-ДД";
    QTest::newRow("a day as Russians write it")
        << QStringList{"--db", conninfo, "--to", "09.12.2026"} << "нужна дата в виде ГГГГ-ММ-ДД";
    QTest::newRow("no such day") << QStringList{"--db", conninfo, "--to", "2026-02-30"}
                                 << "нужна дата в виде ГГГГ-ММ-ДД";
    QTest::newRow("--from after --to")
        << QStringList{"--db", conninfo, "--from", "2026-12-09", "--to", "2026-12-08"}
        << "--from позже --to";
    QTest::newRow("--json without --db")
        << QStringList{"j.csv", "--xlsx", "x.xlsx", "--json"} << "--json только вместе с --db";
    QTest::newRow("--bench without --db")
        << QStringList{"j.csv", "--xlsx", "x.xlsx", "--bench", "A"}
        << "--bench только вместе с --db";
    QTest::newRow("a journal with --db")
        << QStringList{"--db", conninfo, "j.csv"} << "журналы не указывают: j.csv";
    QTest::newRow("a password") << QStringList{"--db", conninfo + " password=secret"}
                                << "Пароль в строке подключения к базе не указывают";
    QTest::newRow("no conninfo") << QStringList{"--db"} << "нет значения у параметра --db";
}

void TestFleetReport::usageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, reason);
    const Run run = report(arguments);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(reason), qPrintable(run.err));
    QVERIFY2(run.err.contains(QStringLiteral("report --db CONNINFO")), qPrintable(run.err));
    QCOMPARE(run.out, QByteArray());
}

void TestFleetReport::serverUnreachable()
{
    const Run run = report({QStringLiteral("--db"),
                            QStringLiteral("host=127.0.0.1 port=1 dbname=lorta user=lorta"),
                            QStringLiteral("--json")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.startsWith(QStringLiteral(
                 "lorta-flash-cli: База недоступна: сервер не принимает соединения")),
             qPrintable(run.err));
    QCOMPARE(run.out, QByteArray());
}

void TestFleetReport::newerSchemaRefused()
{
    QString error;
    mPostgres.exec(QStringLiteral("INSERT INTO lorta_schema (version) VALUES (99)"), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const Run run = report(db() << QStringLiteral("--json"));
    mPostgres.exec(QStringLiteral("DELETE FROM lorta_schema WHERE version = 99"), &error);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err, "lorta-flash-cli: " + FleetSchema::newerText(99) + '\n');
    QCOMPARE(run.out, QByteArray());
}

PgLink::Answer TestFleetReport::runAs(FleetConnection *connection, const QByteArray &sql)
{
    PgLink::Answer answer;
    bool done = false;
    connection->run(PgLink::Statement{sql, {}}, std::chrono::seconds(10), this,
                    [&](const PgLink::Answer &given) {
                        answer = given;
                        done = true;
                    });
    if (!QTest::qWaitFor([&done] { return done; }, 20000))
        answer.error = QStringLiteral("no answer");
    return answer;
}

// The README's role, as the README gives it, may record and reserve but not rewrite.
void TestFleetReport::benchRole()
{
    const QString sql = readFile(QStringLiteral(LORTA_SOURCE_DIR "/docs/bench-role.sql"));
    QVERIFY(!sql.isEmpty());
    QVERIFY2(readFile(QStringLiteral(LORTA_SOURCE_DIR "/README.md")).contains(sql),
             "the README's copy of docs/bench-role.sql differs from it");
    QString error;
    mPostgres.exec(sql, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    FleetConnection bench(mPostgres.conninfo(QStringLiteral("lorta_bench")), FleetTiming());
    FleetReport asBench(&bench);
    QCOMPARE(asBench.prepare(), QString()); // it reads the version, makes nothing
    const QByteArray insert = insertSql(records[0]).toUtf8();
    QVERIFY2(runAs(&bench, insert).ok, qPrintable(runAs(&bench, insert).error));
    QVERIFY(runAs(&bench, "UPDATE lorta_table_row SET bound_imei = '222222222222222', "
                          "bound_bench = 'B', bound_at = now() WHERE row_no = 3")
                .ok);
    for (const QByteArray &refused :
         {QByteArray("UPDATE lorta_record SET result = 'успех'"),
          QByteArray("DELETE FROM lorta_record"),
          QByteArray("UPDATE lorta_table_row SET cells = '{}'"),
          QByteArray("DELETE FROM lorta_schema"), QByteArray("CREATE TABLE lorta_other (x int)")}) {
        const PgLink::Answer answer = runAs(&bench, refused);
        QVERIFY2(!answer.ok && answer.sqlState == "42501", refused + ": " + answer.error.toUtf8());
    }
}

QTEST_GUILESS_MAIN(TestFleetReport)
#include "tst_fleetreport.moc"
